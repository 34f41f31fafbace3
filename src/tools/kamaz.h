// The vehicle-check page: starts and stops an inventory of the 900 MHz reader and holds
// a panel of five captioned fields (date, time, company, vehicle, registration plate).
// Its state is KamazModel's; the page shows it.
#pragma once

#include "kit/shell.h"
#include "tools/kamaz_model.h"

#include <QPlainTextEdit>
#include <QWidget>

#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;

namespace rd {

class FormTimer;

// A free-text box without scroll bars whose double-click runs a handler of the page
// (it does not clear the text, unlike the list boxes).
class FreeTextMemo : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit FreeTextMemo(const QString& objectName, QWidget* parent = nullptr);

    // Runs inside the window's error handling.
    void onDoubleClick(std::function<void()> handler) { dblClick_ = std::move(handler); }
    // Simulates the user's double-click (tests, accessibility).
    void doubleClick();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* e) override;

  private:
    std::function<void()> dblClick_;
};

class KamazPage : public QWidget {
    Q_OBJECT
  public:
    explicit KamazPage(Shell& shell, QWidget* parent = nullptr);

    void BitBtnKAMAZ_START_INVClick();
    void BitBtnKAMAZ_STOP_INVClick();
    void MemoKAMAZDblClick();
    void TimerKAMAZTimer();

    // The run state and the countdown of TimerKAMAZ.
    const KamazModel& model() const { return model_; }

    // What the window tells the page.
    // The start state: the notes empty.
    void resetForStart();
    // A 900 MHz reader answered: START is ready.
    void readerFound();
    // The connection ended: START off, unless a check runs (STOP ends it).
    void readerGone();

  private:
    // Buttons and timer as the model's run state says.
    void showRunState();

    Shell& shell_;
    KamazModel model_;
    QPushButton* start_;
    QPushButton* stop_;
    QLabel* date_;
    QLabel* time_;
    QLabel* rota_;
    QLabel* avto_;
    QLabel* regSign_;
    FreeTextMemo* memo_;
    FormTimer* timer_;
};

} // namespace rd

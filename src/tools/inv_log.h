// The inventory log page: keeps every tag answer, the distinct tag answers and one
// information line per tag answer while the log switch on the 900 MHz page is ticked,
// and saves the three lists as text files. What goes into the lists is InvLogModel's.
#pragma once

#include "kit/shell.h"
#include "tools/inv_log_model.h"

#include <QWidget>

#include <cstdint>

class QCheckBox;
class QLabel;
class QPushButton;

namespace rd {

class TMemo;

class InvLogPage : public QWidget {
    Q_OBJECT
  public:
    explicit InvLogPage(Shell& shell, QWidget* parent = nullptr);

    // Answer handler, called by the answer routing with every answer text.
    void InvLogAnswer(const QString& answer);

    void BitBtnLOG_INV_STARTClick();
    void BitBtnLOG_INV_STOPClick();
    void BitBtnLOG_SaveFillesClick();
    // The log switch CheckBoxINV_LOG_ON (900 MHz page) changed its state.
    void CheckBoxINV_LOG_ONClick();

    // The counts (user-interface thread only).
    const InvLogModel& model() const { return model_; }

    // What the window tells the page.
    // The log's switch, which stands on the 900 MHz page; handed over once every page exists.
    void attachLogSwitch(QCheckBox* logSwitch);
    // The start state: the three lists empty.
    void resetForStart();

  private:
    // Empties the distinct list and the model's memory of it.
    void clearDistinct();

    Shell& shell_;
    InvLogModel model_;
    QPushButton* invStart_;
    QPushButton* invStop_;
    QPushButton* save_;
    TMemo* all_;
    TMemo* str_;
    TMemo* filtr_;
    QLabel* capacity_;
    QCheckBox* logOn_ = nullptr;
};

} // namespace rd

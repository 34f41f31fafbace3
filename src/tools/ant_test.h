// The antenna test page: runs an inventory, counts the cycles and the distinct tags the
// reader reports, and stops the inventory once the set number of cycles has been seen.
// Its answer handler also copies every answer to the UTIL console's receive box. The
// counting and the decisions are AntTestModel's; the page shows them.
#pragma once

#include "kit/shell.h"
#include "tools/ant_test_model.h"

#include <QWidget>

#include <cstdint>

class QComboBox;
class QLabel;
class QPushButton;

namespace rd {

class TMemo;

class AntTestPage : public QWidget {
    Q_OBJECT
  public:
    explicit AntTestPage(Shell& shell, QWidget* parent = nullptr);

    // Answer handler, called by the answer routing with every answer text.
    void AntTestAnswer(const QString& answer);

    void BitBtn_ANT_TEST_STARTClick();
    void BitBtn_ANT_TEST_STOPClick();

    // The counts and the state that outlives one test (user-interface thread only).
    const AntTestModel& model() const { return model_; }

    // What the window tells the page.
    // The start state: empty lists and counts, START and STOP off.
    void resetForStart();
    // A 900 MHz reader answered on portName: its message is shown, START is ready and the
    // COM button shows the port and stays off.
    void readerFound(const QString& message, const QString& portName);
    // The 900 MHz reader's connection was lost (START off until it comes back) or came back
    // (START ready).
    void readerLost();
    void readerBack();
    // The connection ended (CLOSE, a new search): START off, the COM button as at the start.
    void readerGone();
    // The window's stop of an inventory run has ended (confirmed, given up or failed):
    // START is ready again while a 900 MHz reader is connected.
    void runStopEnded();
    // The clock of the page.
    void showTime(const QString& time);

  signals:
    // The COM button was clicked: the window looks for a reader.
    void findReaderClicked();
    // The clock was double-clicked.
    void clockDoubleClicked();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Empties the tag list and the model's memory of it.
    void clearTags();

    Shell& shell_;
    AntTestModel model_;
    QPushButton* start_;
    QPushButton* stop_;
    QComboBox* stopInv_;
    QLabel* invCount_;
    QLabel* tagCount_;
    TMemo* tags_;
    TMemo* info_;
    QPushButton* devFound_;
    QLabel* time_;
    bool readerThere_ = false; // a 900 MHz reader is connected
};

} // namespace rd

// The sensor-tag monitor page: collects three fixed sensor tags by hand or periodically,
// reads their user ID records, decodes temperature, humidity and frequency readings,
// and saves the third tag's data lines as a text file. The decoding, the counting and the
// decisions are SawMonitorModel's; the page shows them.
#pragma once

#include "kit/shell.h"
#include "tools/saw_monitor_model.h"

#include <QWidget>

#include <cstdint>

class QComboBox;
class QLabel;
class QPushButton;

namespace rd {

class FormTimer;
class SawTrends;
class TMemo;

class SawMonitorPage : public QWidget {
    Q_OBJECT
  public:
    explicit SawMonitorPage(Shell& shell, QWidget* parent = nullptr);

    // Answer handler, called by the answer routing with every answer text.
    void SawAnswer(const QString& answer);

    void BitBtnZEZ2011_COLLECTIONClick();
    void BitBtnZEZ2011_SENDClick();
    void BitBtnTimerZEZ2011Click();
    void BitBtnZEZ2011_FileClick();
    void BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF0Click();
    void BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF1Click();
    void BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF2Click();
    void TimerZEZ2011Timer();
    void MemoZEZ2011_InfoDblClick();

    // The preset commands of ComboBoxZEZ2011_SEND, in order (empty items separate groups).
    static const QStringList& Presets();

    // The periodic collection's count, the reads after a collection and the readings.
    const SawMonitorModel& model() const { return model_; }

    // What the window tells the page.
    // The start state: messages, data lines, readings and the timer's count empty.
    void resetForStart();
    // A search for the reader has begun: "wait.." in the messages.
    void readerSearchStarted();
    // A sensor-tag reader answered: its message replaces the messages, COM turns green.
    void readerFound(const QString& message);
    // No reader answered: the message replaces the messages, COM turns red.
    void readerNotFound(const QString& message);
    // The connection ended: the COM button in its start colour.
    void readerGone();
    // Every answer the window receives, shown raw ("RXD:" and the answer).
    void showReceived(const QString& answer);

  signals:
    // The COM button was clicked: the window looks for a reader.
    void findReaderClicked();

  private:
    void sendRead(int tag);
    void blackenReadButtons();
    QString collectionCommand();

    Shell& shell_;
    SawMonitorModel model_;
    QPushButton* com_;
    QPushButton* collection_;
    QPushButton* timerButton_;
    QComboBox* period_;
    QLabel* timerCount_;
    SawTrends* trends_; // the chart, the CSV file and the reads after a collection
    QPushButton* read_[3];
    QLabel* tagLabel_[3];
    TMemo* info_;
    QPushButton* send_;
    QComboBox* sendText_;
    TMemo* rxd_;
    TMemo* data_;
    QPushButton* file_;
    FormTimer* timer_;
};

} // namespace rd

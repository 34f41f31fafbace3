// The SWEEP page: an attenuation sweep of the reader's output. For each value of the steps
// box the reader is set to it ("SET_ATT_OUT <value>", as the 900 MHz page sends it) and runs
// an inventory with the 900 MHz page's start parameters for the cycles of the cycles box;
// the inventory is stopped as the antenna test stops it, and the next value follows once
// the stop is confirmed. STOP ends the sweep at once. The results: a table with one row per
// EPC and one column per step (its reads there) and the EPC's margin (the highest
// attenuation at which it was still read), a chart of the tags seen and the reads per step,
// both saved as CSV and PNG. The steps and counts are SweepModel's; the page shows them.
#pragma once

#include "kit/shell.h"
#include "tools/sweep_model.h"

#include <QTimer>
#include <QWidget>

#include <functional>

class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QTableWidget;
class QValueAxis;

namespace rd {

class SweepPage : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 100; // the table and chart are redrawn at most this often

    explicit SweepPage(Shell& shell, QWidget* parent = nullptr);

    // Answer handler, called by the answer routing with every answer text.
    void SweepAnswer(const QString& answer);

    void BitBtnSWEEP_STARTClick();
    void BitBtnSWEEP_STOPClick();
    void BitBtnSWEEP_CSVClick();
    void BitBtnSWEEP_PNGClick();

    // What the window tells the page: whether a reader is connected (START needs one), the
    // end of a stop of an inventory run (confirmed or not), the end or loss of the connection.
    void setConnectedCheck(std::function<bool()> connected) { connected_ = std::move(connected); }
    void runStopEnded(bool confirmed);
    void connectionEnded();

    const SweepModel& model() const { return model_; }
    QTableWidget* table() const { return table_; }
    QChartView* chart() const { return chartView_; }

  signals:
    // The sweep's state text changed ("sweep: step 4 of 11, 10 dB", ...).
    void stateChanged(const QString& text);

  private:
    void perform(const SweepModel::Outcome& out);
    void showState();
    void refresh();

    Shell& shell_;
    SweepModel model_;
    std::function<bool()> connected_;
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* csv_;
    QPushButton* png_;
    QComboBox* steps_;
    QComboBox* cycles_;
    QLabel* inventory_;
    QLabel* state_;
    QTableWidget* table_;
    QChartView* chartView_;
    QLineSeries* tagsSeries_;
    QLineSeries* readsSeries_;
    QValueAxis* dbAxis_;
    QValueAxis* tagsAxis_;
    QValueAxis* readsAxis_;
    QTimer refreshTimer_;
};

} // namespace rd

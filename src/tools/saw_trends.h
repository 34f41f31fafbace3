// Sensor trends of the ZEZ2011 page: a chart of the decoded readings of the three sensor
// tags over time, the readings saved as a CSV file, and the switch and the timer of the
// reading of the three tags after each collection. The readings and the reads' sequence
// are the SawMonitorModel's; this shows them and runs the timer as the model says.
//
// The chart's series are made from the model's readings (at most kKeptReadings points),
// anew at most every kChartUpdateMs, however fast answers come.
#pragma once

#include "tools/saw_monitor_model.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QChartView;
class QCheckBox;
class QDateTimeAxis;
class QLineSeries;
class QPushButton;
class QValueAxis;
class QWidget;

namespace rd {

class FormTimer;

class SawTrends : public QObject {
    Q_OBJECT
  public:
    static constexpr int kKeptReadings = SawMonitorModel::kKeptReadings;
    static constexpr int kReadGapMs = SawMonitorModel::kReadGapMs;
    static constexpr int kReadTimeoutMs = SawMonitorModel::kReadTimeoutMs;
    static constexpr int kChartUpdateMs = 100; // the chart is redrawn at most 10 times a second

    // sendRead sends the read command of tag 0, 1 or 2 as its button does.
    SawTrends(QWidget* page, SawMonitorModel& model, std::function<void(int tag)> sendRead);

    QChartView* chartView() const { return view_; }
    QCheckBox* readAfterBox() const { return readAfter_; }
    QPushButton* csvButton() const { return csv_; }

    // From the page's answer handler: what an answer did to the readings and the reads.
    void show(const SawMonitorModel::Outcome& out);

    void BitBtnZEZ2011_CSVClick();
    void TimerZEZ2011_READ_AFTERTimer();

    const std::deque<SawReading>& readings() const { return model_.readings(); }

  private:
    void runTimer(const SawMonitorModel::ReadTimer& t);
    void updateChart();

    SawMonitorModel& model_;
    std::function<void(int)> sendRead_;
    QWidget* page_;
    QChartView* view_;
    QLineSeries* series_[7]; // T, H of tags 0, 1, 2, then df of tag 2
    QDateTimeAxis* timeAxis_;
    QValueAxis* valueAxis_;
    QValueAxis* dfAxis_;
    QCheckBox* readAfter_;
    QPushButton* csv_;
    FormTimer* readTimer_;
    QTimer chartTimer_;
};

} // namespace rd

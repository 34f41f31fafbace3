// Sensor trends of the ZEZ2011 page: a chart of the decoded readings of the three sensor
// tags over time, the readings kept for a CSV file, and the optional reading of the three
// tags after each collection.
//
// Memory stays bounded over long runs: the last kKeptReadings readings are kept, all tags
// together (with the three read in turn, the last 10,000 of each), 32 bytes each, and the
// chart's series are made from them, so no series holds more points than that. The chart
// is made anew from the readings at most every kChartUpdateMs, however fast answers come.
//
// Reading after a collection: the three read commands go out one after the other, each
// kReadGapMs after the previous one's answer ("UID" or "NO_ACK"), so that the reader, which
// has one radio and one answer at a time, is never asked twice at once. An answer that
// does not come within kReadTimeoutMs is given up and the next tag is read. Three reads at
// most per collection; a collection that ends while the reads of the previous one are
// still going adds none.
#pragma once

#include "tools/tool_text.h"

#include <QObject>
#include <QTimer>

#include <deque>
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

// One decoded reading of a sensor tag.
struct SawReading {
    qint64 msecs = 0; // local date and time, milliseconds since the epoch
    int tag = 0;      // 0, 1 or 2
    int t = 0;
    int h = 0;
    int cf = 0; // the frequency readings: third tag only
    int mf = 0;
    int df = 0;
};

// The CSV file's lines: a header, then one line per reading with its ISO 8601 local date
// and time (milliseconds), the tag's identifier, T and H, and for the third tag cf, mf, df.
QStringList SawCsvLines(const std::deque<SawReading>& readings);

class SawTrends : public QObject {
    Q_OBJECT
  public:
    static constexpr int kKeptReadings = 30000;
    static constexpr int kReadGapMs = 50;
    static constexpr int kReadTimeoutMs = 3000;
    static constexpr int kChartUpdateMs = 100; // the chart is redrawn at most 10 times a second

    // sendRead sends the read command of tag 0, 1 or 2 as its button does.
    SawTrends(QWidget* page, std::function<void(int tag)> sendRead);

    QChartView* chartView() const { return view_; }
    QCheckBox* readAfterBox() const { return readAfter_; }
    QPushButton* csvButton() const { return csv_; }

    // From the page's answer handler: a complete record of one of the three tags; the end
    // of a collection; any "UID" or "NO_ACK" answer.
    void addReading(const SawRecord& r);
    void collectionStopped();
    void readAnswered();

    void BitBtnZEZ2011_CSVClick();
    void TimerZEZ2011_READ_AFTERTimer();

    const std::deque<SawReading>& readings() const { return readings_; }

  private:
    void stopReads();
    void restartTimer(int ms);
    void updateChart();

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
    std::deque<SawReading> readings_;
    int readStep_ = -1; // the tag read next or awaited; -1: no reads going on
    bool awaitingAnswer_ = false;
};

} // namespace rd

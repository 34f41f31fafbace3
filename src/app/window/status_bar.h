// The status bar at the foot of the main window, on every page. Left to right: the
// connection ("COM3 · VKR900-15 · 115200 8N2", "Not connected — press COM", a scan under way,
// a lost connection in red), the inventory run state as the pages' indicators show it, the
// reads a second and the distinct EPCs during a run, the traffic log's file name while
// one is written, the recorded session loaded into the window, and the attenuation sweep's state once
// one has begun. Each part gives assistive technology its text as its accessible description, updated
// with the text.
#pragma once

#include <QColor>
#include <QHash>
#include <QStatusBar>
#include <QString>

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

class QLabel;

namespace rd {

// The connection part's texts.
namespace link_status {
// "COM3 · VKR900-15 · 115200 8N2", "tcp://HOST:PORT · VKR900-15"; an empty identifier: the
// connection was opened without identification.
QString connected(const std::string& port, const std::string& identifier);
QString lost(const std::string& port);
QString scanning(const std::string& port);
QString notConnected();
QString nothingFound();
} // namespace link_status

// The reads of an inventory run: how many came in the last second, and how many distinct
// EPCs the run has read. Each read costs the same however long the run.
class RunTally {
  public:
    // A new run: no reads, no EPCs.
    void start();
    // One answer at nowMs (a monotonic clock); an inventory answer (":N INV ant pc EPC rssi;")
    // counts as a read of its EPC, any other answer is left out.
    void answer(std::string_view bytes, int64_t nowMs);
    int readsLastSecond(int64_t nowMs);
    int distinct() const { return int(epcs_.size()); }

  private:
    std::deque<int64_t> reads_; // the times of the reads of the last second, oldest first
    QHash<QByteArray, char> epcs_;
};

class WindowStatusBar : public QStatusBar {
    Q_OBJECT
  public:
    explicit WindowStatusBar(QWidget* parent = nullptr);

    void showLink(const QString& text, bool lost);
    void showRunState(const QString& text, const QColor& color);
    // Reads a second and distinct EPCs; hidden again by hideRate.
    void showRate(int readsPerSecond, int distinct);
    void hideRate();
    // The traffic log's file (the name shown, the whole path as hint); "" hides the part.
    void showLog(const QString& path);
    // "replay of FILE": the recorded session loaded (the whole path as hint); "" hides the part.
    void showReplay(const QString& path);
    // The attenuation sweep's state and progress ("sweep: step 4 of 11, 10 dB"); "" hides it.
    void showSweep(const QString& text);

    QLabel* link() const { return link_; }
    QLabel* run() const { return run_; }
    QLabel* rate() const { return rate_; }
    QLabel* log() const { return log_; }
    QLabel* replay() const { return replay_; }
    QLabel* sweep() const { return sweep_; }

  private:
    QLabel* link_;
    QLabel* run_;
    QLabel* rate_;
    QLabel* log_;
    QLabel* replay_;
    QLabel* sweep_;
};

} // namespace rd

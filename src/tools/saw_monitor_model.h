// The sensor-tag monitor without widgets: the answers of the sensor-tag reader in, the
// messages, label texts, data lines and readings out; the periodic collection's count;
// the reads of the three tags after a collection, one at a time.
//
// Answers: "collection_start.." empties the messages and takes the collection button away
// until "collection_stop" gives it back; a "UID" answer's record (word 3) is decoded into
// a message, the tag's label and, for the third tag, a data line, and a complete record
// is kept as a reading; "UID" and "NO_ACK" answer the read a button or the reads after a
// collection sent.
//
// Memory stays bounded over long runs: the last kKeptReadings readings are kept, all tags
// together (with the three read in turn, the last 10,000 of each), 32 bytes each.
//
// Reading after a collection: the three read commands go out one after the other, each
// kReadGapMs after the previous one's answer ("UID" or "NO_ACK"), so that the reader, which
// has one radio and one answer at a time, is never asked twice at once. An answer that
// does not come within kReadTimeoutMs is given up and the next tag is read. Three reads at
// most per collection; a collection that ends while the reads of the previous one are
// still going adds none. The page's read timer does as the model's ReadTimer says.
#pragma once

#include "tools/tool_text.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace rd {

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

class SawMonitorModel {
  public:
    // The local date and time (the data lines' time of day, the readings' time).
    using Clock = std::function<QDateTime()>;

    static constexpr int kKeptReadings = 30000;
    static constexpr int kReadGapMs = 50;
    static constexpr int kReadTimeoutMs = 3000;

    // What the read timer is to do: go on as it is, stop, or start over with an interval.
    struct ReadTimer {
        enum Kind { Keep, Stop, Restart } kind = Keep;
        int intervalMs = 0; // Restart: kReadGapMs or kReadTimeoutMs

        bool operator==(const ReadTimer&) const = default;
    };

    // What one answer asks of the page.
    struct Outcome {
        bool clearInfo = false;                // empty the messages, then
        QStringList info;                      // append these lines
        std::optional<bool> collectionEnabled; // the collection button on or off
        int labelTag = -1;                     // the label of this tag (0..2) shows label
        QString label;
        QString dataLine;          // non-empty: a line for the data list
        bool readingAdded = false; // readings() has a new last reading
        bool readAnswered = false; // the read buttons turn back to black
        ReadTimer readTimer;
    };

    // The clock defaults to the window's clock (Now()).
    explicit SawMonitorModel(Clock clock = {});

    Outcome answer(const QString& answer);

    // The reads after a collection. Switched off, a round ends at once.
    ReadTimer setReadAfter(bool on);
    bool readAfter() const { return readAfter_; }
    // The read timer's tick: the tag to read now (-1: none) and what the timer is to do.
    // The read counts as sent before it is: a failing send leaves the next tick to go on
    // as after a lost answer.
    struct ReadTick {
        int tag = -1;
        ReadTimer timer;
    };
    ReadTick readTimerFired();
    // The tag read next or awaited; -1: no reads going on.
    int readStep() const { return readStep_; }
    bool awaitingAnswer() const { return awaitingAnswer_; }

    // The periodic collection, in ticks of one second. Start: the messages to append.
    QStringList startPeriodic(int32_t period);
    // Stop: the message to append.
    QString stopPeriodic();
    bool periodicOn() const { return periodicOn_; }
    struct PeriodicTick {
        bool collect = false; // send the collection command, and append message
        QString message;
        QString countText;     // the ticks to the next collection
        bool blinkRed = false; // the timer button's colour: red, or black
    };
    PeriodicTick periodicTick();
    int32_t period() const { return period_; }
    int32_t ticks() const { return ticks_; } // since the last periodic collection

    const std::deque<SawReading>& readings() const { return readings_; }

  private:
    void addReading(const SawRecord& r, const QDateTime& now);
    ReadTimer collectionStopped();
    ReadTimer readAnswered();
    ReadTimer stopReads();

    Clock clock_;
    std::deque<SawReading> readings_;
    bool readAfter_ = false;
    int readStep_ = -1;
    bool awaitingAnswer_ = false;
    bool periodicOn_ = false;
    int32_t period_ = 0;
    int32_t ticks_ = 0;
    bool blinkRed_ = false;
};

} // namespace rd

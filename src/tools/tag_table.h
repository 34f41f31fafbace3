// The tag table of the TAGS page without any widget: the tag answers of every inventory
// go in, one row per EPC and the figures come out: those of the current inventory run
// (from its start; kept after its end until the next start) and the totals since the
// table was last emptied (CLEAR).
//
// A row per distinct word 5 of the "INV" answers (the EPC, as the inventory log takes it);
// word 3 is the antenna and word 6 the signal strength of a read. "START_INVENTORY"
// answers count the cycles. Every other answer, and an "INV" answer without a word 5, is
// left out. Each answer costs the same however many tags are listed: a hash finds the row,
// and the rate keeps at most one entry per millisecond of the last second.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

namespace rd {

struct TagRow {
    QString epc;
    QString antenna; // of the latest read
    int64_t reads = 0;
    bool hasSignal = false; // the latest read's word 6 is a number
    double signal = 0;
    bool hasRange = false; // some read had a number as word 6
    double min = 0;
    double max = 0;
    int64_t firstMs = 0; // clock readings, milliseconds since the epoch
    int64_t lastMs = 0;
    int run = 0; // the run of the latest read (TagTable's count of starts)
};

class TagTable {
  public:
    // Milliseconds since the epoch (the reading times and the rate's "now").
    using Clock = std::function<int64_t()>;

    enum Column { kEpc, kAntenna, kReads, kSignal, kMin, kMax, kFirstSeen, kLastSeen, kColumnCount };
    static const QStringList& Headers();

    explicit TagTable(Clock clock);

    // Takes one answer text; true when it changed a row or a figure.
    bool answer(const QString& answer);
    // The same for an answer that arrived at atMs (a recorded one), not at the clock's now.
    bool answerAt(const QString& answer, int64_t atMs);
    // Empties the rows and the figures. A run under way counts on from here.
    void clear();
    // An inventory run started: the run's figures start from zero and its time from now.
    // Its end: the run's figures stay as they are until the next start.
    void startRun();
    void endRun();

    int rowCount() const { return int(rows_.size()); }
    const TagRow& row(int i) const { return rows_[std::size_t(i)]; }
    int rowOf(const QString& epc) const { return index_.value(epc, -1); }

    // A cell as the table shows it: numbers as read, times of day with milliseconds.
    QString text(int row, int column) const;
    // The order of two rows by a column (-1, 0 or 1 for less, equal, greater): numbers by
    // value, a cell without a number before every number, texts by their characters.
    int compare(int rowA, int rowB, int column) const;

    // The figures since CLEAR.
    int tags() const { return rowCount(); }
    int64_t reads() const { return reads_; }
    int64_t cycles() const { return cycles_; }
    // The figures of the current run (or of the last one, until the next start): distinct
    // tags, reads, cycles. Before any start since CLEAR, the run is all that came since.
    int runTags() const { return runTags_; }
    int64_t runReads() const { return runReads_; }
    int64_t runCycles() const { return runCycles_; }
    // Reads in the last second (the clock's now back to 1000 ms before it), per second.
    double rate() const;
    // The run's time in seconds: from its start to now, or to its end once it ended. Before
    // any start since CLEAR, from the first answer counted (a read or a cycle) to the latest.
    double elapsedSeconds() const;
    // The run's figures: "Tags: N   Reads: M   Cycles: C   Rate: R reads/s   Elapsed: S s"
    QString summary() const;
    // The figures since CLEAR: "since CLEAR: Tags: N   Reads: M   Cycles: C"
    QString totalText() const;

    // The file form: a header row, then one line per row, comma-separated, the times as
    // ISO 8601 date-times with milliseconds and the offset from UTC.
    static QString CsvHeader();
    QString csvLine(int row) const;

    // Rows changed or added since the last call, as the span [first, last]; first is -1
    // when nothing changed.
    std::pair<int, int> takeChanged();

  private:
    bool take(const QString& answer, const int64_t* atMs);
    void touched(int row);

    Clock clock_;
    std::vector<TagRow> rows_;
    QHash<QString, int> index_;
    int64_t reads_ = 0;
    int64_t cycles_ = 0;
    // The current run: its number (starts so far), its figures, and its time.
    enum class Run { None, Running, Ended };
    Run run_ = Run::None;
    int runNo_ = 0;
    int runTags_ = 0;
    int64_t runReads_ = 0;
    int64_t runCycles_ = 0;
    int64_t runStartMs_ = 0;
    int64_t runEndMs_ = 0;
    bool counting_ = false; // an answer has been counted since the start or the last clear
    int64_t firstCountedMs_ = 0;
    int64_t lastCountedMs_ = 0;
    // Reads of the last second: (millisecond, reads in it), oldest first, never going back.
    std::deque<std::pair<int64_t, int64_t>> recent_;
    int changedFirst_ = -1;
    int changedLast_ = -1;
};

} // namespace rd

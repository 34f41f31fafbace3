// The inventory log without widgets: while logging is on, every "INV" answer goes to the
// list of all tag answers with an information line (time, cycle number, EPC, signal), and
// to the list of distinct tag answers the first time its whole text is seen;
// "START_INVENTORY" answers count the cycles. Nothing is counted while logging is off.
#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>

namespace rd {

class InvLogModel {
  public:
    // The local date and time (the information line's time of day).
    using Clock = std::function<QDateTime()>;

    // What one answer asks of the page.
    struct Outcome {
        bool logged = false;   // a tag answer: it goes to the list of all answers,
        QString infoLine;      // this line to the information list,
        bool distinct = false; // and the answer to the distinct list; the capacity changes
    };

    // The clock defaults to the window's clock (Now()).
    explicit InvLogModel(Clock clock = {});

    // One answer text; logOn: the log switch is ticked.
    Outcome answer(const QString& answer, bool logOn);
    // The distinct list was emptied (a double-click, the start state): answers seen before
    // are new again.
    void distinctListCleared() { seen_.clear(); }

    // Inventory cycles seen while logging was on, since the program started.
    int32_t cycles() const { return cycles_; }
    // Lines of the distinct list.
    int distinct() const { return int(seen_.size()); }
    // "CAPACITY: <distinct>"
    QString capacityText() const;

  private:
    Clock clock_;
    int32_t cycles_ = 0;
    QSet<QString> seen_; // the lines of the distinct list
};

} // namespace rd

// What the TRM page shows of each terminal line. The window keeps every line exactly as it
// was composed (request and answer bytes in hex, link messages), with the time it was
// added and, for an answer, the time since the request it answers; the page's switches
// only choose how a kept line is shown, and a change of them shows every kept line anew.
// The round trip is known where an answer's word 1 equals the counter of a request sent
// in the last 10 s (readers that echo the counter).
#pragma once

#include "kit/line_list.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <utility>

namespace rd {

// How terminal lines are shown. The defaults show each line as composed.
struct TerminalSwitches {
    enum Form { Hex, Text, HexAndText };
    bool time = false;      // "HH:mm:ss.zzz " in front of each line
    Form form = Hex;        // how an answer's bytes are shown
    bool roundTrip = false; // " +N ms" behind an answer whose request is known
};

// The counters of the requests sent in the last 10 s and when each went out.
class RoundTrips {
  public:
    static constexpr int64_t kWindowMs = 10000;
    void noteRequest(const QString& counter, int64_t nowMs);
    // Milliseconds since the request with this counter went out, or -1 when no request
    // with it went out in the last 10 s.
    int64_t since(const QString& counter, int64_t nowMs);
    int size() const { return int(sent_.size()); }

  private:
    void prune(int64_t nowMs);
    QHash<QString, int64_t> sent_;
    std::deque<std::pair<int64_t, QString>> order_; // oldest first
};

// The kept terminal lines, at most maxLines of them (the oldest go first).
class TerminalLines {
  public:
    explicit TerminalLines(int maxLines) : maxLines_(maxLines) {}

    // Keeps line, added at wallMs (ms since the epoch) and steadyMs (a monotonic clock), and
    // returns it as the switches show it. A request line notes its counter, an answer line
    // looks its word 1 up.
    QString add(const QString& line, int64_t wallMs, int64_t steadyMs);
    void clear();
    int size() const { return int(meta_.size()); }

    const TerminalSwitches& switches() const { return switches_; }
    void setSwitches(const TerminalSwitches& s) { switches_ = s; }
    // Every kept line as the switches show it, oldest first.
    QStringList shown() const;

    static QString show(const QString& line, int64_t wallMs, int64_t roundTripMs, const TerminalSwitches& s);

  private:
    struct Meta {
        int64_t wallMs;
        int64_t roundTripMs; // -1: not known
    };
    int maxLines_;
    TerminalSwitches switches_;
    LineStore lines_;
    std::deque<Meta> meta_;
    RoundTrips trips_;
};

} // namespace rd

// How one read waits under the port's read time-outs: the five values and the number of
// bytes asked for become a plan, and the read loop asks a deadline object when to give up.
// Pure code: no I/O, the clock is passed in.
#pragma once

#include "link/serial_port.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

namespace rd {

// A limit longer than this (about 35 years) is as good as none. Limits are capped here rather
// than left to wrap the clock into the past.
constexpr uint64_t kLongestWaitMs = uint64_t{1} << 40;

struct ReadPlan {
    // Take what is there and return without waiting (also a read of no bytes).
    bool returnAtOnce = false;
    // Return as soon as any bytes have come, whatever was asked for.
    bool returnOnFirstByte = false;
    // Budget of the whole read from its start (ms, at most kLongestWaitMs); none: no limit.
    std::optional<uint64_t> totalMs;
    // Longest silence after a byte before the read ends (ms); armed by the first byte.
    std::optional<uint32_t> intervalMs;
};

// The read time-outs of the original platform, for a read of n bytes:
// - all three 0: wait until n bytes have come;
// - interval MAXDWORD with both totals 0: return at once with what is there;
// - interval and multiplier MAXDWORD with a constant below MAXDWORD and above 0: return as
//   soon as any byte is there, waiting at most the constant for the first;
// - otherwise a total of multiplier x n + constant when either is not 0, and an interval
//   limit when the interval is not 0. A read ends when it has n bytes or at either limit.
ReadPlan PlanRead(const CommTimeouts& t, uint32_t n);

// The moment a read must end by: the earlier of the total budget from its start and the
// interval after the latest byte.
class ReadDeadline {
  public:
    using Clock = std::chrono::steady_clock;

    ReadDeadline(const ReadPlan& plan, Clock::time_point start) {
        if (plan.totalMs)
            total_ = start + std::chrono::milliseconds(*plan.totalMs);
        if (plan.intervalMs)
            gap_ = std::chrono::milliseconds(*plan.intervalMs);
    }

    // Bytes came at `now`: the interval starts again from here.
    void bytesArrived(Clock::time_point now) {
        if (gap_)
            interval_ = now + *gap_;
    }

    // When to give up; none: wait without limit.
    std::optional<Clock::time_point> next() const {
        if (total_ && interval_)
            return std::min(*total_, *interval_);
        return total_ ? total_ : interval_;
    }

  private:
    std::optional<Clock::time_point> total_;
    std::optional<Clock::time_point> interval_;
    std::optional<std::chrono::milliseconds> gap_;
};

} // namespace rd

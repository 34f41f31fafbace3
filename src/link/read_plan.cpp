#include "link/read_plan.h"

#include <algorithm>

namespace rd {

namespace {
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
} // namespace

ReadPlan PlanRead(const CommTimeouts& t, uint32_t n) {
    ReadPlan plan;
    if (n == 0 || (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                   t.ReadTotalTimeoutConstant == 0)) {
        plan.returnAtOnce = true;
        return plan;
    }
    if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword) {
        plan.returnOnFirstByte = true;
        plan.totalMs = t.ReadTotalTimeoutConstant;
        return plan;
    }
    if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
        const uint64_t ms = uint64_t{t.ReadTotalTimeoutMultiplier} * n + t.ReadTotalTimeoutConstant;
        plan.totalMs = std::min(ms, kLongestWaitMs);
    }
    if (t.ReadIntervalTimeout != 0)
        plan.intervalMs = t.ReadIntervalTimeout;
    return plan;
}

} // namespace rd

#include "link/timed_port.h"

#include "link/read_plan.h"

#include <algorithm>

namespace rd {

std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::steady_clock::time_point from, uint64_t ms) {
    return from + std::chrono::milliseconds(std::min(ms, kLongestWaitMs));
}

bool TimedPortBackend::setTimeouts(const CommTimeouts& t) {
    std::lock_guard lock(m_);
    timeouts_ = t;
    return true;
}

PortError TimedPortBackend::read(void* buf, uint32_t n, uint32_t* got) {
    uint32_t count = 0;
    PortError e = readImpl(static_cast<uint8_t*>(buf), n, count, nullptr);
    if (got)
        *got = count;
    return e;
}

PortError TimedPortBackend::readUntilWoken(void* buf, uint32_t n, uint32_t* got, const WakeSignal& wake) {
    uint32_t count = 0;
    PortError e = readImpl(static_cast<uint8_t*>(buf), n, count, &wake);
    if (got)
        *got = count;
    return e;
}

PortError TimedPortBackend::write(const void* buf, uint32_t n, uint32_t* written) {
    uint32_t count = 0;
    PortError e = writeImpl(static_cast<const uint8_t*>(buf), n, count);
    if (written)
        *written = count;
    return e;
}

CommTimeouts TimedPortBackend::timeouts() {
    std::lock_guard lock(m_);
    return timeouts_;
}

std::optional<TimedPortBackend::Clock::time_point> TimedPortBackend::writeDeadline(uint32_t n) {
    const CommTimeouts t = timeouts();
    if (t.WriteTotalTimeoutMultiplier == 0 && t.WriteTotalTimeoutConstant == 0)
        return std::nullopt;
    const uint64_t ms = uint64_t{t.WriteTotalTimeoutMultiplier} * n + t.WriteTotalTimeoutConstant;
    return DeadlineAfter(Clock::now(), ms);
}

} // namespace rd

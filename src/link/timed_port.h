// What the backends that keep a port's time-outs themselves have in common: the POSIX tty and
// the TCP connections on either platform (the Windows serial port hands its time-outs to the
// system instead). The time-outs are kept as given; a read goes by the plan of read_plan.h and
// a write by its total limit. Internal to the link library.
#pragma once

#include "link/serial_port.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

namespace rd {

// from + ms. A total limit of multiplier x bytes + constant can exceed what the clock's
// nanoseconds hold (a multiplier near the maximum times a few thousand bytes): such a limit is
// as good as none, and is capped at kLongestWaitMs instead of wrapping into the past.
std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::steady_clock::time_point from, uint64_t ms);

class TimedPortBackend : public PortBackend {
  public:
    using Clock = std::chrono::steady_clock;

    bool setTimeouts(const CommTimeouts& t) override;
    PortError read(void* buf, uint32_t n, uint32_t* got) override;
    PortError readUntilWoken(void* buf, uint32_t n, uint32_t* got, const WakeSignal& wake) override;
    PortError write(const void* buf, uint32_t n, uint32_t* written) override;

  protected:
    CommTimeouts timeouts();
    // When a write of n bytes begun now must be done by under the write time-outs; none: no
    // limit.
    std::optional<Clock::time_point> writeDeadline(uint32_t n);

    // The backend's read (wake nullptr: none) and write. got and written count the bytes moved,
    // a failed call's too.
    virtual PortError readImpl(uint8_t* buf, uint32_t n, uint32_t& got, const WakeSignal* wake) = 0;
    virtual PortError writeImpl(const uint8_t* buf, uint32_t n, uint32_t& written) = 0;

  private:
    std::mutex m_;
    CommTimeouts timeouts_{};
};

} // namespace rd

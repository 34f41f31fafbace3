// What the POSIX backends (the tty and the TCP socket) share: waiting in ppoll on the line's
// descriptor until a deadline, bytes or the receiver's wake-up, and the read, write and wait
// built on that. A backend says how it moves bytes and how its line ends and fails; the loops
// are the same. Internal to the link library.
#pragma once

#include "link/platform.h"
#include "link/serial_port.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>

#include <sys/types.h>

namespace rd {

// A wait of d (none when d is negative) as ppoll takes it.
timespec ToTimespec(std::chrono::steady_clock::duration d);

class PolledLine {
  public:
    using Clock = std::chrono::steady_clock;

  protected:
    // fd is the line's descriptor, polled for readEvents when a read waits (POLLHUP and POLLERR
    // come anyway).
    PolledLine(int fd, short readEvents) : fd_(fd), readEvents_(readEvents) {}
    ~PolledLine() = default;

    // A read of n bytes under the read time-outs t (see PlanRead): waits in ppoll until the next
    // deadline, the wake-up signal (nullptr: none) or bytes, and takes what is there. A line that
    // ends or breaks gives up; bytes already taken still count (the read succeeds with them).
    PortError readPolled(const CommTimeouts& t, uint8_t* buf, uint32_t n, uint32_t& got,
                         const WakeSignal* wake);
    // Writes all n bytes, waiting for room until the deadline (none: no limit).
    PortError writePolled(std::optional<Clock::time_point> deadline, const uint8_t* buf, uint32_t n,
                          uint32_t& written);
    // Whether input is waiting or comes within timeoutMs. A hung-up, ended or broken line says
    // yes: the read that follows finds out.
    bool waitPolled(uint32_t timeoutMs);

    // One non-blocking read or write: the count, or 0, or -1 with errno, as read(2) and
    // write(2) give them.
    virtual ssize_t readSome(uint8_t* buf, std::size_t n) = 0;
    virtual ssize_t writeSome(const uint8_t* buf, std::size_t n) = 0;
    // Whether a read that gave no bytes (k 0, or -1 with err) on a line polled as revents says
    // that nothing more will come.
    virtual bool inputEnded(short revents, ssize_t k, int err) = 0;
    // Why the line failed (err from the call, 0 when none; revents from polling it, 0 when not
    // known); never a success.
    virtual PortError failed(short revents, int err) = 0;

    const int fd_;

  private:
    PortError readPolledUntil(const CommTimeouts& t, uint8_t* buf, uint32_t n, uint32_t& got,
                              const WakeSignal* wake);

    const short readEvents_;
    // The last read took as many bytes as it asked for.
    bool lastReadFilled_ = false;
};

} // namespace rd

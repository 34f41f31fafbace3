#include "link/posix_poll.h"

#include "link/read_plan.h"
#include "link/timed_port.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace rd {

timespec ToTimespec(std::chrono::steady_clock::duration d) {
    if (d < std::chrono::steady_clock::duration::zero())
        d = std::chrono::steady_clock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

PortError PolledLine::readPolled(const CommTimeouts& t, uint8_t* buf, uint32_t n, uint32_t& got,
                                 const WakeSignal* wake) {
    got = 0;
    const PortError e = readPolledUntil(t, buf, n, got, wake);
    lastReadFilled_ = e.ok() && n > 0 && got == n;
    return e;
}

PortError PolledLine::readPolledUntil(const CommTimeouts& t, uint8_t* buf, uint32_t n, uint32_t& got,
                                      const WakeSignal* wake) {
    if (n == 0)
        return {};
    const int wakeFd = wake ? wake->fd() : -1;
    const ReadPlan plan = PlanRead(t, n);
    ReadDeadline deadline(plan, Clock::now());

    // A read that filled the whole block says more is most likely waiting (a flood, a backlog):
    // it is taken at once, as the wait below would find it, without asking ppoll first. When
    // nothing is there after all, or the line has ended, the wait below goes on as ever.
    if (lastReadFilled_) {
        const ssize_t k = readSome(buf, n);
        if (k > 0) {
            got = static_cast<uint32_t>(k);
            if (got == n || plan.returnOnFirstByte || plan.returnAtOnce)
                return {};
            deadline.bytesArrived(Clock::now());
        }
    }

    for (;;) {
        timespec ts{}; // zero: look and return
        timespec* tsp = &ts;
        if (!plan.returnAtOnce) {
            const auto until = deadline.next();
            if (!until) {
                tsp = nullptr;
            } else {
                const auto now = Clock::now();
                if (now >= *until)
                    return {};
                ts = ToTimespec(*until - now);
            }
        }
        pollfd fds[2] = {{fd_, readEvents_, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::ppoll(fds, wakeFd >= 0 ? 2 : 1, tsp, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return got > 0 ? PortError{} : failed(0, errno);
        }
        const short re = fds[0].revents;
        if (re & POLLNVAL)
            return failed(re, 0);
        if (re & (readEvents_ | POLLHUP | POLLERR)) {
            const ssize_t k = readSome(buf + got, n - got);
            const int err = k < 0 ? errno : 0;
            if (k > 0) {
                got += static_cast<uint32_t>(k);
                if (got == n || plan.returnOnFirstByte)
                    return {};
                deadline.bytesArrived(Clock::now());
            } else if (inputEnded(re, k, err)) {
                // Nothing more will come. Bytes already taken still count; the next read fails.
                return got > 0 ? PortError{} : failed(re, err);
            }
        }
        if (wakeFd >= 0 && (fds[1].revents & POLLIN)) {
            wake->wait(0); // takes the signal
            return {};
        }
        if (plan.returnAtOnce || r == 0)
            return {};
    }
}

PortError PolledLine::writePolled(std::optional<Clock::time_point> deadline, const uint8_t* buf, uint32_t n,
                                  uint32_t& written) {
    written = 0;
    while (written < n) {
        const ssize_t k = writeSome(buf + written, n - written);
        if (k > 0) {
            written += static_cast<uint32_t>(k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno != EAGAIN) {
            // A hung-up terminal refuses writes with EIO: the line's state says which it was.
            const int err = errno;
            pollfd pfd{fd_, 0, 0};
            const timespec now{};
            ::ppoll(&pfd, 1, &now, nullptr);
            return failed(pfd.revents, err);
        }
        timespec ts{};
        timespec* tsp = nullptr;
        if (deadline) {
            const auto now = Clock::now();
            if (now >= *deadline)
                return failed(0, ETIMEDOUT);
            ts = ToTimespec(*deadline - now);
            tsp = &ts;
        }
        pollfd pfd{fd_, POLLOUT, 0};
        const int r = ::ppoll(&pfd, 1, tsp, nullptr);
        if (r < 0 && errno != EINTR)
            return failed(0, errno);
        if (r > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return failed(pfd.revents, 0);
    }
    return {};
}

bool PolledLine::waitPolled(uint32_t timeoutMs) {
    const auto deadline = DeadlineAfter(Clock::now(), timeoutMs);
    for (;;) {
        const timespec ts = ToTimespec(deadline - Clock::now());
        pollfd pfd{fd_, readEvents_, 0};
        const int r = ::ppoll(&pfd, 1, &ts, nullptr);
        if (r < 0 && errno == EINTR)
            continue;
        return r != 0;
    }
}

} // namespace rd

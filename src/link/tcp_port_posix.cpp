// The TCP transport on POSIX sockets.
#include "tcp_port.h"

#include "read_plan.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <mutex>
#include <optional>
#include <system_error>

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rd {

namespace {

using Clock = std::chrono::steady_clock;

// Keep-alive probes: a peer gone without a word (a server switched off, a cable pulled out
// behind it) is noticed after about idle + count x interval seconds.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;

timespec toTimespec(Clock::duration d) {
    if (d < Clock::duration::zero())
        d = Clock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

Clock::time_point deadlineAfter(Clock::time_point from, uint64_t ms) {
    return from + std::chrono::milliseconds(std::min(ms, kLongestWaitMs));
}

void drainWakeFd(int fd) {
    uint64_t buf[8];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}

class TcpPort final : public PortBackend {
  public:
    explicit TcpPort(int fd) : fd_(fd) {}
    ~TcpPort() override { ::close(fd_); }

    bool setTimeouts(const CommTimeouts& t) override {
        std::lock_guard lock(m_);
        timeouts_ = t;
        return true;
    }

    bool setupComm(uint32_t, uint32_t) override { return true; }

    // The line is set on the server: what is given is kept and read back, nothing more.
    bool getState(LineSettings& s) override {
        std::lock_guard lock(m_);
        s = state_;
        return true;
    }

    bool setState(const LineSettings& s) override {
        std::lock_guard lock(m_);
        state_ = s;
        return true;
    }

    bool purge(uint32_t flags) override {
        constexpr uint32_t all = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
        if (flags & ~all)
            return false;
        // Writes are synchronous: what has gone to the socket is on its way and cannot be
        // taken back. The input is what has arrived and not yet been read; it is dropped. A
        // connection that has ended stays ended: the next read finds out.
        if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
            uint8_t sink[4096];
            for (;;) {
                const ssize_t k = ::recv(fd_, sink, sizeof sink, MSG_DONTWAIT);
                if (k > 0)
                    continue;
                if (k < 0 && errno == EINTR)
                    continue;
                break;
            }
        }
        return true;
    }

    bool read(void* buf, uint32_t n, uint32_t* got) override { return readUntilWoken(buf, n, got, -1); }

    bool readUntilWoken(void* buf, uint32_t n, uint32_t* got, int wakeFd) override {
        uint32_t count = 0;
        const bool ok = readImpl(static_cast<uint8_t*>(buf), n, count, wakeFd);
        if (got)
            *got = count;
        return ok;
    }

    bool waitForInput(uint32_t timeoutMs) override {
        const auto deadline = deadlineAfter(Clock::now(), timeoutMs);
        for (;;) {
            const timespec ts = toTimespec(deadline - Clock::now());
            pollfd pfd{fd_, POLLIN | POLLRDHUP, 0};
            const int r = ::ppoll(&pfd, 1, &ts, nullptr);
            if (r < 0 && errno == EINTR)
                continue;
            // An ended or broken connection says yes: the read that follows finds out.
            return r != 0;
        }
    }

    bool write(const void* buf, uint32_t n, uint32_t* written) override {
        uint32_t count = 0;
        const bool ok = writeImpl(static_cast<const uint8_t*>(buf), n, count);
        if (written)
            *written = count;
        return ok;
    }

  private:
    CommTimeouts timeouts() {
        std::lock_guard lock(m_);
        return timeouts_;
    }

    // The serial port's read, on a socket: the same plan and deadlines (see PlanRead). A
    // connection the server has ended (end of stream) or that broke is a hung-up port: bytes
    // already taken still count, and every read after that fails at once.
    bool readImpl(uint8_t* buf, uint32_t n, uint32_t& got, int wakeFd) {
        got = 0;
        if (n == 0)
            return true;
        const ReadPlan plan = PlanRead(timeouts(), n);
        ReadDeadline deadline(plan, Clock::now());

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
                        return true;
                    ts = toTimespec(*until - now);
                }
            }
            pollfd fds[2] = {{fd_, POLLIN | POLLRDHUP, 0}, {wakeFd, POLLIN, 0}};
            const int r = ::ppoll(fds, wakeFd >= 0 ? 2 : 1, tsp, nullptr);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return got > 0;
            }
            const short re = fds[0].revents;
            if (re & POLLNVAL)
                return false;
            if (re & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) {
                const ssize_t k = ::recv(fd_, buf + got, n - got, MSG_DONTWAIT);
                if (k > 0) {
                    got += static_cast<uint32_t>(k);
                    if (got == n || plan.returnOnFirstByte)
                        return true;
                    deadline.bytesArrived(Clock::now());
                } else if (k == 0 || (errno != EAGAIN && errno != EINTR)) {
                    ended_ = true;
                    return got > 0;
                }
            }
            if (wakeFd >= 0 && (fds[1].revents & POLLIN)) {
                drainWakeFd(wakeFd);
                return true;
            }
            if (plan.returnAtOnce || r == 0)
                return true;
        }
    }

    bool writeImpl(const uint8_t* buf, uint32_t n, uint32_t& written) {
        written = 0;
        // A connection seen to end takes nothing more, as a hung-up line does (the socket
        // itself would take a first write after the server's close).
        if (ended_)
            return false;
        const CommTimeouts t = timeouts();
        std::optional<Clock::time_point> deadline;
        if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
            const uint64_t ms = uint64_t{t.WriteTotalTimeoutMultiplier} * n + t.WriteTotalTimeoutConstant;
            deadline = deadlineAfter(Clock::now(), ms);
        }
        while (written < n) {
            // No SIGPIPE for a connection the server has closed: the write fails instead.
            const ssize_t k = ::send(fd_, buf + written, n - written, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (k > 0) {
                written += static_cast<uint32_t>(k);
                continue;
            }
            if (k < 0 && errno == EINTR)
                continue;
            if (k < 0 && errno != EAGAIN)
                return false;
            timespec ts{};
            timespec* tsp = nullptr;
            if (deadline) {
                const auto now = Clock::now();
                if (now >= *deadline)
                    return false;
                ts = toTimespec(*deadline - now);
                tsp = &ts;
            }
            pollfd pfd{fd_, POLLOUT, 0};
            const int r = ::ppoll(&pfd, 1, tsp, nullptr);
            if (r < 0 && errno != EINTR)
                return false;
            if (r > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return false;
        }
        return true;
    }

    const int fd_;
    // A read found the end of the stream or a broken connection.
    std::atomic<bool> ended_{false};
    std::mutex m_;
    CommTimeouts timeouts_{};
    LineSettings state_{115200, 8, 'N', StopBits::One};
};

std::string describeError(int err) {
    switch (err) {
    case ECONNREFUSED:
        return "connection refused";
    case ETIMEDOUT:
        return "connection timed out";
    case EHOSTUNREACH:
        return "host unreachable";
    case ENETUNREACH:
        return "network unreachable";
    case ECONNRESET:
        return "connection reset";
    default:
        return std::error_code(err, std::generic_category()).message();
    }
}

std::unique_ptr<PortBackend> openFailed(int err, std::string text, const std::string& device, int fd = -1) {
    if (fd >= 0)
        ::close(fd);
    SetLastPortError(PortError{err, std::move(text), device});
    return nullptr;
}

// One attempt on one address, within the time left until `until`. The connected descriptor,
// or -1 with errno telling why.
int connectOne(const addrinfo& a, Clock::time_point until) {
    const int fd = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
    if (fd < 0)
        return -1;
    auto fail = [fd](int err) {
        ::close(fd);
        errno = err;
        return -1;
    };
    if (::connect(fd, a.ai_addr, a.ai_addrlen) != 0) {
        if (errno != EINPROGRESS)
            return fail(errno);
        for (;;) {
            const auto now = Clock::now();
            if (now >= until)
                return fail(ETIMEDOUT);
            const timespec ts = toTimespec(until - now);
            pollfd pfd{fd, POLLOUT, 0};
            const int r = ::ppoll(&pfd, 1, &ts, nullptr);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                return fail(errno);
            if (r == 0)
                return fail(ETIMEDOUT);
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                return fail(errno);
            if (err != 0)
                return fail(err);
            break;
        }
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
    return fd;
}

} // namespace

std::unique_ptr<PortBackend> OpenTcpPort(const std::string& name) {
    std::string host;
    uint16_t port = 0;
    if (!ParseTcpPortName(name, host, port))
        return openFailed(EINVAL, "not a tcp://HOST:PORT name", "");
    const std::string device =
        (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
    const auto until = Clock::now() + std::chrono::milliseconds(kTcpConnectTimeoutMs);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0)
        return openFailed(EHOSTUNREACH, std::string("unknown host (") + ::gai_strerror(rc) + ")", device);

    // Each address in turn, within the one time limit.
    int err = ETIMEDOUT;
    int fd = -1;
    for (const addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = connectOne(*a, until);
        if (fd < 0)
            err = errno;
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        return openFailed(err, describeError(err), device);
    return std::make_unique<TcpPort>(fd);
}

} // namespace rd

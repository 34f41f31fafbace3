// The TCP transport on POSIX sockets.
#include "link/tcp_port.h"

#include "link/posix_poll.h"
#include "link/tcp_port_backend.h"

#include <chrono>
#include <string>
#include <utility>

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

class TcpPort final : public TcpPortBackend, private PolledLine {
  public:
    TcpPort(int fd, std::string device)
        : TcpPortBackend(std::move(device)), PolledLine(fd, POLLIN | POLLRDHUP) {}
    ~TcpPort() override { ::close(fd_); }

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

    // An ended or broken connection says yes: the read that follows finds out.
    bool waitForInput(uint32_t timeoutMs) override { return waitPolled(timeoutMs); }

  private:
    // The serial port's read, on a socket: the same plan and deadlines (see PlanRead). Once the
    // server has ended its sending side (end of stream) or the connection broke, nothing more
    // comes: bytes already taken still count, and every read after that fails at once with
    // the cause of the end.
    PortError readImpl(uint8_t* buf, uint32_t n, uint32_t& got, const WakeSignal* wake) override {
        got = 0;
        if (PortError ended = inputEndCause(); !ended.ok())
            return ended;
        const PortError e = readPolled(timeouts(), buf, n, got, wake);
        if (!e.ok())
            if (PortError ended = inputEndCause(); !ended.ok())
                return ended;
        return e;
    }

    // Tried on the socket even after the end of the input: a server that has only ended its
    // sending side still reads. The socket fails a write to a server that has gone (EPIPE,
    // ECONNRESET).
    PortError writeImpl(const uint8_t* buf, uint32_t n, uint32_t& written) override {
        return writePolled(writeDeadline(n), buf, n, written);
    }

    ssize_t readSome(uint8_t* buf, std::size_t n) override { return ::recv(fd_, buf, n, MSG_DONTWAIT); }

    // No SIGPIPE for a connection the server has closed: the write fails instead.
    ssize_t writeSome(const uint8_t* buf, std::size_t n) override {
        return ::send(fd_, buf, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    }

    // The end of the stream, or a broken connection: its cause is kept for the reads after it.
    bool inputEnded(short, ssize_t k, int err) override {
        const bool ended = k == 0 || (err != EAGAIN && err != EINTR);
        if (ended)
            endInput(k == 0 ? 0 : err);
        return ended;
    }

    // A call on the socket failed with err, or the socket reported a failure (err 0): the
    // socket's own error then, if it has one.
    PortError failed(short, int err) override {
        if (err == 0) {
            socklen_t len = sizeof err;
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                err = 0;
        }
        return socketFailed(err != 0 ? err : EIO);
    }
};

std::unique_ptr<PortBackend> openFailed(PortError& why, int err, std::string text, const std::string& device,
                                        int fd = -1) {
    if (fd >= 0)
        ::close(fd);
    why = PortError{err, std::move(text), device};
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
            const timespec ts = ToTimespec(until - now);
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

std::unique_ptr<PortBackend> OpenTcpPort(const std::string& name, PortError& why) {
    std::string host;
    uint16_t port = 0;
    if (!ParseTcpPortName(name, host, port))
        return openFailed(why, EINVAL, "not a tcp://HOST:PORT name", "");
    const std::string device = TcpDeviceName(host, port);
    const auto until = Clock::now() + std::chrono::milliseconds(kTcpConnectTimeoutMs);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0)
        return openFailed(why, EHOSTUNREACH, std::string("unknown host (") + ::gai_strerror(rc) + ")",
                          device);

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
        return openFailed(why, err, DescribeTcpError(err), device);
    return std::make_unique<TcpPort>(fd, device);
}

} // namespace rd

// The TCP transport on Winsock: the POSIX one's reads under the same plan, writes, purge and
// close, on a socket whose network events (bytes, the end of the connection) come through an
// event object, so that a read waits for them and the receiver's wake-up at once: on TCP a
// release ends a read early on Windows too.
#include "link/platform.h"
#include "link/read_plan.h"
#include "link/tcp_port.h"
#include "link/tcp_port_backend.h"
#include "link/win32_system.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

// After windows.h, which leaves the old winsock.h out (win32_system.h).
#include <winsock2.h>

#include <ws2tcpip.h>

#include <mstcpip.h>

namespace rd {

namespace {

using Clock = std::chrono::steady_clock;

// Keep-alive probes, as on POSIX: a peer gone without a word is noticed after about
// idle + a few intervals.
constexpr ULONG kKeepIdleMs = 10000;
constexpr ULONG kKeepIntervalMs = 5000;

// Milliseconds until `until`, rounded up and kept below INFINITE.
DWORD msUntil(Clock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 0, INFINITE - 1));
}

bool startWinsock() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

class TcpPort final : public TcpPortBackend {
  public:
    TcpPort(SOCKET s, WSAEVENT ev, std::string device) : TcpPortBackend(std::move(device)), s_(s), ev_(ev) {}
    ~TcpPort() override {
        ::closesocket(s_);
        ::WSACloseEvent(ev_);
    }

    bool purge(uint32_t flags) override {
        constexpr uint32_t all = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
        if (flags & ~all)
            return false;
        // What has gone to the socket cannot be taken back; what has arrived is dropped.
        if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
            char sink[4096];
            while (::recv(s_, sink, sizeof sink, 0) > 0) {
            }
        }
        return true;
    }

    bool waitForInput(uint32_t timeoutMs) override {
        WSAPOLLFD p{s_, POLLRDNORM, 0};
        // An ended or broken connection says yes: the read that follows finds out.
        return ::WSAPoll(&p, 1, static_cast<INT>(std::min<uint32_t>(timeoutMs, INT32_MAX))) != 0;
    }

  private:
    // Takes what has come, then waits for the socket's event, the wake-up or the next
    // deadline. After the end of the stream or a broken connection nothing more comes: bytes
    // already taken still count, and every read after that fails at once with the cause.
    PortError readImpl(uint8_t* buf, uint32_t n, uint32_t& got, const WakeSignal* wake) override {
        got = 0;
        if (PortError ended = inputEndCause(); !ended.ok())
            return ended;
        if (n == 0)
            return {};
        const ReadPlan plan = PlanRead(timeouts(), n);
        ReadDeadline deadline(plan, Clock::now());
        for (;;) {
            const int k = ::recv(s_, reinterpret_cast<char*>(buf + got), static_cast<int>(n - got), 0);
            if (k > 0) {
                got += static_cast<uint32_t>(k);
                if (got == n || plan.returnOnFirstByte)
                    return {};
                deadline.bytesArrived(Clock::now());
                continue;
            }
            if (k == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK) {
                const PortError ended = endInput(k == 0 ? 0 : ErrnoFor(::WSAGetLastError()));
                return got > 0 ? PortError{} : ended;
            }
            if (plan.returnAtOnce)
                return {};
            DWORD wait = INFINITE;
            if (const auto until = deadline.next()) {
                if (Clock::now() >= *until)
                    return {};
                wait = msUntil(*until);
            }
            const HANDLE wakeHandle = wake ? static_cast<HANDLE>(wake->handle()) : nullptr;
            const HANDLE handles[2] = {ev_, wakeHandle};
            const DWORD w = ::WaitForMultipleObjects(wakeHandle ? 2 : 1, handles, FALSE, wait);
            if (w == WAIT_OBJECT_0) {
                WSANETWORKEVENTS events;
                ::WSAEnumNetworkEvents(s_, ev_, &events); // clears the event
            } else if (w == WAIT_OBJECT_0 + 1) {
                return {}; // woken (the wait took the auto-reset signal)
            } else if (w != WAIT_TIMEOUT) {
                return got > 0 ? PortError{} : PortFailed(EIO, device());
            }
        }
    }

    // Tried on the socket even after the end of the input: a server that has only ended its
    // sending side still reads. The socket fails a write to a server that has gone.
    PortError writeImpl(const uint8_t* buf, uint32_t n, uint32_t& written) override {
        written = 0;
        const auto deadline = writeDeadline(n);
        while (written < n) {
            const int k =
                ::send(s_, reinterpret_cast<const char*>(buf + written), static_cast<int>(n - written), 0);
            if (k > 0) {
                written += static_cast<uint32_t>(k);
                continue;
            }
            if (::WSAGetLastError() != WSAEWOULDBLOCK)
                return socketFailed(ErrnoFor(::WSAGetLastError()));
            INT wait = -1;
            if (deadline) {
                if (Clock::now() >= *deadline)
                    return PortFailed(ETIMEDOUT, device());
                wait = static_cast<INT>(std::min<DWORD>(msUntil(*deadline), INT32_MAX));
            }
            WSAPOLLFD p{s_, POLLWRNORM, 0};
            const int r = ::WSAPoll(&p, 1, wait);
            if (r < 0 || (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))))
                return PortFailed(EIO, device());
        }
        return {};
    }

    const SOCKET s_;
    const WSAEVENT ev_;
};

std::unique_ptr<PortBackend> openFailed(PortError& why, int err, std::string text, const std::string& device,
                                        SOCKET s = INVALID_SOCKET) {
    if (s != INVALID_SOCKET)
        ::closesocket(s);
    why = PortError{err, std::move(text), device};
    return nullptr;
}

// One attempt on one address, within the time left until `until`: the connected socket, or
// INVALID_SOCKET with err telling why. select() rather than WSAPoll, which misses a refused
// connection on older Windows.
SOCKET connectOne(const addrinfo& a, Clock::time_point until, int& err) {
    const SOCKET s = ::socket(a.ai_family, a.ai_socktype, a.ai_protocol);
    if (s == INVALID_SOCKET) {
        err = ErrnoFor(::WSAGetLastError());
        return INVALID_SOCKET;
    }
    auto fail = [&](int e) {
        ::closesocket(s);
        err = e;
        return INVALID_SOCKET;
    };
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    if (::connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK)
            return fail(ErrnoFor(::WSAGetLastError()));
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        const DWORD ms = msUntil(until);
        timeval tv{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
        const int r = ::select(0, nullptr, &writable, &failed, &tv);
        if (r == 0)
            return fail(ETIMEDOUT);
        if (r < 0)
            return fail(ErrnoFor(::WSAGetLastError()));
        int soError = 0;
        int len = sizeof soError;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
        if (FD_ISSET(s, &failed) || soError != 0)
            return fail(soError != 0 ? ErrnoFor(soError) : ECONNREFUSED);
    }
    const BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&one), sizeof one);
    tcp_keepalive keep{1, kKeepIdleMs, kKeepIntervalMs};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &keep, sizeof keep, nullptr, 0, &returned, nullptr, nullptr);
    return s;
}

} // namespace

std::unique_ptr<PortBackend> OpenTcpPort(const std::string& name, PortError& why) {
    std::string host;
    uint16_t port = 0;
    if (!ParseTcpPortName(name, host, port))
        return openFailed(why, EINVAL, "not a tcp://HOST:PORT name", "");
    const std::string device = TcpDeviceName(host, port);
    if (!startWinsock())
        return openFailed(why, EIO, "no sockets (WSAStartup failed)", device);
    const auto until = Clock::now() + std::chrono::milliseconds(kTcpConnectTimeoutMs);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0)
        return openFailed(why, EHOSTUNREACH, "unknown host (" + std::to_string(rc) + ")", device);

    // Each address in turn, within the one time limit.
    int err = ETIMEDOUT;
    SOCKET s = INVALID_SOCKET;
    for (const addrinfo* a = found; a && s == INVALID_SOCKET; a = a->ai_next)
        s = connectOne(*a, until, err);
    ::freeaddrinfo(found);
    if (s == INVALID_SOCKET)
        return openFailed(why, err, DescribeTcpError(err), device);

    // Bytes and the end of the connection set the event; the socket stays non-blocking.
    const WSAEVENT ev = ::WSACreateEvent();
    if (ev == WSA_INVALID_EVENT || ::WSAEventSelect(s, ev, FD_READ | FD_CLOSE) != 0) {
        if (ev != WSA_INVALID_EVENT)
            ::WSACloseEvent(ev);
        return openFailed(why, EIO, "input/output error", device, s);
    }
    return std::make_unique<TcpPort>(s, ev, device);
}

} // namespace rd

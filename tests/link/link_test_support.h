// Helpers for the link tests: a raw pseudo-terminal pair published as a COM port, the far
// end of a TCP connection on the loopback, waiting for a condition with a deadline, taking
// a receiver's answer, one timed read, the checks every kind of open port passes alike, and a base for fake
// ports.
#pragma once

#include "link/com_a.h"
#include "link/platform.h"
#include "link/serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace rd::testing {

using Clock = std::chrono::steady_clock;

inline long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Polls pred every millisecond until it holds or timeoutMs have passed.
template <typename Pred> bool WaitUntil(Pred pred, int timeoutMs = 3000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (Clock::now() >= deadline)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Opens a port where the cause of a failed open is not what the test looks at.
inline PortHandle Open(const std::string& comName) {
    PortError why;
    return OpenPort(comName, why);
}

// One read under the given time-outs: the bytes, whether it succeeded and how long it took.
// started, if given, is called once the clock of the read runs, just before the read.
struct TimedReadResult {
    bool ok;
    std::string bytes;
    long ms;
};
inline TimedReadResult TimedRead(PortHandle h, const CommTimeouts& t, uint32_t n,
                                 const std::function<void()>& started = {}) {
    EXPECT_TRUE(SetCommTimeouts(h, t));
    std::string buf(n, '\0');
    uint32_t got = 12345;
    const auto start = Clock::now();
    if (started)
        started();
    const bool ok = ReadFile(h, buf.data(), n, &got).ok();
    const long ms = MsSince(start);
    buf.resize(got <= n ? got : 0);
    return {ok, buf, ms};
}

// The user-interface side of a receiver's hand-over: wait for an answer, copy it, clear the
// ready event, then set the free event.
inline std::optional<std::string> Take(TCOM_A& t, int timeoutMs = 3000) {
    std::optional<std::string> answer = t.take(uint32_t(timeoutMs));
    if (answer)
        t.release();
    return answer;
}

// A pty pair in raw mode. The test plays the device on the master side; the slave is what
// the link opens, through DIR/COMn.
class RawPty {
  public:
    RawPty() {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        termios tio{};
        ::tcgetattr(slave_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
        slavePath_ = ::ttyname(slave_);
    }
    ~RawPty() {
        closeMaster();
        if (slave_ >= 0)
            ::close(slave_);
        if (!link_.empty())
            ::unlink(link_.c_str());
    }
    RawPty(const RawPty&) = delete;
    RawPty& operator=(const RawPty&) = delete;

    void publish(const std::string& dir, int number) {
        link_ = dir + "/COM" + std::to_string(number);
        if (::symlink(slavePath_.c_str(), link_.c_str()) != 0)
            throw std::runtime_error("symlink failed");
    }

    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string& slavePath() const { return slavePath_; }

    // The device writes; blocks until all is written.
    void write(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t k = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (k < 0) {
                if (errno == EINTR || errno == EAGAIN) {
                    pollfd p{master_, POLLOUT, 0};
                    ::poll(&p, 1, 100);
                    continue;
                }
                throw std::runtime_error("write to the pty master failed");
            }
            done += static_cast<std::size_t>(k);
        }
    }

    // What the link wrote, collected for timeoutMs after the first byte or until n bytes came.
    std::string read(std::size_t n, int timeoutMs = 2000) const {
        std::string out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) == 1 && (p.revents & POLLIN)) {
                char buf[4096];
                const ssize_t k = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
                if (k > 0)
                    out.append(buf, static_cast<std::size_t>(k));
            }
        }
        return out;
    }

    // An adapter pulled out: the link's side sees a hang-up.
    void closeMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string link_;
};

// A serial device server as the test plays it: listens on 127.0.0.1 (a port the system
// picks) and, once the link has connected, writes and reads the connection's far end the way
// RawPty does the master.
class TcpPeer {
  public:
    TcpPeer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot listen on the loopback");
        port_ = ntohs(addr.sin_port);
    }
    ~TcpPeer() {
        closeMaster();
        if (listener_ >= 0)
            ::close(listener_);
    }
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;

    uint16_t port() const { return port_; }
    std::string name() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

    // Takes the connection the link has made; false when none came within timeoutMs.
    bool accept(int timeoutMs = 3000) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return false;
        conn_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return conn_ >= 0;
    }
    int connection() const { return conn_; }

    void write(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t k = ::send(conn_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (k < 0) {
                if (errno == EINTR)
                    continue;
                throw std::runtime_error("write to the connection failed");
            }
            done += static_cast<std::size_t>(k);
        }
    }

    // What the link wrote, collected for timeoutMs or until n bytes came.
    std::string read(std::size_t n, int timeoutMs = 2000) const {
        std::string out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n && Clock::now() < deadline) {
            pollfd p{conn_, POLLIN, 0};
            if (::poll(&p, 1, 10) == 1 && (p.revents & POLLIN)) {
                char buf[4096];
                const ssize_t k = ::recv(conn_, buf, std::min(sizeof buf, n - out.size()), 0);
                if (k <= 0)
                    break;
                out.append(buf, static_cast<std::size_t>(k));
            }
        }
        return out;
    }

    // The server ends the connection (an orderly close).
    void closeMaster() {
        if (conn_ >= 0)
            ::close(conn_);
        conn_ = -1;
    }
    // The server drops the connection without a word (a reset, as after a restart).
    void reset() {
        if (conn_ < 0)
            return;
        const linger hard{1, 0};
        ::setsockopt(conn_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        closeMaster();
    }
    // No further connections: a later connect is refused.
    void stopListening() {
        if (listener_ >= 0)
            ::close(listener_);
        listener_ = -1;
    }

  private:
    int listener_ = -1;
    int conn_ = -1;
    uint16_t port_ = 0;
};

// Every byte value goes out on the open port h unchanged to the device at its far end (a
// RawPty or a TcpPeer), and comes back from the device the same.
template <class Device> void ExpectBytesPassUnchanged(PortHandle h, const Device& device) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    uint32_t written = 0;
    ASSERT_TRUE(WriteFile(h, all.data(), 256, &written).ok());
    EXPECT_EQ(written, 256u);
    EXPECT_EQ(device.read(256), all);

    device.write(all);
    const auto r = TimedRead(h, {0, 0, 2000, 0, 0}, 256);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, all);
}

// A write of size bytes on the open port h, whose far end reads nothing, with a write time-out
// of 100 ms: once the buffers are full it cannot finish, and fails after the time-out with
// part of it written. The failed write's cause goes to *cause, if given.
inline void ExpectStuckWriteFails(PortHandle h, std::size_t size, PortError* cause = nullptr) {
    ASSERT_TRUE(SetCommTimeouts(h, {0, 0, 0, 0, 100}));
    std::string big(size, 'w');
    uint32_t written = 0;
    const auto start = Clock::now();
    const PortError e = WriteFile(h, big.data(), static_cast<uint32_t>(big.size()), &written);
    EXPECT_FALSE(e.ok());
    if (cause)
        *cause = e;
    EXPECT_GE(MsSince(start), 100);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
}

// The far end of the open port h has gone after sending something: what was still there may
// come first, after that every read fails at once, whatever the time-outs, and so does a write.
// A socket whose server closed it may still take one write (socketTakesOneWrite): the server,
// gone, answers it with a reset, and the writes after that fail.
inline void ExpectEndedPortFails(PortHandle h, bool socketTakesOneWrite = false) {
    for (const CommTimeouts& t : {CommTimeouts{1, 1, 1, 0, 0}, CommTimeouts{0, 0, 0, 0, 0}}) {
        ASSERT_TRUE(SetCommTimeouts(h, t));
        char buf[100];
        uint32_t got = 0;
        const auto start = Clock::now();
        const bool ok = ReadFile(h, buf, sizeof buf, &got).ok();
        if (ok) {
            EXPECT_GT(got, 0u);
            continue;
        }
        EXPECT_EQ(got, 0u);
        EXPECT_LT(MsSince(start), 1000);
    }
    char buf[10];
    uint32_t got = 0;
    EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &got).ok());
    uint32_t written = 0;
    if (socketTakesOneWrite) {
        EXPECT_TRUE(WriteFile(h, "x", 1, &written).ok());
        EXPECT_TRUE(WaitUntil([&] { return !WriteFile(h, "x", 1, &written).ok(); }, 1000));
    } else {
        EXPECT_FALSE(WriteFile(h, "x", 1, &written).ok());
    }
}

// A long read on the open port h, with nothing coming, ends soon after its wake-up signal
// is signalled, with nothing read; the signal is taken, so the next wait is not cut short.
inline void ExpectWakeEndsARead(PortHandle h) {
    ASSERT_TRUE(SetCommTimeouts(h, {0, 0, 10000, 0, 0}));
    const WakeSignal wake;
    ASSERT_TRUE(wake.valid());
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const uint64_t one = 1;
        EXPECT_EQ(::write(wake.fd(), &one, sizeof one), 8);
    });
    char buf[10];
    uint32_t got = 99;
    const auto start = Clock::now();
    EXPECT_TRUE(ReadFileUntilWoken(h, buf, sizeof buf, &got, &wake).ok());
    waker.join();
    EXPECT_EQ(got, 0u);
    EXPECT_LT(MsSince(start), 5000);
    pollfd p{wake.fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
}

// A fake port for faults a pseudo-terminal cannot produce: its line settings all succeed and
// its writes take everything; what its reads do is the fake's own.
class FakePort : public PortBackend {
  public:
    bool setTimeouts(const CommTimeouts&) override { return true; }
    bool setupComm(uint32_t, uint32_t) override { return true; }
    bool getState(LineSettings&) override { return true; }
    bool setState(const LineSettings&) override { return true; }
    bool purge(uint32_t) override { return true; }
    PortError write(const void*, uint32_t n, uint32_t* written) override {
        *written = n;
        return {};
    }
};

} // namespace rd::testing

// Helpers for the link tests: a raw pseudo-terminal pair published as a COM port, and
// waiting for a condition with a deadline.
#pragma once

#include "serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
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

} // namespace rd::testing

// The read time-outs as one table of cases, run against every kind of port the link opens
// (a pseudo-terminal, a TCP connection): what a device sends before and during one read,
// and what the read must return, and when.
#pragma once

#include "link/serial_port.h"
#include "link_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace rd::testing {

// The device side of a read: from a thread of its own, each step waits its pause and then
// writes its bytes; joined when the player goes. The device is anything that writes bytes
// (RawPty, TcpPeer). A gated player begins at go(), so that its pauses count from a moment
// the test chooses (the start of a read), however late the test gets there.
class DevicePlayer {
  public:
    struct Step {
        int pauseMs;
        std::string bytes;
    };
    template <class Device>
    DevicePlayer(const Device& device, std::vector<Step> steps, bool gated = false)
        : ready_(started_.get_future()), gone_(!gated), thread_([this, &device, steps = std::move(steps)] {
              ready_.wait();
              for (const auto& step : steps) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(step.pauseMs));
                  device.write(step.bytes);
              }
          }) {
        if (!gated)
            started_.set_value();
    }
    ~DevicePlayer() { join(); }
    void go() {
        if (!gone_) {
            gone_ = true;
            started_.set_value();
        }
    }
    void join() {
        go();
        if (thread_.joinable())
            thread_.join();
    }

  private:
    std::promise<void> started_;
    std::future<void> ready_;
    bool gone_;
    std::thread thread_;
};

// One read under the time-outs: what was there before it, what the device sends during it,
// what it returns and how long it takes (-1: no bound).
struct TimedReadCase {
    const char* name;
    CommTimeouts t;
    uint32_t n;
    std::string before;
    std::vector<DevicePlayer::Step> during;
    std::string expected;
    long minMs;
    long maxMs;
};

inline void PrintTo(const TimedReadCase& c, std::ostream* os) {
    *os << c.name;
}

inline std::string TimedReadCaseName(const TimedReadCase& c) {
    return c.name;
}

inline std::vector<TimedReadCase> ReadTimeoutCases() {
    return {
        // Nothing arrives: multiplier x n + constant, then success with no bytes.
        TimedReadCase{"TotalLimitWithNothingComing", {0, 2, 100, 0, 0}, 50, "", {}, "", 200, -1},
        // Enough bytes already there: no waiting for the total.
        TimedReadCase{
            "EnoughBytesThereEndAtOnce", {0, 0, 5000, 0, 0}, 10, "0123456789", {}, "0123456789", -1, 2500},
        // Gaps shorter than the interval keep the read going.
        TimedReadCase{"ShortGapsKeepTheReadGoing",
                      {400, 0, 0, 0, 0},
                      10,
                      "",
                      {{0, "x"}, {20, "y"}, {20, "z"}},
                      "xyz",
                      -1,
                      -1},
        // Interval and total together: whichever comes first.
        TimedReadCase{"IntervalAndTotalWhicheverFirst", {10, 1, 150, 0, 0}, 10, "", {}, "", 160, -1},
        // All zero: wait for all n bytes.
        TimedReadCase{
            "AllZeroWaitsForEveryByte", {0, 0, 0, 0, 0}, 4, "", {{0, "ab"}, {150, "cd"}}, "abcd", 140, -1},
        // A total limit beyond what the clock can count (multiplier at its maximum, a few
        // thousand bytes) is no limit, not one that has already passed: the bytes are read.
        TimedReadCase{"HugeTotalIsNoLimit",
                      {0, 0xFFFFFFFFu, 0, 0, 0},
                      4096,
                      std::string(4096, 'k'),
                      {},
                      std::string(4096, 'k'),
                      -1,
                      -1},
    };
}

// Runs one case on the open port h with the device at its far end (a RawPty or a TcpPeer).
// afterAFullRead: a read that took all the bytes it asked for comes first, as in a flood; the
// case's read keeps its time-outs all the same.
template <class Device>
void ExpectTimedReadCase(PortHandle h, const Device& device, const TimedReadCase& c,
                         bool afterAFullRead = false) {
    if (afterAFullRead) {
        device.write("full");
        const auto full = TimedRead(h, {0, 0, 5000, 0, 0}, 4);
        ASSERT_EQ(full.bytes, "full");
    }
    if (!c.before.empty())
        device.write(c.before);
    DevicePlayer player(device, c.during, true);
    const auto r = TimedRead(h, c.t, c.n, [&] { player.go(); });
    player.join();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, c.expected);
    if (c.minMs >= 0) {
        EXPECT_GE(r.ms, c.minMs);
    }
    if (c.maxMs >= 0) {
        EXPECT_LT(r.ms, c.maxMs);
    }
}

} // namespace rd::testing

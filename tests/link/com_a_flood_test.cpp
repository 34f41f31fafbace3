// The receiver thread under overload: a reader on a raw pseudo-terminal floods numbered frames
// as fast as the line takes them while the taker stalls again and again, so that the ring runs
// full many times, with a busy thread competing for the processor. Every answer handed over
// must be a frame the reader sent, later than the one before; frames may be missing only where
// the receiver counted lost bytes.
#include "link/com_a.h"

#include "link_test_support.h"
#include "sim/reader_sim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

namespace rd {
namespace {

using Clock = std::chrono::steady_clock;

// ":00000042 DATA 00000042;": the number twice, so that a frame made of two is seen.
std::string FloodFrame(int i) {
    char text[40];
    std::snprintf(text, sizeof text, ":%08d DATA %08d;", i, i);
    return text;
}

// What follows frame i on the line: "garbage#" after every third, CR LF after the others.
std::string FloodSeparator(int i) {
    return i % 3 == 0 ? "garbage#" : "\r\n";
}

// The frame number of an answer that is exactly a frame the reader sends; -1 otherwise.
int FrameNumber(const std::string& answer) {
    int a = -1;
    int b = -2;
    char tail = 0;
    if (answer.size() != FloodFrame(0).size() ||
        std::sscanf(answer.c_str(), ":%8d DATA %8d%c", &a, &b, &tail) != 3 || tail != ';' || a != b ||
        answer != FloodFrame(a))
        return -1;
    return a;
}

constexpr int kSmallRing = 4001;

class ReceiverFlood : public ::testing::Test {
  protected:
    void SetUp() override {
        SetPortDirectory(dir.path());
        pty.publish(dir.path(), 5);
        h = testing::Open("COM5");
        ASSERT_NE(h, INVALID_PORT_HANDLE);
        ASSERT_TRUE(SetCommState(h, {115200, 8, 'N', StopBits::Two}));
    }
    void TearDown() override {
        stop.store(true);
        // A test that ended early left nobody reading: drain the line until the writer is out
        // of its last write.
        while (writer.joinable() && !writerDone.load()) {
            uint8_t scrap[4096];
            uint32_t got = 0;
            if (!ReadFile(h, scrap, sizeof scrap, &got).ok())
                break;
        }
        if (writer.joinable())
            writer.join();
        if (busy.joinable())
            busy.join();
        if (h != INVALID_PORT_HANDLE)
            ClosePort(h);
        ResetPortDirectory();
    }

    // The reader: 200 frames per write, until stopped; the line stays open afterwards.
    void startFlood() {
        writer = std::thread([this] {
            int next = 1;
            std::string chunk;
            while (!stop.load()) {
                chunk.clear();
                for (int k = 0; k < 200; ++k, ++next)
                    chunk += FloodFrame(next) + FloodSeparator(next);
                try {
                    pty.write(chunk);
                } catch (const std::exception&) {
                    break;
                }
            }
            writerDone.store(true);
        });
        // Another program wanting the processor, as a build next to the window would.
        busy = std::thread([this] {
            volatile uint64_t spin = 0;
            while (!stop.load())
                spin = spin + 1;
        });
    }

    sim::TempPortDir dir;
    testing::RawPty pty;
    PortHandle h = INVALID_PORT_HANDLE;
    std::atomic<bool> stop{false};
    std::atomic<bool> writerDone{false};
    std::thread writer;
    std::thread busy;
};

TEST_F(ReceiverFlood, StalledTakerNeverGetsSplicedAnswers) {
    // A ring of a few frames: it runs full at every stall and every answer taken after one
    // is cut from bytes that fell between losses.
    TCOM_A t(h, "COM5", 3, kSmallRing);
    startFlood();

    const auto until = Clock::now() + std::chrono::milliseconds(3000);
    int last = 0;
    int taken = 0;
    int stalls = 0;
    while (Clock::now() < until) {
        // A burst of answers taken at full speed, then a stall long enough to fill the ring.
        const int burst = 50 + int(stalls * 37 % 400);
        for (int k = 0; k < burst; ++k) {
            const std::optional<std::string> answer = t.take(3000);
            ASSERT_TRUE(answer.has_value()) << "no answer after " << taken;
            const uint64_t droppedBefore = t.droppedBytes();
            t.release();
            const int n = FrameNumber(*answer);
            ASSERT_GT(n, 0) << "answer " << taken + 1 << " was never sent: \"" << *answer << "\" after frame "
                            << last;
            ASSERT_GT(n, last) << "answer " << taken + 1 << " out of order";
            if (n != last + 1) {
                // Frames missing: only behind bytes that were counted as lost.
                ASSERT_GT(droppedBefore, 0u)
                    << "frames " << last + 1 << " to " << n - 1 << " vanished unmarked";
            }
            last = n;
            ++taken;
        }
        ++stalls;
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + stalls * 13 % 40));
    }
    stop.store(true);
    writer.join();

    // The ring overflowed, again and again, and the run went on regardless.
    EXPECT_GE(stalls, 5);
    EXPECT_GT(t.droppedBytes(), 0u);
}

} // namespace
} // namespace rd

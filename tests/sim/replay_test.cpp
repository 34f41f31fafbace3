// A recorded session played by the simulated reader on a clock of the test's own: which
// answers each request gets, with which counter, and when.
#include "sim/reader_core.h"

#include "pty_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace rd::sim {
namespace {

using std::chrono::milliseconds;
using testing::FramesIn;
using testing::RequestFrame;

struct BufferLine : Line {
    std::string taken;
    size_t write(const char* data, size_t size) override {
        taken.append(data, size);
        return size;
    }
    bool unread() override { return false; }
};

const SimTime kT0 = SimTime{} + std::chrono::hours(1);

// A window's session: the probe, an inventory of two cycles whose second begins 50 ms after
// the first, a stop that two tag reads still come before the confirmation, and a lone command.
const char* const kSession =
    "2026-12-10 10:00:00.000 Port COM3 check..\n"
    "2026-12-10 10:00:00.100 << 00 3A 30 30 30 30 30 30 30 31 20 56 45 52 53 49 4F 4E 20 "
    "56 4B 52 39 30 30 2D 31 32 3B 0D 0A\n" // :00000001 VERSION VKR900-12;
    "2026-12-10 10:00:00.100 VKR900-12 found COM3: baud=115200 parity=N data=8 stop=2\n"
    "2026-12-10 10:00:01.000 >> 01 3A 32 20 4B 20 31 3B\n" // :2 K 1;
    "2026-12-10 10:00:01.010 << 00 3A 32 20 53 54 41 52 54 5F 49 4E 56 45 4E 54 4F 52 59 3B\n"
    "2026-12-10 10:00:01.010 << 00 3A 32 20 49 4E 56 20 41 3B\n" // :2 INV A;
    "2026-12-10 10:00:01.060 << 00 3A 32 20 53 54 41 52 54 5F 49 4E 56 45 4E 54 4F 52 59 3B\n"
    "2026-12-10 10:00:01.060 << 00 3A 32 20 49 4E 56 20 42 3B\n" // :2 INV B;
    "2026-12-10 10:00:02.000 >> 01 3A 33 20 53 3B\n"             // :3 S;
    "2026-12-10 10:00:02.005 << 00 3A 32 20 49 4E 56 20 43 3B\n" // :2 INV C;
    "2026-12-10 10:00:02.020 << 00 3A 33 20 53 54 4F 50 3B\n"    // :3 STOP;
    "2026-12-10 10:00:03.000 >> 01 3A 34 20 4F 4E 45 3B\n"       // :4 ONE;
    "2026-12-10 10:00:03.040 << 00 3A 34 20 4F 4B 3B\n";         // :4 OK;

// The same answers as readerdesk-cli monitor shows them, with no request.
const char* const kMonitor = "23:59:59.900 :7 START_INVENTORY;\n"
                             "23:59:59.950 3A 37 20 49 4E 56 20 41 3B\n"
                             "00:00:00.000 :7 INV B;\n";

struct Step {
    int ms;
    std::string request;
};
// What the reader wrote: (ms, the frames of the tick at that time).
using Written = std::vector<std::pair<int, std::vector<std::string>>>;

// The requests handed in at their times, ticks at every time asked for up to untilMs.
Written Play(const char* recording, ReplayOptions o, const std::vector<Step>& steps, int untilMs) {
    Options opt;
    opt.crlf = false;
    opt.replay = std::make_shared<const proto::Recording>(proto::ParseRecording(recording));
    opt.replayOptions = std::move(o);
    ReaderCore core(opt);
    BufferLine line;
    Written out;
    std::size_t s = 0;
    for (int now = 0; now <= untilMs;) {
        for (; s < steps.size() && steps[s].ms <= now; ++s) {
            const std::string frame = RequestFrame(steps[s].ms, steps[s].request);
            core.receive(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(),
                         kT0 + milliseconds(steps[s].ms));
        }
        line.taken.clear();
        const NextTick next = core.tick(kT0 + milliseconds(now), line);
        if (!line.taken.empty())
            out.emplace_back(now, FramesIn(line.taken));
        int at =
            next.at ? int(std::chrono::duration_cast<milliseconds>(*next.at - kT0).count()) : untilMs + 1;
        if (s < steps.size())
            at = std::min(at, steps[s].ms);
        now = std::max(at, now + 1);
    }
    return out;
}

TEST(Replay, AnswersEachRequestAsTheRecordingDid) {
    struct Case {
        const char* name;
        const char* recording;
        ReplayOptions options;
        std::vector<Step> steps;
        int untilMs;
        Written expected;
    } cases[] = {
        {"the probe, the inventory and its stop at recorded pace, counters renumbered",
         kSession,
         {},
         {{100, "VERSION"}, {200, "K 1"}, {1000, "S"}},
         2000,
         {{100, {":00000100 VERSION VKR900-12;"}},
          {210, {":00000200 START_INVENTORY;", ":00000200 INV A;"}},
          {260, {":00000200 START_INVENTORY;", ":00000200 INV B;"}},
          {1005, {":00000200 INV C;"}},
          {1020, {":00001000 STOP;"}}}},
        {"twice the speed; a request not recorded is ignored",
         kSession,
         {2.0, false, {}},
         {{0, "K 1"}, {10, "SET_ANYTHING 5"}, {500, "ONE"}},
         1000,
         {{5, {":00000000 START_INVENTORY;", ":00000000 INV A;"}},
          {30, {":00000000 START_INVENTORY;", ":00000000 INV B;"}},
          {520, {":00000500 OK;"}}}},
        {"a new request drops what was still due from the one before",
         kSession,
         {},
         {{0, "K 1"}, {30, "S"}},
         1000,
         {{10, {":00000000 START_INVENTORY;", ":00000000 INV A;"}},
          {35, {":00000000 INV C;"}},
          {50, {":00000030 STOP;"}}}},
        {"an inventory loops until the stop; the stop's answers do not",
         kSession,
         {1.0, true, {}},
         {{0, "K 1"}, {150, "S"}},
         1000,
         {{10, {":00000000 START_INVENTORY;", ":00000000 INV A;"}},
          {60, {":00000000 START_INVENTORY;", ":00000000 INV B;"}},
          {110, {":00000000 START_INVENTORY;", ":00000000 INV A;"}},
          {155, {":00000000 INV C;"}},
          {170, {":00000150 STOP;"}}}},
        {"as fast as the line takes them",
         kSession,
         {0.0, false, {}},
         {{0, "K 1"}},
         1000,
         {{0,
           {":00000000 START_INVENTORY;", ":00000000 INV A;", ":00000000 START_INVENTORY;",
            ":00000000 INV B;"}}}},
        {"monitor output plays after the probe, across midnight, with its own counters; no recorded "
         "identifier: the simulator's",
         kMonitor,
         {},
         {{1000, "VERSION"}},
         2000,
         {{1000, {":00001000 VERSION VKR900-15;", ":7 START_INVENTORY;"}},
          {1050, {":7 INV A;"}},
          {1100, {":7 INV B;"}}}},
        {"monitor output looped",
         kMonitor,
         {1.0, true, {}},
         {{0, "X"}},
         340,
         {{0, {":7 START_INVENTORY;"}},
          {50, {":7 INV A;"}},
          {100, {":7 INV B;"}},
          {150, {":7 START_INVENTORY;"}},
          {200, {":7 INV A;"}},
          {250, {":7 INV B;"}},
          {300, {":7 START_INVENTORY;"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Written got = Play(c.recording, c.options, c.steps, c.untilMs);
        EXPECT_EQ(got, c.expected);
    }
}

TEST(Replay, TheNthRequestPlaysTheNthRecordedOneAndEveryRequestIsTold) {
    const char* recording = "2026-12-10 10:00:00.000 >> 01 3A 31 20 52 3B\n" // :1 R;
                            "2026-12-10 10:00:00.000 << 00 3A 31 20 46 49 52 53 54 3B\n"
                            "2026-12-10 10:00:01.000 >> 01 3A 32 20 52 3B\n"
                            "2026-12-10 10:00:01.000 << 00 3A 32 20 53 45 43 4F 4E 44 3B\n";
    std::vector<std::string> told;
    const Written got = Play(recording, {1.0, false, [&](const std::string& l) { told.push_back(l); }},
                             {{0, "R"}, {10, "R"}, {20, "R"}, {30, "VERSION"}, {40, "Q"}}, 100);
    const Written expected = {{0, {":00000000 FIRST;"}},
                              {10, {":00000010 SECOND;"}},
                              {20, {":00000020 FIRST;"}},
                              {30, {":00000030 VERSION VKR900-15;"}}};
    EXPECT_EQ(got, expected);
    const std::vector<std::string> toldExpected = {
        "request :00000000 R; answered as at line 1 (1 answers)",
        "request :00000010 R; answered as at line 3 (1 answers)",
        "request :00000020 R; answered as at line 1 (1 answers)",
        "request :00000030 VERSION; answered with the recorded identifier reply",
        "request :00000040 Q; not in the recording: ignored",
    };
    EXPECT_EQ(told, toldExpected);
}

} // namespace
} // namespace rd::sim

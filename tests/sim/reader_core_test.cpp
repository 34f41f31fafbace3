// The simulated reader's steps on a clock of the test's own: requests handed in at chosen
// times, ticks at chosen times, what each tick writes and when it asks to run again. No pty,
// no thread, no sleeping.
#include "sim/reader_core.h"

#include "pty_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace rd::sim {
namespace {

using std::chrono::milliseconds;
using testing::RequestFrame;

// Takes what it is given, up to `room` bytes in all; `notRead`: what it took still waits for
// the program.
struct BufferLine : Line {
    std::string taken;
    size_t room = std::numeric_limits<size_t>::max();
    bool notRead = false;

    size_t write(const char* data, size_t size) override {
        size = std::min(size, room);
        room -= size;
        taken.append(data, size);
        return size;
    }
    bool unread() override { return notRead; }
};

const SimTime kT0 = SimTime{} + std::chrono::hours(1);

SimTime At(int ms) {
    return kT0 + milliseconds(ms);
}

std::optional<int> MsOf(const std::optional<SimTime>& t) {
    if (!t) {
        return std::nullopt;
    }
    return static_cast<int>(std::chrono::duration_cast<milliseconds>(*t - kT0).count());
}

void Send(ReaderCore& core, int ms, int counter, const std::string& command) {
    const std::string frame = RequestFrame(counter, command);
    core.receive(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), At(ms));
}

// What the reader wrote and when: (ms, the bytes of the tick at that time).
using Timeline = std::vector<std::pair<int, std::string>>;

// Ticks as the simulator's thread does with nobody writing: from fromMs on, at every time the
// reader asks for, up to untilMs. One millisecond before each of those times it ticks too
// and expects nothing written and the same time asked for: nothing is due earlier.
Timeline RunUntil(ReaderCore& core, BufferLine& line, int fromMs, int untilMs) {
    Timeline out;
    SimTime now = At(fromMs);
    for (int guard = 0; guard < 1000; ++guard) {
        line.taken.clear();
        const NextTick next = core.tick(now, line);
        if (!line.taken.empty()) {
            out.emplace_back(*MsOf(now), line.taken);
        }
        if (!next.at || *next.at > At(untilMs)) {
            break;
        }
        const SimTime early = *next.at - milliseconds(1);
        if (early > now) {
            line.taken.clear();
            const NextTick again = core.tick(early, line);
            EXPECT_EQ(line.taken, "") << "at " << *MsOf(early);
            EXPECT_EQ(MsOf(again.at), MsOf(next.at)) << "at " << *MsOf(early);
        }
        now = *next.at;
    }
    return out;
}

// --- Answer timing ----------------------------------------------------------------------

const std::string kVersionWg = ":00000001 VERSION WG;\r\n";
const std::string kVersionWg2 = ":00000002 VERSION WG;\r\n";
const std::string kGarbageBytes = std::string("\x00\x7F#~\xFF\r\n?", 9);

struct PiecesCase {
    const char* name;
    Options opt;
    int requests; // VERSION requests in one read
    Timeline expected;
};

void PrintTo(const PiecesCase& c, std::ostream* os) {
    *os << c.name;
}

class AnswerPieces : public ::testing::TestWithParam<PiecesCase> {};

TEST_P(AnswerPieces, AreWrittenExactlyWhenDue) {
    const PiecesCase& c = GetParam();
    ReaderCore core(c.opt);
    BufferLine line;
    std::string frames;
    for (int k = 1; k <= c.requests; ++k) {
        frames += RequestFrame(k, "VERSION");
    }
    core.receive(reinterpret_cast<const uint8_t*>(frames.data()), frames.size(), At(0));
    EXPECT_EQ(RunUntil(core, line, 0, 1000), c.expected);
    EXPECT_EQ(core.answersSent(), static_cast<uint64_t>(c.requests));
    EXPECT_EQ(core.answers().front(), ":00000001 VERSION WG;");
}

// The answer ":00000001 VERSION WG;\r\n" is 23 bytes: three pieces are cut at 7 and 15, two
// (and the pause inside) at 11.
INSTANTIATE_TEST_SUITE_P(
    Cases, AnswerPieces,
    ::testing::Values(PiecesCase{"AtOnce", {.identifier = "WG"}, 1, {{0, kVersionWg}}},
                      PiecesCase{
                          "Delayed", {.identifier = "WG", .replyDelayMs = 120}, 1, {{120, kVersionWg}}},
                      PiecesCase{"InPiecesWithGaps",
                                 {.identifier = "WG", .splitParts = 3, .splitGapMs = 60},
                                 1,
                                 {{0, ":000000"}, {60, "01 VERSI"}, {120, "ON WG;\r\n"}}},
                      PiecesCase{"DelayedInPieces",
                                 {.identifier = "WG", .replyDelayMs = 30, .splitParts = 3, .splitGapMs = 60},
                                 1,
                                 {{30, ":000000"}, {90, "01 VERSI"}, {150, "ON WG;\r\n"}}},
                      PiecesCase{"PauseInside",
                                 {.identifier = "WG", .pauseInsideMs = 150},
                                 1,
                                 {{0, ":00000001 V"}, {150, "ERSION WG;\r\n"}}},
                      PiecesCase{"PauseLongerThanTheGapAtTheSameCut",
                                 {.identifier = "WG", .splitParts = 2, .splitGapMs = 10, .pauseInsideMs = 40},
                                 1,
                                 {{0, ":00000001 V"}, {40, "ERSION WG;\r\n"}}},
                      PiecesCase{"GarbageGoesWithTheAnswer",
                                 {.identifier = "WG", .replyDelayMs = 50, .garbage = true},
                                 1,
                                 {{50, kGarbageBytes + kVersionWg}}},
                      // The second answer's delay starts once the first is written.
                      PiecesCase{"TwoRequestsInOneRead",
                                 {.identifier = "WG", .replyDelayMs = 50},
                                 2,
                                 {{50, kVersionWg}, {100, kVersionWg2}}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Inventory cycles -------------------------------------------------------------------

const std::string kCycle = ":00000012 START_INVENTORY;\r\n:00000012 INV 1 2000 3008000000000001 -50;\r\n";

struct CycleCase {
    int delayMs;
    int periodMs;
    std::vector<int> cyclesUntil160;
    int stopAnsweredAt; // the stop comes at 170
};

void PrintTo(const CycleCase& c, std::ostream* os) {
    *os << "delay " << c.delayMs << " ms, period " << c.periodMs << " ms";
}

class InventoryCycles : public ::testing::TestWithParam<CycleCase> {};

TEST_P(InventoryCycles, ComeEveryPeriodUntilTheStop) {
    const CycleCase& c = GetParam();
    ReaderCore core(
        {.identifier = "VKR900-15", .replyDelayMs = c.delayMs, .tagCount = 1, .cyclePeriodMs = c.periodMs});
    BufferLine line;
    Send(core, 0, 12, "KELM_EPC_INVENTORY_TIME 20 5 15");
    Timeline expected;
    for (int ms : c.cyclesUntil160) {
        expected.emplace_back(ms, kCycle);
    }
    EXPECT_EQ(RunUntil(core, line, 0, 160), expected);
    Send(core, 170, 13, "EPC_STOP");
    EXPECT_EQ(RunUntil(core, line, 170, 1000),
              (Timeline{{c.stopAnsweredAt, ":00000013 STOP_INVENTORY;\r\n"}}));
    EXPECT_FALSE(core.inventoryRunning());
}

INSTANTIATE_TEST_SUITE_P(Cases, InventoryCycles,
                         ::testing::Values(CycleCase{0, 50, {0, 50, 100, 150}, 170},
                                           CycleCase{20, 50, {20, 70, 120}, 190},
                                           CycleCase{0, 30, {0, 30, 60, 90, 120, 150}, 170}));

// The output attenuation: a tag is in a cycle only while the attenuation is at most its
// margin, given or spread from 4 to 18 dB over the tags.
struct AttenuationCase {
    const char* name;
    int tags;
    std::vector<int> margins;
    const char* attenuation;   // "" : no SET_ATT_OUT
    std::vector<int> tagsRead; // 1 for 3008000000000001, ...
};

class Attenuation : public ::testing::TestWithParam<AttenuationCase> {};

TEST_P(Attenuation, LeavesOutTheTagsAboveTheirMargin) {
    const AttenuationCase& c = GetParam();
    ReaderCore core({.identifier = "VKR900-15", .tagCount = c.tags, .tagMargins = c.margins});
    BufferLine line;
    int counter = 1;
    if (*c.attenuation != '\0') {
        Send(core, 0, counter++, std::string("SET_ATT_OUT ") + c.attenuation);
    }
    Send(core, 0, counter, "KELM_EPC_INVENTORY_TIME 20 5 15");
    RunUntil(core, line, 0, 10);
    std::vector<int> read;
    for (const std::string& a : core.answers()) {
        if (a.find(" INV ") != std::string::npos) {
            read.push_back(std::stoi(a.substr(a.find(" 3008") + 5, 12), nullptr, 16));
        }
    }
    EXPECT_EQ(read, c.tagsRead);
    if (*c.attenuation != '\0') {
        EXPECT_EQ(core.answers().front(), ":00000001 OK;");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Attenuation,
    ::testing::Values(AttenuationCase{"NoneSetReadsAll", 3, {4, 8, 12}, "", {1, 2, 3}},
                      AttenuationCase{"AtAMarginTheTagIsRead", 3, {4, 8, 12}, "8", {2, 3}},
                      AttenuationCase{"AboveAMarginItIsNot", 3, {4, 8, 12}, "9", {3}},
                      AttenuationCase{"AboveAll", 3, {4, 8, 12}, "13", {}},
                      AttenuationCase{"NotANumberChangesNothing", 3, {4, 8, 12}, "9x", {1, 2, 3}},
                      // Spread: 4, 7, 10, 12, 15, 18.
                      AttenuationCase{"SixSpreadAt10", 6, {}, "10", {3, 4, 5, 6}},
                      AttenuationCase{"SixSpreadAt11", 6, {}, "11", {4, 5, 6}},
                      AttenuationCase{"SixSpreadAt7", 6, {}, "7", {2, 3, 4, 5, 6}},
                      AttenuationCase{"SixSpreadAt15", 6, {}, "15", {5, 6}},
                      AttenuationCase{"SixSpreadAt18", 6, {}, "18", {6}},
                      AttenuationCase{"SixSpreadAt19", 6, {}, "19", {}},
                      AttenuationCase{"OneTagAt18", 1, {}, "18", {1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InventoryCycleTimes, ALateTickMakesNoMissedCycleUp) {
    ReaderCore core({.identifier = "VKR900-15", .tagCount = 1, .cyclePeriodMs = 50});
    BufferLine line;
    Send(core, 0, 12, "KELM_EPC_INVENTORY_TIME 20 5 15");
    EXPECT_EQ(MsOf(core.tick(At(0), line).at), 50);
    line.taken.clear();
    // Two periods late: one cycle, and the next a period later.
    EXPECT_EQ(MsOf(core.tick(At(130), line).at), 180);
    EXPECT_EQ(line.taken, kCycle);
}

// --- Collections ------------------------------------------------------------------------

struct CollectionCase {
    int delayMs;
    int collectionMs;
    int startAt, stopAt;
};

void PrintTo(const CollectionCase& c, std::ostream* os) {
    *os << "delay " << c.delayMs << " ms, collection " << c.collectionMs << " ms";
}

class Collection : public ::testing::TestWithParam<CollectionCase> {};

TEST_P(Collection, StopsCollectionMsAfterTheStart) {
    const CollectionCase& c = GetParam();
    ReaderCore core({.identifier = "VKR433-16", .replyDelayMs = c.delayMs, .collectionMs = c.collectionMs});
    BufferLine line;
    Send(core, 0, 4, "SEND_COP_COLLECTION 16 48 11 3000");
    EXPECT_EQ(RunUntil(core, line, 0, 5000), (Timeline{{c.startAt, ":00000004 collection_start..;\r\n"},
                                                       {c.stopAt, ":00000004 collection_stop;\r\n"}}));
}

INSTANTIATE_TEST_SUITE_P(Cases, Collection,
                         ::testing::Values(CollectionCase{0, 200, 0, 200}, CollectionCase{30, 80, 30, 110}));

TEST(CollectionTimes, OverlappingCollectionsEndEachInTurn) {
    ReaderCore core({.identifier = "VKR433-16", .collectionMs = 100});
    BufferLine line;
    Send(core, 0, 1, "SEND_COP_COLLECTION 16 48 11 3000");
    EXPECT_EQ(RunUntil(core, line, 0, 49), (Timeline{{0, ":00000001 collection_start..;\r\n"}}));
    Send(core, 50, 2, "SEND_COP_COLLECTION 16 48 11 3000");
    EXPECT_EQ(RunUntil(core, line, 50, 1000), (Timeline{{50, ":00000002 collection_start..;\r\n"},
                                                        {100, ":00000001 collection_stop;\r\n"},
                                                        {150, ":00000002 collection_stop;\r\n"}}));
}

// --- When to run again ------------------------------------------------------------------

constexpr size_t kAll = std::numeric_limits<size_t>::max();
const std::string kCollect = "SEND_COP_COLLECTION 16 48 11 3000";
const std::string kInventory = "KELM_EPC_INVENTORY_TIME 20 5 15";

struct WakeCase {
    const char* name;
    Options opt;
    std::vector<std::string> commands = {}; // sent at 0
    bool flood = false;
    size_t room = kAll;   // bytes the line takes
    bool notRead = false; // the program reads nothing
    // Expected of the tick at 0.
    std::optional<int> atMs = std::nullopt;
    bool whenWritable = false;
};

void PrintTo(const WakeCase& c, std::ostream* os) {
    *os << c.name;
}

class NextWake : public ::testing::TestWithParam<WakeCase> {};

TEST_P(NextWake, IsTheEarliestThingDue) {
    const WakeCase& c = GetParam();
    ReaderCore core(c.opt);
    BufferLine line;
    line.room = c.room;
    line.notRead = c.notRead;
    for (const std::string& command : c.commands) {
        Send(core, 0, 1, command);
    }
    if (c.flood) {
        core.startFlood();
    }
    const NextTick next = core.tick(At(0), line);
    EXPECT_EQ(MsOf(next.at), c.atMs);
    EXPECT_EQ(next.whenWritable, c.whenWritable);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NextWake,
    ::testing::Values(
        WakeCase{.name = "Idle", .opt = {.identifier = "WG"}},
        WakeCase{.name = "DelayedAnswer",
                 .opt = {.identifier = "WG", .replyDelayMs = 40},
                 .commands = {"VERSION"},
                 .atMs = 40},
        WakeCase{.name = "NextPiece",
                 .opt = {.identifier = "WG", .splitParts = 2, .splitGapMs = 25},
                 .commands = {"VERSION"},
                 .atMs = 25},
        WakeCase{.name = "CollectionEndBeforeNextPiece",
                 .opt = {.identifier = "VKR433-16", .splitParts = 2, .splitGapMs = 300, .collectionMs = 100},
                 .commands = {kCollect},
                 .atMs = 100},
        WakeCase{.name = "NextPieceBeforeCollectionEnd",
                 .opt = {.identifier = "VKR433-16", .splitParts = 2, .splitGapMs = 300, .collectionMs = 500},
                 .commands = {kCollect},
                 .atMs = 300},
        WakeCase{.name = "NextCycle",
                 .opt = {.identifier = "VKR900-15", .cyclePeriodMs = 50},
                 .commands = {kInventory},
                 .atMs = 50},
        WakeCase{.name = "NextPieceBeforeNextCycle",
                 .opt = {.identifier = "VKR900-15", .splitParts = 2, .splitGapMs = 20, .cyclePeriodMs = 50},
                 .commands = {kInventory},
                 .atMs = 20},
        WakeCase{.name = "NextCycleBeforeNextPiece",
                 .opt = {.identifier = "VKR900-15", .splitParts = 2, .splitGapMs = 20, .cyclePeriodMs = 10},
                 .commands = {kInventory},
                 .atMs = 10},
        WakeCase{.name = "LineFull",
                 .opt = {.identifier = "WG"},
                 .commands = {"VERSION"},
                 .room = 5,
                 .whenWritable = true},
        WakeCase{.name = "LineFullInARun",
                 .opt = {.identifier = "VKR900-15", .cyclePeriodMs = 50},
                 .commands = {kInventory},
                 .room = 5,
                 .atMs = 50,
                 .whenWritable = true},
        WakeCase{.name = "Flood", .opt = {.identifier = "VKR900-15"}, .flood = true, .whenWritable = true},
        WakeCase{.name = "LastAnswerRead",
                 .opt = {.identifier = "WG", .hangUpAfterRequests = 1},
                 .commands = {"VERSION"}},
        // The reader looks again shortly whether the program has read it.
        WakeCase{.name = "LastAnswerUnread",
                 .opt = {.identifier = "WG", .hangUpAfterRequests = 1},
                 .commands = {"VERSION"},
                 .notRead = true,
                 .atMs = 5}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Hang-up after the last request -----------------------------------------------------

struct HangUpCase {
    const char* name;
    int delayMs;
    bool notRead;
    std::vector<int> ticksBefore;
    int hungUpAt;
};

void PrintTo(const HangUpCase& c, std::ostream* os) {
    *os << c.name;
}

class HangUpAfterLastRequest : public ::testing::TestWithParam<HangUpCase> {};

TEST_P(HangUpAfterLastRequest, WaitsUntilTheAnswerIsReadOrTwoSecondsPassed) {
    const HangUpCase& c = GetParam();
    ReaderCore core({.identifier = "WG", .replyDelayMs = c.delayMs, .hangUpAfterRequests = 1});
    BufferLine line;
    line.notRead = c.notRead;
    Send(core, 0, 1, "VERSION");
    for (int ms : c.ticksBefore) {
        core.tick(At(ms), line);
        EXPECT_FALSE(core.hungUp()) << "at " << ms;
    }
    EXPECT_EQ(MsOf(core.tick(At(c.hungUpAt), line).at), std::nullopt);
    EXPECT_TRUE(core.hungUp());
    EXPECT_EQ(line.taken, kVersionWg);
}

INSTANTIATE_TEST_SUITE_P(Cases, HangUpAfterLastRequest,
                         ::testing::Values(HangUpCase{"ReadAtOnce", 0, false, {}, 0},
                                           HangUpCase{"DelayedAnswerRead", 100, false, {0, 99}, 100},
                                           HangUpCase{"NeverRead", 0, true, {0, 1999}, 2000},
                                           HangUpCase{
                                               "DelayedAnswerNeverRead", 100, true, {0, 100, 2099}, 2100}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace rd::sim

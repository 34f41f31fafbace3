// The attenuation sweep's steps and counts, fed answer texts as a reader sends them.
#include "link/sweep.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rd {
namespace {

TEST(SweepSteps, AreWholeDecibelsApartByBlanksOrCommas) {
    struct Case {
        const char* text;
        std::vector<int> values;
        const char* error; // "" when none
    } cases[] = {
        {"0 2 4 6 8 10 12 14 16 18 20", {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20}, ""},
        {" 10,0 ,  5\t999 ", {10, 0, 5, 999}, ""},
        {"", {}, "no attenuation given"},
        {" , ", {}, "no attenuation given"},
        {"0 2 x 6", {}, "'x' is not a whole number of dB from 0 to 999"},
        {"0 2dB", {}, "'2dB' is not a whole number of dB from 0 to 999"},
        {"4.5", {}, "'4.5' is not a whole number of dB from 0 to 999"},
        {"-2", {}, "'-2' is not a whole number of dB from 0 to 999"},
        {"1000", {}, "'1000' is not a whole number of dB from 0 to 999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const SweepSteps s = ParseSweepSteps(c.text);
        EXPECT_EQ(s.values, c.values);
        EXPECT_EQ(s.error, c.error);
    }
    for (const char* bad : {"0", "-1", "x", "", "100001", "1.5"})
        EXPECT_FALSE(ParseSweepCycles(bad)) << bad;
    EXPECT_EQ(ParseSweepCycles(" 10 "), 10);
}

std::string Inv(const char* epc) {
    return std::string(":00000007 INV 1 3000 ") + epc + " -50;";
}
const std::string kCycle = ":00000007 START_INVENTORY;";
const std::string kStopped = ":00000009 STOP_INVENTORY;";

// A reader whose tags A, B and C are read up to 4, 2 and 0 dB: `cycles` cycles and the
// start of one more for each step, as a reader sends them until the stop reaches it.
Sweep::Do RunStep(Sweep& s, int dB) {
    Sweep::Do d = Sweep::Do::Nothing;
    for (int cycle = 0; cycle <= s.cycles() && d == Sweep::Do::Nothing; ++cycle) {
        d = s.answer(kCycle);
        for (const auto& [epc, margin] : {std::pair{"A", 4}, {"B", 2}, {"C", 0}})
            if (dB <= margin)
                s.answer(Inv(epc)); // after the stop was asked for they count for nothing
    }
    return d;
}

TEST(Sweep, CountsWholeCyclesPerStepAndFindsEachMargin) {
    Sweep s;
    ASSERT_EQ(s.start({0, 2, 4, 6}, 3), Sweep::Do::Start);
    // Answers before the step's first cycle (an earlier run's) count for nothing.
    EXPECT_EQ(s.answer(Inv("Z")), Sweep::Do::Nothing);
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(s.state(), Sweep::State::Running);
        EXPECT_EQ(s.step(), step);
        EXPECT_EQ(RunStep(s, s.stepValue(step)), Sweep::Do::Stop);
        EXPECT_EQ(s.state(), Sweep::State::Stopping);
        EXPECT_EQ(s.cyclesDone(), 3);
        // Answers while the stop is under way count for nothing.
        s.answer(kCycle);
        s.answer(Inv("A"));
        s.answer(kStopped);
        EXPECT_EQ(s.stopEnded(true), step < 3 ? Sweep::Do::Start : Sweep::Do::Nothing);
    }
    EXPECT_EQ(s.state(), Sweep::State::Done);
    ASSERT_EQ(s.epcs(), (std::vector<std::string>{"A", "B", "C"}));
    const std::vector<std::vector<uint64_t>> reads = {{3, 3, 3, 0}, {3, 3, 0, 0}, {3, 0, 0, 0}};
    const int margins[] = {4, 2, 0};
    for (int e = 0; e < 3; ++e) {
        for (int step = 0; step < 4; ++step)
            EXPECT_EQ(s.reads(e, step), reads[std::size_t(e)][std::size_t(step)]) << e << " " << step;
        EXPECT_EQ(s.margin(e), margins[e]);
    }
    EXPECT_EQ(s.csvLines(),
              (std::vector<std::string>{"EPC,0 dB,2 dB,4 dB,6 dB,margin dB", "A,3,3,3,0,4", "B,3,3,0,0,2",
                                        "C,3,0,0,0,0", "tags seen,3,2,1,0,", "reads,9,6,3,0,"}));
}

// The margin is the highest attenuation read at, whatever the order of the steps.
TEST(Sweep, MarginIsTheHighestValueReadAtInAnyOrder) {
    Sweep s;
    s.start({6, 0, 4, 2}, 1);
    for (int step = 0; step < 4; ++step) {
        RunStep(s, s.stepValue(step));
        s.stopEnded(true);
    }
    ASSERT_EQ(s.epcs(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(s.margin(0), 4);
    EXPECT_EQ(s.margin(1), 2);
    EXPECT_EQ(s.margin(2), 0);
    EXPECT_EQ(s.tagsSeen(0), 0);
    EXPECT_EQ(s.stepReads(2), 1u);
}

TEST(Sweep, EndsEarlyOnStopAnUnconfirmedStopOrTheReadersOwnEnd) {
    struct Case {
        const char* name;
        Sweep::Do (*act)(Sweep&);
        Sweep::Do asked;
        Sweep::State state;
    } cases[] = {
        {"STOP while a step runs", [](Sweep& s) { return s.cancel(); }, Sweep::Do::Stop,
         Sweep::State::Cancelled},
        {"STOP while its stop is under way",
         [](Sweep& s) {
             RunStep(s, 0);
             return s.cancel();
         },
         Sweep::Do::Nothing, Sweep::State::Cancelled},
        {"a stop not confirmed",
         [](Sweep& s) {
             RunStep(s, 0);
             return s.stopEnded(false);
         },
         Sweep::Do::Nothing, Sweep::State::Failed},
        {"the reader ends the run", [](Sweep& s) { return s.answer(kStopped); }, Sweep::Do::Nothing,
         Sweep::State::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sweep s;
        s.start({0, 2}, 2);
        s.answer(kCycle);
        EXPECT_EQ(c.act(s), c.asked);
        EXPECT_EQ(s.state(), c.state);
        EXPECT_FALSE(s.active());
        EXPECT_EQ(s.step(), 0);
        // Nothing more happens: the next step never starts.
        EXPECT_EQ(s.stopEnded(true), Sweep::Do::Nothing);
        EXPECT_EQ(s.answer(kCycle), Sweep::Do::Nothing);
    }
}

} // namespace
} // namespace rd

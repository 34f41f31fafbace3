// The antenna test's counting without a window: cycles and distinct tag answers, the
// automatic stop (asked for once per START, until it has gone out), answers during a
// pending stop and the tag list's memory.
#include "tools/ant_test_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rd {
namespace {

const QString kCycle = QStringLiteral(":00000001 START_INVENTORY;");
QString Tag(int n) {
    return QStringLiteral(":00000001 INV 1 1 300800000000000%1 -61;").arg(n);
}

// The model fed as the page feeds it: a stop it asks for is sent at once, and from then on
// the window's stop is pending until the test says the reader confirmed it.
struct TestRun {
    AntTestModel model;
    bool stopPending = false;
    int stops = 0; // stops asked for and sent
    int shown = 0; // answers that went on to the receive box

    void feed(const QString& answer) {
        const AntTestModel::Outcome out = model.answer(answer, stopPending);
        shown += out.shown ? 1 : 0;
        if (out.stopInventory) {
            ++stops;
            model.runStopped();
            stopPending = true;
        }
    }
    void feed(const std::vector<QString>& answers) {
        for (const QString& a : answers)
            feed(a);
    }
};

TEST(AntTestModel, CountsCyclesAndDistinctTagsAndStopsOnce) {
    struct Case {
        const char* what;
        int32_t stopCount;
        std::vector<QString> answers;
        int cycles, tags, stops, shown;
    };
    const Case cases[] = {
        {"a tag", 5, {Tag(1)}, 0, 1, 0, 1},
        {"the same text again is no new tag", 5, {Tag(1), Tag(1), Tag(1)}, 0, 1, 0, 3},
        {"one word different is a new tag",
         5,
         {Tag(1), QStringLiteral(":00000001 INV 1 2 3008000000000001 -61;"), Tag(2)},
         0,
         3,
         0,
         3},
        {"below the stop count", 5, {kCycle, kCycle, kCycle, kCycle}, 4, 0, 0, 4},
        {"the fifth cycle stops; what follows while the stop is pending is neither counted nor shown",
         5,
         {kCycle, kCycle, kCycle, kCycle, kCycle, Tag(1), kCycle},
         5,
         0,
         1,
         5},
        {"stop count 1", 1, {kCycle, Tag(1)}, 1, 0, 1, 1},
        {"stop count 0 stops at the first cycle", 0, {kCycle, Tag(1)}, 1, 0, 1, 1},
        {"a negative stop count too", -3, {kCycle, Tag(1)}, 1, 0, 1, 1},
        {"tags between the cycles", 2, {kCycle, Tag(1), Tag(2), kCycle, Tag(3)}, 2, 2, 1, 4},
        {"answers without the words counted",
         5,
         {QStringLiteral("INV 1;"), QStringLiteral(":1 inv;"), QStringLiteral(":1 start_inventory;"),
          QStringLiteral(":1 STOP_INVENTORY;"), QStringLiteral(":1 INVENTORY;"), QStringLiteral(":1;"),
          QString()},
         0,
         0,
         0,
         7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestRun run;
        run.model.start(c.stopCount);
        run.feed(c.answers);
        EXPECT_EQ(run.model.cycles(), c.cycles);
        EXPECT_EQ(run.model.tags(), c.tags);
        EXPECT_EQ(run.stops, c.stops);
        EXPECT_EQ(run.shown, c.shown);
        EXPECT_EQ(run.model.cycleText(), QStringLiteral("INV:%1").arg(c.cycles));
        EXPECT_EQ(run.model.tagText(), QStringLiteral("TAGs:%1").arg(c.tags));
    }
}

TEST(AntTestModel, BeforeAnyStartAnswersAreOnlyShown) {
    TestRun run;
    run.feed({kCycle, kCycle, Tag(1), QStringLiteral("garbage")});
    EXPECT_FALSE(run.model.started());
    EXPECT_EQ(run.model.cycles(), 0);
    EXPECT_EQ(run.model.tags(), 0);
    EXPECT_EQ(run.stops, 0);
    EXPECT_EQ(run.shown, 4);
}

// Once the reader has confirmed the stop, a later inventory (begun on another page) runs
// on: its cycles are counted, but the test's stop has been used up.
TEST(AntTestModel, TheStopFiresOncePerStartAndCyclesCountOn) {
    TestRun run;
    run.model.start(2);
    run.feed({kCycle, kCycle});
    ASSERT_EQ(run.stops, 1);
    EXPECT_FALSE(run.model.autoStopArmed());
    run.stopPending = false; // confirmed
    run.feed({kCycle, kCycle, kCycle});
    EXPECT_EQ(run.stops, 1);
    EXPECT_EQ(run.model.cycles(), 5);

    // A new START counts from 0 and stops its own run at the count again.
    run.model.start(2);
    EXPECT_TRUE(run.model.autoStopArmed());
    EXPECT_EQ(run.model.cycles(), 0);
    run.feed(kCycle);
    EXPECT_EQ(run.stops, 1);
    run.feed(kCycle);
    EXPECT_EQ(run.stops, 2);
}

// STOP before the count uses up the test's stop as well.
TEST(AntTestModel, StoppedByHandTheTestAsksForNoStop) {
    TestRun run;
    run.model.start(2);
    run.feed(kCycle);
    run.model.runStopped();
    run.feed({kCycle, kCycle, kCycle});
    EXPECT_EQ(run.stops, 0);
    EXPECT_EQ(run.model.cycles(), 4);
}

// A stop that did not go out (the send failed, runStopped never came) is asked for again
// at the next cycle.
TEST(AntTestModel, AStopNotSentIsAskedForAgain) {
    AntTestModel model;
    model.start(2);
    EXPECT_FALSE(model.answer(kCycle, false).stopInventory);
    EXPECT_TRUE(model.answer(kCycle, false).stopInventory);
    EXPECT_TRUE(model.answer(Tag(1), false).tagAdded);
    EXPECT_TRUE(model.answer(kCycle, false).stopInventory);
    model.runStopped();
    EXPECT_FALSE(model.answer(kCycle, false).stopInventory);
    EXPECT_EQ(model.cycles(), 4);
}

TEST(AntTestModel, AnEmptiedTagListLetsSeenTagsCountAgain) {
    TestRun run;
    run.model.start(5);
    run.feed({Tag(1), Tag(2)});
    run.model.tagListCleared();
    EXPECT_EQ(run.model.tags(), 2);
    run.feed({Tag(1), Tag(1)});
    EXPECT_EQ(run.model.tags(), 3);

    // START empties the list as well.
    run.model.start(5);
    run.feed({Tag(1), Tag(2), Tag(3)});
    EXPECT_EQ(run.model.tags(), 3);
}

} // namespace
} // namespace rd

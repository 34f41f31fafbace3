// The antenna test page on the real window: counting of cycles and distinct tags, the
// automatic stop, the copy of answers to MemoUTIL_REC and the state a test leaves behind.
#include "window_fixture.h"

#include "kit/form_timer.h"
#include "tools/ant_test.h"
#include "tools/inv_log.h"

namespace rd::testing {
namespace {

const QString kCycle = QStringLiteral(":00000001 START_INVENTORY;");
QString Tag(int n) {
    return QStringLiteral(":00000001 INV 1 1 300800000000000%1 -61;").arg(n);
}

class AntTestPageTest : public WindowTest {
  protected:
    AntTestPage& page() { return *form().pageANT_TEST; }
    void answer(const QString& a) { page().AntTestAnswer(a); }
    void start(const QString& stopCount) {
        c<QComboBox>("ComboBox_ANT_TEST_STOP_INV")->setEditText(stopCount);
        page().BitBtn_ANT_TEST_STARTClick();
    }
    int received() { return memo("MemoUTIL_REC")->count(); }
};

TEST_F(AntTestPageTest, BeforeAnyStartAnswersAreOnlyCopied) {
    form();
    const int before = received();
    for (const QString& a : {kCycle, Tag(1), QStringLiteral(":00000002 OK;"), QStringLiteral("garbage")})
        answer(a);
    EXPECT_EQ(page().model().cycles(), 0);
    EXPECT_EQ(page().model().tags(), 0);
    EXPECT_EQ(memo("MemoANT_TEST_TAGS")->count(), 0);
    ASSERT_EQ(received(), before + 4);
    EXPECT_EQ(memo("MemoUTIL_REC")->line(before + 3), "garbage");
    EXPECT_EQ(text("Label_ANT_TEST_INV_COUNT"), "");
}

TEST_F(AntTestPageTest, StartResetsCountersLabelsListAndButtons) {
    form();
    start("5");
    answer(kCycle);
    answer(Tag(1));
    start("7");
    EXPECT_TRUE(page().model().started());
    EXPECT_EQ(page().model().stopCount(), 7);
    EXPECT_EQ(page().model().cycles(), 0);
    EXPECT_EQ(page().model().tags(), 0);
    EXPECT_EQ(text("Label_ANT_TEST_INV_COUNT"), "INV:0");
    EXPECT_EQ(text("LabelANT_TEST_TAG_COUNT"), "TAGs:0");
    EXPECT_EQ(memo("MemoANT_TEST_TAGS")->count(), 0);
    EXPECT_FALSE(enabled("BitBtn_ANT_TEST_START"));
    EXPECT_TRUE(enabled("BitBtn_ANT_TEST_STOP"));
    EXPECT_EQ(form().StopPending(), 0);
}

// Answers after START with a given stop count: counters, labels and the stop.
TEST_F(AntTestPageTest, CountsCyclesAndDistinctTagsUntilTheStopCount) {
    struct Case {
        const char* stopCount;
        std::vector<QString> answers;
        int cycles, tags;
        bool stopped;
        int copied; // answers that reached MemoUTIL_REC
    };
    const Case cases[] = {
        // The first tag is new; the same text again is not; one word different is a new tag.
        {"5", {Tag(1)}, 0, 1, false, 1},
        {"5", {Tag(1), Tag(1)}, 0, 1, false, 2},
        {"5", {Tag(1), QStringLiteral(":00000001 INV 1 2 3008000000000001 -61;"), Tag(2)}, 0, 3, false, 3},
        // The fifth cycle stops; what follows while the stop is pending is ignored.
        {"5", {kCycle, kCycle, kCycle, kCycle}, 4, 0, false, 4},
        {"5", {kCycle, kCycle, kCycle, kCycle, kCycle, Tag(1), kCycle}, 5, 0, true, 5},
        // A stop count of 1, 0 or below stops at the first cycle.
        {"1", {kCycle, Tag(1)}, 1, 0, true, 1},
        {"0", {kCycle, Tag(1)}, 1, 0, true, 1},
        {"-3", {kCycle, Tag(1)}, 1, 0, true, 1},
        // Tags between the cycles are counted.
        {"2", {kCycle, Tag(1), Tag(2), kCycle, Tag(3)}, 2, 2, true, 4},
        // Texts that are not frames, or other keywords, are not counted.
        {"5",
         {QStringLiteral("INV 1;"), QStringLiteral(":1 inv;"), QStringLiteral(":1 STOP_INVENTORY;")},
         0,
         0,
         false,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("stop count ") + c.stopCount + ", answers " +
                     std::to_string(c.answers.size()));
        window.reset();
        start(QString::fromLatin1(c.stopCount));
        const int before = received();
        for (const QString& a : c.answers)
            answer(a);
        EXPECT_EQ(page().model().cycles(), c.cycles);
        EXPECT_EQ(page().model().tags(), c.tags);
        EXPECT_EQ(text("Label_ANT_TEST_INV_COUNT"), QStringLiteral("INV:%1").arg(c.cycles));
        EXPECT_EQ(text("LabelANT_TEST_TAG_COUNT"), QStringLiteral("TAGs:%1").arg(c.tags));
        EXPECT_EQ(memo("MemoANT_TEST_TAGS")->count(), c.tags);
        EXPECT_EQ(form().StopPending(), c.stopped ? 1 : 0);
        EXPECT_EQ(enabled("BitBtn_ANT_TEST_STOP"), !c.stopped);
        EXPECT_EQ(received(), before + c.copied);
    }
}

TEST_F(AntTestPageTest, TagListHoldsTheWholeAnswersInOrderOfArrival) {
    form();
    start("5");
    for (const QString& a : {Tag(2), Tag(1), Tag(2), Tag(3)})
        answer(a);
    EXPECT_EQ(memo("MemoANT_TEST_TAGS")->lines()->lines(), (QStringList{Tag(2), Tag(1), Tag(3)}));
}

TEST_F(AntTestPageTest, EmptyingTheTagListLetsSeenTagsCountAgain) {
    form();
    start("5");
    answer(Tag(1));
    answer(Tag(2));
    memo("MemoANT_TEST_TAGS")->doubleClick();
    EXPECT_EQ(page().model().tags(), 2);
    answer(Tag(1));
    answer(Tag(1));
    EXPECT_EQ(page().model().tags(), 3);
    EXPECT_EQ(text("LabelANT_TEST_TAG_COUNT"), "TAGs:3");
    EXPECT_EQ(memo("MemoANT_TEST_TAGS")->lines()->lines(), QStringList{Tag(1)});
}

TEST_F(AntTestPageTest, AStopCountThatIsNoIntegerChangesNothing) {
    form();
    start("5");
    answer(kCycle);
    c<QComboBox>("ComboBox_ANT_TEST_STOP_INV")->setEditText("5x");
    click("BitBtn_ANT_TEST_START"); // disabled: a click does nothing at all
    EXPECT_TRUE(errors.isEmpty());
    c<QWidget>("BitBtn_ANT_TEST_START")->setEnabled(true);
    click("BitBtn_ANT_TEST_START");
    EXPECT_EQ(errors, QStringList{"''5x'' is not a valid integer value"});
    EXPECT_EQ(page().model().stopCount(), 5);
    EXPECT_EQ(page().model().cycles(), 1);
    EXPECT_EQ(text("Label_ANT_TEST_INV_COUNT"), "INV:1");
}

TEST_F(AntTestPageTest, StopButtonStopsAndLeavesStartDisabled) {
    form();
    start("5");
    click("BitBtn_ANT_TEST_STOP");
    EXPECT_EQ(form().StopPending(), 1);
    EXPECT_FALSE(enabled("BitBtn_ANT_TEST_STOP"));
    EXPECT_FALSE(enabled("BitBtn_ANT_TEST_START"));
    const int before = received();
    answer(kCycle);
    EXPECT_EQ(page().model().cycles(), 0);
    EXPECT_EQ(received(), before);
}

// On the wire: the start command, the automatic stop, START during a stop begun elsewhere
// and later inventories from other pages left running.
TEST_F(AntTestPageTest, SendsStartAndStopCommands) {
    sim::Options o;
    o.identifier = "VKR900-15";
    connectedTo(o);
    c<QComboBox>("ComboBoxEPC_INVENTORY_TIME_Q")->setEditText("7");
    start("2");
    ASSERT_TRUE(waitForSent(1));
    EXPECT_EQ(sent().back(), "KELM_EPC_INVENTORY_TIME 7 5 15");
    answer(kCycle);
    answer(kCycle);
    ASSERT_TRUE(waitForSent(2));
    EXPECT_EQ(sent().back(), "EPC_STOP");
    EXPECT_EQ(form().StopPending(), 1);
}

TEST_F(AntTestPageTest, StartDuringAPendingStopKeepsTheStopPending) {
    sim::Options o;
    connectedTo(o);
    form().StopInventoryRun(); // begun on another page
    start("5");
    ASSERT_TRUE(waitForSent(2));
    EXPECT_EQ(sent(), (std::vector<std::string>{"EPC_STOP", "KELM_EPC_INVENTORY_TIME 20 5 15"}));
    EXPECT_EQ(form().StopPending(), 1);
    answer(kCycle);
    EXPECT_EQ(page().model().cycles(), 0);
    // Once the reader confirms, the retry timer gives START back.
    form().StopInventoryAnswer(QStringLiteral(":00000003 STOP_INVENTORY;"));
    form().TimerSTOP->fire();
    EXPECT_TRUE(enabled("BitBtn_ANT_TEST_START"));
}

// The automatic stop fires once per START. A test ended by it or by STOP leaves an
// inventory started later from any page running; its cycles are still counted here, and
// only a new START arms the stop again.
TEST_F(AntTestPageTest, AFinishedTestLeavesALaterInventoryRunning) {
    const char* const startButtons[] = {"BitBtnLOG_INV_START", "BitBtnKAMAZ_START_INV",
                                        "BitBtnEPC_INVENTORY_TIME"};
    for (const bool byStopButton : {false, true}) {
        for (const char* button : startButtons) {
            SCOPED_TRACE(std::string(button) + (byStopButton ? ", test ended by STOP" : ", automatic stop"));
            window.reset();
            sim.reset();
            sim::Options o;
            connectedTo(o);
            start("2");
            answer(kCycle);
            if (byStopButton)
                click("BitBtn_ANT_TEST_STOP");
            else
                answer(kCycle);
            ASSERT_EQ(form().StopPending(), 1);
            form().StopInventoryAnswer(QStringLiteral(":00000003 STOP_INVENTORY;"));
            ASSERT_EQ(form().StopPending(), 0);
            const int counted = page().model().cycles();

            ASSERT_TRUE(enabled(button));
            click(button);
            for (int i = 0; i < 3; ++i)
                answer(kCycle);
            EXPECT_EQ(form().StopPending(), 0);
            EXPECT_EQ(page().model().cycles(), counted + 3);
            EXPECT_EQ(text("Label_ANT_TEST_INV_COUNT"), QStringLiteral("INV:%1").arg(counted + 3));
            ASSERT_TRUE(waitForSent(3));
            EXPECT_FALSE(sim->waitForRequests(sim->requestCount() + 1, 100)) << "a stop was sent";
            EXPECT_EQ(sent(), (std::vector<std::string>{"KELM_EPC_INVENTORY_TIME 20 5 15", "EPC_STOP",
                                                        "KELM_EPC_INVENTORY_TIME 20 5 15"}));

            // A new START counts from 0 and stops its own run at the count again.
            c<QWidget>("BitBtn_ANT_TEST_START")->setEnabled(true);
            start("2");
            answer(kCycle);
            EXPECT_EQ(form().StopPending(), 0);
            answer(kCycle);
            EXPECT_EQ(form().StopPending(), 1);
            EXPECT_EQ(page().model().cycles(), 2);
        }
    }
}

} // namespace
} // namespace rd::testing

// The inventory run state on the pages that start or follow runs: running from the start
// command, stopping from "EPC_STOP" until the reader confirms it, stopped after; a stop never
// confirmed and a run cut off by a lost connection say so until the next start; every status
// label tells assistive technology what it shows.
#include "sim_window.h"

#include "kit/run_state_label.h"
#include "kit/widgets.h"

#include <QAccessible>
#include <QLabel>
#include <QTest>

namespace rd::testing {
namespace {

const QString kRunning = QStringLiteral("Inventory: running");
const QString kStopping = QStringLiteral("Inventory: stopping…");
const QString kStopped = QStringLiteral("Inventory: stopped");
const QString kNotConfirmed = QStringLiteral("Inventory: stop not confirmed");
const QString kInterrupted = QStringLiteral("Inventory: interrupted (connection lost)");

enum class Start { Page900, Console };
enum class Stop { PageButton, Console };

struct RunCase {
    const char* name;
    Start start;
    Stop stop;
    bool confirmStop;
};

class RunStates : public SimWindowTest {
  protected:
    // The indicator's text on each of the five pages; a page without one shows "(none)".
    QStringList shown() {
        QStringList texts;
        for (const char* page :
             {"TabSheet900", "TabSheet_ANT_TEST", "TabSheetLOG", "TabSheetKAMAZ", "TabSheetTAGS"}) {
            auto* p = control<QWidget>(page);
            auto* l = p ? p->findChild<RunStateLabel*>(QStringLiteral("LabelRUN_STATE")) : nullptr;
            texts << (l ? l->text() : QStringLiteral("(none)"));
        }
        return texts;
    }
    static QStringList all(const QString& text) { return QStringList(5, text); }
    void console(const char* command) {
        control<QComboBox>("ComboBoxUTIL_COMMAND")->setEditText(command);
        click("BitBtnUTIL_SEND_COMMAND");
    }
    // The colour of the first page's indicator.
    QColor shownColor() {
        return FontColor(control<QWidget>("TabSheet900")->findChild<RunStateLabel*>("LabelRUN_STATE"));
    }
};

class RunStateShown : public RunStates, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunStateShown, FollowsStartStopAndItsEnd) {
    const RunCase& r = GetParam();
    sim::Options o;
    o.confirmStop = r.confirmStop;
    sim::ReaderSim& reader = addReader("VKR900-15", 1, o);
    EXPECT_EQ(shown(), all(kStopped));
    scan();
    ASSERT_TRUE(window().connected());

    if (r.start == Start::Page900)
        click("BitBtnEPC_INVENTORY_TIME");
    else
        console("KELM_EPC_INVENTORY_TIME 20 5 15");
    EXPECT_EQ(shown(), all(kRunning));
    // The run's answers leave it running.
    ASSERT_TRUE(routeUntil([&] { return window().answersRouted() >= 5; }));
    EXPECT_EQ(shown(), all(kRunning));

    const auto begun = std::chrono::steady_clock::now();
    if (r.stop == Stop::PageButton)
        click("BitBtnKELM_INVENTORY_STOP");
    else
        console("EPC_STOP");
    EXPECT_EQ(shown(), all(kStopping));

    if (r.confirmStop) {
        EXPECT_TRUE(routeUntil([&] { return shown() == all(kStopped); }, 2000))
            << shown().join(", ").toStdString();
        EXPECT_FALSE(reader.inventoryRunning());
        return;
    }
    // Never confirmed: stopping while the retries go on, "stop not confirmed" (red) when they
    // give up, until the reader confirms after all.
    while (window().TimerSTOP->enabled() &&
           std::chrono::steady_clock::now() - begun < std::chrono::seconds(6)) {
        window().TimerMAIN->fire();
        if (std::chrono::steady_clock::now() - begun < std::chrono::milliseconds(2500)) {
            EXPECT_EQ(shown(), all(kStopping));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        window().TimerSTOP->fire();
    }
    EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(3000));
    EXPECT_EQ(shown(), all(kNotConfirmed));
    EXPECT_EQ(shownColor(), colors::red());
    window().TimerMAIN->fire();
    EXPECT_EQ(shown(), all(kNotConfirmed));
    reader.sendAnswer("STOP_INVENTORY");
    EXPECT_TRUE(routeUntil([&] { return shown() == all(kStopped); }, 2000))
        << shown().join(", ").toStdString();
    EXPECT_NE(shownColor(), colors::red());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunStateShown,
    ::testing::Values(RunCase{"ConfirmedStop", Start::Page900, Stop::PageButton, true},
                      RunCase{"StopNeverConfirmed", Start::Page900, Stop::PageButton, false},
                      RunCase{"TypedAtTheConsole", Start::Console, Stop::Console, true}),
    [](const ::testing::TestParamInfo<RunCase>& i) { return std::string(i.param.name); });

// A stop typed at the console that the reader never confirms ends as one the retries gave up;
// the next start shows the run.
TEST_F(RunStates, ConsoleStopNeverConfirmedUntilTheNextStart) {
    sim::Options o;
    o.confirmStop = false;
    addReader("VKR900-15", 1, o);
    scan();
    ASSERT_TRUE(window().connected());
    console("KELM_EPC_INVENTORY_TIME 20 5 15");
    console("EPC_STOP");
    EXPECT_EQ(shown(), all(kStopping));
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown() != all(kStopping); }, 5000));
    EXPECT_EQ(shown(), all(kNotConfirmed));
    console("KELM_EPC_INVENTORY_TIME 20 5 15");
    EXPECT_EQ(shown(), all(kRunning));
}

enum class Before { NoRun, Running, Stopping };

struct LossCase {
    const char* name;
    Before before;
};

class RunStateOnLoss : public RunStates, public ::testing::WithParamInterface<LossCase> {};

// A lost connection ends the run as far as the window knows; the reader, plugged in again,
// may still be running it and is told to stop, once.
TEST_P(RunStateOnLoss, InterruptedUntilTheNextStartAndStoppedOnceAfterTheReconnect) {
    const LossCase& r = GetParam();
    sim::Options o;
    o.confirmStop = false; // a stop under way stays pending until the loss
    sim::ReaderSim* reader = &addReader("VKR900-15", 1, o);
    scan();
    ASSERT_TRUE(window().connected());
    if (r.before != Before::NoRun) {
        click("BitBtnEPC_INVENTORY_TIME");
        ASSERT_TRUE(routeUntil([&] { return window().answersRouted() >= 5; }));
    }
    if (r.before == Before::Stopping) {
        click("BitBtnKELM_INVENTORY_STOP");
        EXPECT_EQ(shown(), all(kStopping));
        EXPECT_TRUE(window().TimerSTOP->enabled());
    }
    const QString cut = r.before == Before::NoRun ? kStopped : kInterrupted;

    reader->hangUp();
    ASSERT_TRUE(routeUntil([&] { return window().connection()->lost(); }));
    EXPECT_EQ(shown(), all(cut));
    EXPECT_EQ(shownColor() == colors::red(), r.before != Before::NoRun);
    // The stop's retries end with the connection: nothing more is waited for.
    EXPECT_FALSE(window().TimerSTOP->enabled());
    EXPECT_EQ(window().StopPending(), 0);

    dropReader(*reader);
    reader = &addReader("VKR900-15", 1);
    ASSERT_TRUE(routeUntil([&] { return window().connected(); }, 5000));
    const std::vector<std::string> expected = r.before == Before::NoRun
                                                  ? std::vector<std::string>{"VERSION"}
                                                  : std::vector<std::string>{"VERSION", "EPC_STOP"};
    reader->waitForRequests(expected.size(), 2000);
    // The reader's confirmation and later answers leave the state as it is; no further stop.
    routeUntil([] { return false; }, 500);
    window().TimerSTOP->fire();
    EXPECT_EQ(reader->commands(), expected);
    EXPECT_EQ(memo("MemoTERMINAL")->lines()->lines().filter("EPC_STOP sent").size(),
              r.before == Before::NoRun ? 0 : 1);
    EXPECT_EQ(shown(), all(cut));

    click("BitBtnEPC_INVENTORY_TIME");
    EXPECT_EQ(shown(), all(kRunning));
}

INSTANTIATE_TEST_SUITE_P(Cases, RunStateOnLoss,
                         ::testing::Values(LossCase{"NoRun", Before::NoRun},
                                           LossCase{"Running", Before::Running},
                                           LossCase{"Stopping", Before::Stopping}),
                         [](const ::testing::TestParamInfo<LossCase>& i) {
                             return std::string(i.param.name);
                         });

// What every label shows reaches assistive technology: by its accessible name, or by its
// description when the name says what the label is.
TEST_F(RunStates, EveryLabelTellsAssistiveTechnologyWhatItShows) {
    sim::Options o;
    o.confirmStop = false;
    addReader("VKR900-15", 1, o);
    scan();
    ASSERT_TRUE(window().connected());
    auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        int runStateLabels = 0;
        for (QLabel* label : window().findChildren<QLabel*>()) {
            if (label->text().isEmpty() || label->objectName().startsWith("qt_"))
                continue;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(label);
            ASSERT_TRUE(a) << label->objectName().toStdString();
            const QString told = a->text(QAccessible::Name) + '\n' + a->text(QAccessible::Description);
            EXPECT_TRUE(told.contains(label->text()))
                << label->objectName().toStdString() << ": " << label->text().toStdString() << " / "
                << told.toStdString();
            runStateLabels += label->objectName() == "LabelRUN_STATE";
        }
        EXPECT_EQ(runStateLabels, 6);
    };
    check("stopped");
    click("BitBtnEPC_INVENTORY_TIME");
    check("running");
    click("BitBtnKELM_INVENTORY_STOP");
    check("stopping");
}

} // namespace
} // namespace rd::testing

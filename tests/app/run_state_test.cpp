// The inventory run state on the pages that start or follow runs: running from the start
// command, stopping from "EPC_STOP" until the reader confirms it or the retries end,
// stopped after.
#include "sim_window.h"

#include "kit/run_state_label.h"

namespace rd::testing {
namespace {

const QString kRunning = QStringLiteral("Inventory: running");
const QString kStopping = QStringLiteral("Inventory: stopping…");
const QString kStopped = QStringLiteral("Inventory: stopped");

enum class Start { Page900, Console };
enum class Stop { PageButton, Console };

struct RunCase {
    const char* name;
    Start start;
    Stop stop;
    bool confirmStop;
};

class RunStateShown : public SimWindowTest, public ::testing::WithParamInterface<RunCase> {
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
};

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
    // Never confirmed: stopping while the retries go on, stopped when they give up.
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
    EXPECT_EQ(shown(), all(kStopped));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunStateShown,
    ::testing::Values(RunCase{"ConfirmedStop", Start::Page900, Stop::PageButton, true},
                      RunCase{"StopNeverConfirmed", Start::Page900, Stop::PageButton, false},
                      RunCase{"TypedAtTheConsole", Start::Console, Stop::Console, true}),
    [](const ::testing::TestParamInfo<RunCase>& i) { return std::string(i.param.name); });

} // namespace
} // namespace rd::testing

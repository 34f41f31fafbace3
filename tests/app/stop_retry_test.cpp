// The end of a stop's retries when the reader never confirms it or a retry cannot be sent,
// and the stop sent to a reader still running an inventory when the window closes or its
// connection ends (COM, CLOSE).
#include "sim_window.h"

#include <QFile>
#include <QTemporaryDir>

namespace rd::testing {
namespace {

const QString kAbandoned = QStringLiteral("!! EPC_STOP not confirmed after 3 s; stop abandoned");

class RunControl : public SimWindowTest {
  protected:
    sim::ReaderSim& connect(const std::string& identifier, sim::Options o = {}) {
        sim::ReaderSim& r = addReader(identifier, 1, o);
        scan();
        EXPECT_TRUE(window().connected());
        base_ = r.requestCount();
        counter_ = window().connection()->commandCounter();
        return r;
    }
    std::vector<std::string> sentSince(sim::ReaderSim& r, std::size_t from) const {
        auto all = r.commands();
        return {all.begin() + std::ptrdiff_t(std::min(from, all.size())), all.end()};
    }
    std::size_t base_ = 0;
    int32_t counter_ = 0; // the port object's request counter at base_
};

struct StopCase {
    const char* name;
    const char* identifier;
    bool confirmStop;
    bool emptyAddressBox; // emptied after the first "EPC_STOP"
    bool abandonedLine;
    int errorsShown;
    bool startEnabled; // START comes back only with a 900 MHz reader connected
};

class StopRetries : public RunControl, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopRetries, EndWhenNeverConfirmedOrWhenARetryFails) {
    const StopCase& r = GetParam();
    sim::Options o;
    o.confirmStop = r.confirmStop;
    sim::ReaderSim& reader = connect(r.identifier, o);
    QTemporaryDir tmp;
    window().setTrafficLog(tmp.filePath("traffic.log"));
    auto* start = control<QWidget>("BitBtn_ANT_TEST_START");
    start->setEnabled(false);
    auto* address = control<QComboBox>("ComboBoxUTIL_ADDR");

    const auto begun = std::chrono::steady_clock::now();
    window().StopInventoryRun();
    if (r.emptyAddressBox)
        address->setEditText("");
    while (window().TimerSTOP->enabled() &&
           std::chrono::steady_clock::now() - begun < std::chrono::seconds(6)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        window().TimerSTOP->fire();
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begun)
            .count();

    EXPECT_FALSE(window().TimerSTOP->enabled());
    EXPECT_EQ(window().StopPending(), 0);
    // As after a confirmed stop.
    EXPECT_EQ(start->isEnabled(), r.startEnabled);
    EXPECT_EQ(errors.size(), r.errorsShown);
    if (r.abandonedLine) {
        EXPECT_GE(ms, 3000);
        EXPECT_LT(ms, 4500);
    } else {
        EXPECT_LT(ms, 1000);
    }
    QFile log(tmp.filePath("traffic.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(log.readAll()).contains(kAbandoned), r.abandonedLine);
    EXPECT_EQ(has(memo("MemoUTIL_REC"), kAbandoned), r.abandonedLine);
    EXPECT_EQ(has(memo("MemoTERMINAL"), kAbandoned), r.abandonedLine);

    // Over: later ticks send nothing and show nothing. (Every stop the window wrote has
    // reached the reader before the count is taken.)
    ASSERT_TRUE(reader.waitForRequests(
        base_ + std::size_t(window().connection()->commandCounter() - counter_), 2000));
    const std::size_t sent = sentSince(reader, base_).size();
    EXPECT_LE(sent, 31u);
    window().TimerSTOP->fire();
    window().TimerSTOP->fire();
    EXPECT_FALSE(reader.waitForRequests(base_ + sent + 1, 300));
    EXPECT_EQ(errors.size(), r.errorsShown);

    // A new stop has its own 3 s.
    address->setEditText("01");
    window().StopInventoryRun();
    window().TimerSTOP->fire();
    EXPECT_EQ(window().StopPending(), 1);
    EXPECT_TRUE(reader.waitForRequests(base_ + sent + 2, 2000));
    EXPECT_EQ(sentSince(reader, base_ + sent), std::vector<std::string>(2, "EPC_STOP"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopRetries,
    // A 433 MHz reader does not know the command (a mis-click on INVENTORY_STOP).
    ::testing::Values(StopCase{"NeverConfirmed", "VKR433-16", true, false, true, 0, false},
                      StopCase{"AddressBoxEmptied", "VKR900-15", false, true, false, 1, true}),
    [](const ::testing::TestParamInfo<StopCase>& i) { return std::string(i.param.name); });

const QString kWaitsForReader = QStringLiteral("no reader connected: EPC_STOP goes to the next reader found");

struct NoReaderCase {
    const char* name;
    const char* identifier; // the reader found after the stop
    bool confirms;          // it confirms the stop (a 433 MHz reader does not know it)
};

class StopWithoutReader : public RunControl, public ::testing::WithParamInterface<NoReaderCase> {
  protected:
    // Fires TimerSTOP every 100 ms for ms milliseconds, or until it is switched off.
    void tickFor(int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (window().TimerSTOP->enabled() && std::chrono::steady_clock::now() < end) {
            window().TimerSTOP->fire();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
};

// With nothing connected the stop waits for the next reader, however long: its 3 s run
// from the first "EPC_STOP" that reaches one, and START stays off without a 900 MHz reader.
TEST_P(StopWithoutReader, WaitsForTheNextReaderFound) {
    const NoReaderCase& r = GetParam();
    auto* start = control<QWidget>("BitBtn_ANT_TEST_START");
    click("BitBtnLOG_INV_STOP");
    click("BitBtnLOG_INV_STOP");
    tickFor(3300);
    EXPECT_EQ(window().StopPending(), 1);
    EXPECT_TRUE(window().TimerSTOP->enabled());
    EXPECT_FALSE(start->isEnabled());
    EXPECT_FALSE(has(memo("MemoTERMINAL"), kAbandoned));
    EXPECT_EQ(memo("MemoTERMINAL")->lines()->lines().count(kWaitsForReader), 1);

    sim::Options o;
    o.confirmStop = r.confirms;
    sim::ReaderSim& reader = connect(r.identifier, o);
    const auto found = std::chrono::steady_clock::now();
    window().TimerSTOP->fire();
    ASSERT_TRUE(reader.waitForRequests(base_ + 1, 2000));
    EXPECT_EQ(sentSince(reader, base_), std::vector<std::string>{"EPC_STOP"});
    EXPECT_EQ(window().StopPending(), 1);
    if (r.confirms) {
        ASSERT_TRUE(routeUntil([&] { return window().StopPending() == 0; }));
        window().TimerSTOP->fire();
    } else {
        tickFor(6000);
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - found)
            .count();
    EXPECT_FALSE(window().TimerSTOP->enabled());
    EXPECT_EQ(window().StopPending(), 0);
    EXPECT_EQ(has(memo("MemoTERMINAL"), kAbandoned), !r.confirms);
    if (!r.confirms) {
        EXPECT_GE(ms, 3000);
    }
    EXPECT_EQ(start->isEnabled(), r.confirms);
    EXPECT_EQ(memo("MemoTERMINAL")->lines()->lines().count(kWaitsForReader), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, StopWithoutReader,
                         ::testing::Values(NoReaderCase{"A900ReaderConfirms", "VKR900-15", true},
                                           NoReaderCase{"A433ReaderNeverConfirms", "VKR433-16", false}),
                         [](const ::testing::TestParamInfo<NoReaderCase>& i) {
                             return std::string(i.param.name);
                         });

enum class BeforeClose { Nothing, PageStart, ConsoleStart, StartStoppedConfirmed };
// How the connection ends: the window closes, COM scans anew (and finds the reader again),
// CLOSE ends it.
enum class End { Window, ComButton, CloseButton };

struct CloseCase {
    const char* name;
    BeforeClose before;
    int stopAddress; // 0: nothing is sent at the close
    End end = End::Window;
};

class CloseDuringRun : public RunControl, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseDuringRun, StopsTheReaderOnce) {
    const CloseCase& r = GetParam();
    sim::ReaderSim& reader = connect("VKR900-15");
    switch (r.before) {
    case BeforeClose::Nothing:
        break;
    case BeforeClose::PageStart:
        click("BitBtnEPC_INVENTORY_TIME");
        break;
    case BeforeClose::ConsoleStart:
        // To address 05; the box shows another address by the time the window closes.
        control<QComboBox>("ComboBoxUTIL_COMMAND")->setEditText("KELM_EPC_INVENTORY_TIME 20 5 15");
        control<QComboBox>("ComboBoxUTIL_ADDR")->setEditText("05");
        click("BitBtnUTIL_SEND_COMMAND");
        control<QComboBox>("ComboBoxUTIL_ADDR")->setEditText("02");
        break;
    case BeforeClose::StartStoppedConfirmed:
        click("BitBtnEPC_INVENTORY_TIME");
        window().StopInventoryRun();
        ASSERT_TRUE(routeUntil([&] { return window().StopPending() == 0; }));
        break;
    }
    const std::size_t beforeClose = base_ + (r.before == BeforeClose::Nothing                 ? 0
                                             : r.before == BeforeClose::StartStoppedConfirmed ? 2
                                                                                              : 1);
    ASSERT_TRUE(reader.waitForRequests(beforeClose, 2000));
    EXPECT_EQ(reader.inventoryRunning(), r.stopAddress != 0);
    QTemporaryDir tmp;
    window().setTrafficLog(tmp.filePath("traffic.log"));
    std::vector<std::string> expected;
    if (r.stopAddress != 0)
        expected.push_back("EPC_STOP");
    switch (r.end) {
    case End::Window:
        destroyWindow();
        break;
    case End::ComButton:
        scan();
        EXPECT_TRUE(window().connected());
        expected.push_back("VERSION");
        break;
    case End::CloseButton:
        click("BitBtnUTIL_CLOSE");
        EXPECT_FALSE(window().connected());
        break;
    }
    ASSERT_TRUE(reader.waitForRequests(beforeClose + expected.size(), 2000));
    EXPECT_FALSE(reader.waitForRequests(beforeClose + expected.size() + 1, 300));
    EXPECT_EQ(sentSince(reader, beforeClose), expected);
    EXPECT_FALSE(reader.inventoryRunning());
    if (r.stopAddress != 0) {
        EXPECT_EQ(reader.requests().at(beforeClose).at(0), r.stopAddress);
    }
    if (r.end == End::Window)
        return;
    // The stop is in the traffic log as every command sent, and the run is over.
    QFile log(tmp.filePath("traffic.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString epcStop = QString::fromLatin1(QByteArray(" EPC_STOP;").toHex(' ').toUpper()).prepend(' ');
    EXPECT_EQ(QString::fromUtf8(log.readAll()).count(epcStop), r.stopAddress != 0 ? 1 : 0);
    EXPECT_EQ(window().runState(), RunState::Stopped);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CloseDuringRun,
    ::testing::Values(CloseCase{"NoRun", BeforeClose::Nothing, 0},
                      CloseCase{"StartedOnThe900Page", BeforeClose::PageStart, 1},
                      CloseCase{"StartedAtTheConsole", BeforeClose::ConsoleStart, 5},
                      CloseCase{"StopConfirmed", BeforeClose::StartStoppedConfirmed, 0},
                      CloseCase{"ComPressedDuringRun", BeforeClose::PageStart, 1, End::ComButton},
                      CloseCase{"ComPressedDuringConsoleRun", BeforeClose::ConsoleStart, 5, End::ComButton},
                      CloseCase{"ComPressedWithoutRun", BeforeClose::Nothing, 0, End::ComButton},
                      CloseCase{"ClosePressedDuringRun", BeforeClose::PageStart, 1, End::CloseButton}),
    [](const ::testing::TestParamInfo<CloseCase>& i) { return std::string(i.param.name); });

} // namespace
} // namespace rd::testing

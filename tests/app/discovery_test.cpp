// Reader discovery against simulated readers: each reader group with its page and
// messages, the not-found actions, the request counter across probes, a second scan
// while connected, the purge error, and the window painting while the scan holds it.
#include "sim_window.h"

#include "kit/conv.h"
#include "kit/widgets.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace rd::testing {
namespace {

const QString kSettings = QStringLiteral(": baud=115200 parity=N data=8 stop=2");

// The name under which the platform's accessibility interface offers a control.
QString accessibleName(QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name) : QString();
}

struct GroupCase {
    const char* identifier;
    const char* message; // the found message, before the settings text
    const char* subPage; // active page of PageControl2 afterwards
    const char* topPage; // active page of PageControl1 afterwards
};

class DiscoveryGroups : public SimWindowTest, public ::testing::WithParamInterface<GroupCase> {};

TEST_P(DiscoveryGroups, FoundReaderPreparesItsPage) {
    const GroupCase& c = GetParam();
    // COM1 is absent: its probes fail at the open, and the reader sits on COM2.
    addReader(c.identifier, 2);
    TFormQUOR& w = window();
    const QColor zezColour = FontColor(control<QWidget>("BitBtnZEZ2011_COM"));
    QElapsedTimer scanTime;
    scanTime.start();
    scan();
    const int scanMs = int(scanTime.elapsed());

    ASSERT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();
    ASSERT_TRUE(w.connected());
    const QString message = QString::fromLatin1(c.message) + "COM2" + kSettings;
    EXPECT_EQ(memo("MemoUTIL_REC")->lines()->lines(), QStringList{message});
    EXPECT_EQ(memo("MemoUTIL_SEND")->count(), 0);
    // The probes' dumps stay on the terminal: at least one request went out and its reply came.
    EXPECT_TRUE(memo("MemoTERMINAL")->line(0).startsWith(">> 01 3A 30 30 30 30 30 30 30 31 20 56 45 52"));
    EXPECT_EQ(w.PageControl2->currentWidget()->objectName(), QString::fromLatin1(c.subPage));
    EXPECT_EQ(w.PageControl1->currentWidget()->objectName(), QString::fromLatin1(c.topPage));
    EXPECT_EQ(control<QLabel>("LabelCOM_PORT_STATUS")->text(), "COM2" + kSettings);
    EXPECT_EQ(control<QComboBox>("cbCOMPORT")->currentText(), "COM2");
    // The user sees which device COM2 stands for.
    EXPECT_TRUE(
        control<QComboBox>("cbCOMPORT")->toolTip().contains(QString::fromStdString(ResolvePortName("COM2"))));
    EXPECT_EQ(w.TimerMAIN->interval(), 1000);
    EXPECT_TRUE(w.TimerMAIN->enabled());
    // The 1000 ms countdown runs from the first port: assigning 1000 again at later ports
    // and at the match did not restart it.
    EXPECT_LE(w.TimerMAIN->remainingTime(), std::max(0, 1000 - scanMs) + 50) << scanMs << " ms scan";

    const bool uhf = QString::fromLatin1(c.message).startsWith("VKR900");
    const bool saw = QString::fromLatin1(c.identifier) == "VKR433-SAW";
    EXPECT_EQ(memo("Memo_ANT_TEST_info")->lines()->lines(), uhf ? QStringList{message} : QStringList());
    EXPECT_EQ(control<QWidget>("BitBtn_ANT_TEST_START")->isEnabled(), uhf);
    EXPECT_EQ(control<QWidget>("BitBtnKAMAZ_START_INV")->isEnabled(), uhf);
    auto* devFound = control<QPushButton>("BitBtn_ANT_TEST_dev_found");
    EXPECT_EQ(devFound->text(), uhf ? QString("COM2") : QString("COM"));
    EXPECT_EQ(devFound->isEnabled(), !uhf);
    // Assistive technology reads what the screen shows: the button's new caption and the
    // port settings in the status label.
    EXPECT_EQ(accessibleName(devFound).toStdString(), devFound->text().toStdString());
    EXPECT_EQ(accessibleName(control<QLabel>("LabelCOM_PORT_STATUS")).toStdString(),
              ("COM2" + kSettings).toStdString());
    EXPECT_EQ(memo("MemoZEZ2011_Info")->lines()->lines(), saw ? QStringList{message} : QStringList());
    EXPECT_EQ(FontColor(control<QWidget>("BitBtnZEZ2011_COM")), saw ? colors::green() : zezColour);

    // The first tick after the match polls at 20 ms from then on.
    w.TimerMAIN->fire();
    EXPECT_EQ(w.TimerMAIN->interval(), 20);

    // CLOSE: every control that showed the connection is as it was before the scan.
    click("BitBtnUTIL_CLOSE");
    ASSERT_FALSE(w.connected());
    EXPECT_EQ(control<QLabel>("LabelCOM_PORT_STATUS")->text(), "STATUS");
    EXPECT_EQ(control<QComboBox>("cbCOMPORT")->currentText(), "----");
    EXPECT_EQ(devFound->text(), "COM");
    EXPECT_TRUE(devFound->isEnabled());
    EXPECT_FALSE(control<QWidget>("BitBtn_ANT_TEST_START")->isEnabled());
    EXPECT_FALSE(control<QWidget>("BitBtnKAMAZ_START_INV")->isEnabled());
    EXPECT_EQ(FontColor(control<QWidget>("BitBtnZEZ2011_COM")), zezColour);
}

INSTANTIATE_TEST_SUITE_P(
    EveryIdentifier, DiscoveryGroups,
    ::testing::Values(GroupCase{"VKR900-15", "VKR900-15 found ", "TabSheet900", "TabSheetUTIL"},
                      GroupCase{"VKR900-12", "VKR900-12 found ", "TabSheet900", "TabSheetUTIL"},
                      // Its reply also holds "VKR900-15", which is probed first.
                      GroupCase{"VKR900-153", "VKR900-15 found ", "TabSheet900", "TabSheetUTIL"},
                      GroupCase{"VKR433-16", "VKR433-1 found ", "TabSheet433", "TabSheetUTIL"},
                      GroupCase{"VKR433-SAW", "VKR433-SAW found ", "TabSheet433", "TabSheetZEZ2011"},
                      GroupCase{"WG", "WG found ", "TabSheetWG", "TabSheetUTIL"},
                      GroupCase{"K7000", "K7000 found ", "TabSheetSpare", "TabSheetUTIL"}),
    [](const ::testing::TestParamInfo<GroupCase>& i) {
        std::string n = i.param.identifier;
        for (char& ch : n)
            if (ch == '-')
                ch = '_';
        return n;
    });

using Discovery = SimWindowTest;

TEST_F(Discovery, NothingFoundShowsTheUtilPageAndTheMessages) {
    // A device that answers, but with no known identifier: all seven probes fail on it.
    sim::ReaderSim& other = addReader("XYZ-1", 1);
    TFormQUOR& w = window();
    w.PageControl1->setCurrentWidget(w.findChild<QWidget*>("TabSheetKAMAZ"));
    click("BitBtnZEZ2011_COM");

    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(other.commands(), std::vector<std::string>(7, "VERSION"));
    EXPECT_FALSE(w.connection());
    EXPECT_FALSE(w.connected());
    // The result where the user looks: the UTIL page with each port's reason.
    EXPECT_EQ(w.PageControl1->currentWidget()->objectName(), "TabSheetUTIL");
    // The message, and why the port that is there held no known reader.
    EXPECT_EQ(memo("MemoUTIL_SEND")->lines()->lines(),
              QStringList({"correct devices not found ",
                           "COM1: reply without a known identifier: :00000007 VERSION XYZ-1;"}));
    EXPECT_EQ(memo("MemoUTIL_REC")->count(), 0);
    EXPECT_EQ(memo("MemoZEZ2011_Info")->lines()->lines(), QStringList{"VKR433-SAW not found "});
    EXPECT_EQ(FontColor(control<QWidget>("BitBtnZEZ2011_COM")), colors::red());
    EXPECT_EQ(w.TimerMAIN->interval(), 1000);
    // Not connected: the console sends nothing.
    click("BitBtnUTIL_SEND_COMMAND");
    EXPECT_EQ(memo("MemoUTIL_SEND")->count(), 2);
}

TEST_F(Discovery, ZezButtonWithA900ReaderLeavesWaitAndColour) {
    addReader("VKR900-12", 1);
    const QColor before = FontColor(control<QWidget>("BitBtnZEZ2011_COM"));
    click("BitBtnZEZ2011_COM");
    ASSERT_TRUE(window().connected());
    EXPECT_EQ(memo("MemoZEZ2011_Info")->lines()->lines(), QStringList{"wait.."});
    EXPECT_EQ(FontColor(control<QWidget>("BitBtnZEZ2011_COM")), before);
    EXPECT_EQ(window().PageControl2->currentWidget()->objectName(), "TabSheet900");
}

TEST_F(Discovery, AntTestButtonScansToo) {
    addReader("VKR900-15", 1);
    window().PageControl1->setCurrentWidget(window().findChild<QWidget*>("TabSheet_ANT_TEST"));
    click("BitBtn_ANT_TEST_dev_found");
    ASSERT_TRUE(window().connected());
    EXPECT_EQ(window().PageControl1->currentWidget()->objectName(), "TabSheet_ANT_TEST");
    EXPECT_FALSE(control<QWidget>("BitBtn_ANT_TEST_dev_found")->isEnabled());
}

TEST_F(Discovery, FirstCommandCarriesTheProbeCountPlusOne) {
    // COM1 absent (no probe), COM2 a foreign device (7 probes), COM3 a 433 reader (row 4):
    // 11 probes in all, so the first command is request 12.
    addReader("XYZ-1", 2);
    sim::ReaderSim& reader = addReader("VKR433-16", 3);
    scan();
    ASSERT_TRUE(window().connected());
    EXPECT_EQ(reader.commands(), std::vector<std::string>(4, "VERSION"));
    EXPECT_EQ(window().connection()->commandCounter(), 11);
    control<QComboBox>("ComboBoxUTIL_ADDR")->setEditText("07");
    click("BitBtnUTIL_SEND_COMMAND");
    ASSERT_TRUE(reader.waitForRequests(5, 2000));
    const std::vector<uint8_t> last = reader.requests().back();
    EXPECT_EQ(std::string(last.begin(), last.end()), "\x07:00000012 VERSION;");
    EXPECT_EQ(memo("MemoUTIL_SEND")->lines()->lines(), QStringList{"07:00000012 VERSION;"});
}

TEST_F(Discovery, SecondScanEndsTheConnectionFindsTheReaderAgainAndKeepsCounting) {
    sim::ReaderSim& first = addReader("VKR900-15", 1);
    sim::ReaderSim& second = addReader("WG", 2);
    scan();
    ASSERT_TRUE(window().connected());
    const ReaderConnection* portObject = window().connection();
    const int32_t afterFirst = portObject->commandCounter(); // 1: found at the first probe

    scan();
    // The earlier connection was ended before the first probe: COM1 opens again, its reader
    // is found at once and COM2 is never tried.
    ASSERT_TRUE(window().connected());
    EXPECT_EQ(window().connection(), portObject);
    EXPECT_EQ(first.commands(), std::vector<std::string>(2, "VERSION"));
    EXPECT_EQ(second.requestCount(), 0u);
    EXPECT_EQ(window().connection()->commandCounter(), afterFirst + 1);
    EXPECT_EQ(control<QLabel>("LabelCOM_PORT_STATUS")->text(), "COM1" + kSettings);

    // Polling follows the reader found again; the other one was never connected.
    first.sendAnswer("FROM_FIRST");
    second.sendAnswer("FROM_SECOND");
    auto routed = [&](const char* word) {
        for (const QString& l : memo("MemoZEZ2011")->lines()->lines())
            if (l.startsWith("RXD::") && l.endsWith(QString(" %1;").arg(word)))
                return true;
        return false;
    };
    EXPECT_TRUE(routeUntil([&] { return routed("FROM_FIRST"); }));
    EXPECT_FALSE(routed("FROM_SECOND"));
}

TEST_F(Discovery, PurgeErrorEndsTheScanWithItsMessage) {
    // A purge that fails cannot be made on a pseudo-terminal: a port backend that refuses it.
    struct NoPurge : PortBackend {
        bool setTimeouts(const CommTimeouts&) override { return true; }
        bool setupComm(uint32_t, uint32_t) override { return true; }
        bool getState(LineSettings&) override { return true; }
        bool setState(const LineSettings&) override { return true; }
        bool purge(uint32_t) override { return false; }
        PortError read(void*, uint32_t, uint32_t* got) override { return *got = 0, PortError{}; }
        PortError write(const void*, uint32_t n, uint32_t* w) override { return *w = n, PortError{}; }
    };
    SetPortOpener([](const std::string& name, PortError&) -> std::unique_ptr<PortBackend> {
        if (name == "COM2")
            return std::make_unique<NoPurge>();
        return nullptr;
    });
    struct Restore {
        ~Restore() { SetPortOpener({}); }
    } restore;
    TFormQUOR& w = window();
    const QColor before = FontColor(control<QWidget>("BitBtnZEZ2011_COM"));
    scan();
    EXPECT_EQ(errors, QStringList{"Error purging port"});
    // Neither the found nor the not-found actions ran.
    EXPECT_TRUE(w.connection());
    EXPECT_FALSE(w.connected());
    EXPECT_EQ(memo("MemoUTIL_SEND")->lines()->lines(),
              QStringList({"Port COM1 check..", "Port COM2 check.."}));
    EXPECT_EQ(w.PageControl1->currentWidget()->objectName(), "TabSheetUTIL");
    EXPECT_EQ(FontColor(control<QWidget>("BitBtnZEZ2011_COM")), before);
    // A tick with a port object that has no receiver thread only updates the clock.
    w.TimerMAIN->fire();
    EXPECT_EQ(memo("MemoTERMINAL")->count(), 0);
}

// Remembers the number of lines of a memo at each of its paints, and the lines at the last.
struct PaintSpy : QObject {
    TMemo* memo;
    QList<int> linesAtPaint;
    QStringList lastPainted;
    explicit PaintSpy(TMemo* m) : memo(m) { m->viewport()->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            linesAtPaint << memo->count();
            lastPainted = memo->lines()->lines();
        }
        return false;
    }
};

TEST_F(Discovery, ScanPaintsItsLinesButRunsNoTimerAndNoSecondScan) {
    sim::ReaderSim& reader = addReader("VKR900-15", 3);
    TFormQUOR& w = window();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    PaintSpy spy(memo("MemoUTIL_SEND"));
    // Work queued for the window runs while the scan serves it; a scan asked for meanwhile
    // is not started within the running one.
    bool queuedRan = false;
    QTimer::singleShot(0, &w, [&] {
        queuedRan = true;
        w.BitBtnUTIL_FIND_COM->click();
    });
    int clockReads = 0;
    SetClockForTesting([&] {
        ++clockReads;
        return QDateTime::currentDateTime();
    });
    w.BF_START();
    SetClockForTesting({});
    ASSERT_TRUE(w.connected());
    EXPECT_TRUE(queuedRan);
    EXPECT_EQ(reader.requestCount(), 1u);
    EXPECT_EQ(clockReads, 0);
    // "Port COM1 check.." was on the screen before the scan went on to COM2, and so on.
    EXPECT_TRUE(spy.linesAtPaint.contains(1));
    EXPECT_TRUE(spy.linesAtPaint.contains(2));
    EXPECT_TRUE(spy.linesAtPaint.contains(3));
}

TEST_F(Discovery, WaitShowsOnTheZezPageWhileTheScanRuns) {
    addReader("VKR900-15", 3);
    TFormQUOR& w = window();
    w.PageControl1->setCurrentWidget(w.findChild<QWidget*>("TabSheetZEZ2011"));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    TMemo* info = memo("MemoZEZ2011_Info");
    info->append("earlier line");
    PaintSpy spy(info);
    click("BitBtnZEZ2011_COM");
    ASSERT_TRUE(w.connected());
    // The event loop has not turned since the click: this paint came from inside the scan.
    EXPECT_EQ(spy.lastPainted, QStringList{"wait.."});
    EXPECT_EQ(info->lines()->lines(), QStringList{"wait.."});
}

} // namespace
} // namespace rd::testing

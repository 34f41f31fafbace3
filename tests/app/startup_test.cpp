// The command line, the traffic log, the scan right after the window is shown, and
// keyboard and assistive access to the controls.
#include "sim_window.h"

#include "app/window/command_line.h"
#include "link/frames.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace rd::testing {
namespace {

struct ArgsCase {
    QStringList args; // after the program name
    int exitCode;     // -1: start the window
    QString portDir;
    bool scan;
    QString trafficLog;
    QString messagePart; // must be in the message
};

TEST(CommandLineParse, Table) {
    const ArgsCase cases[] = {
        {{}, -1, "", false, "", ""},
        {{"--scan"}, -1, "", true, "", ""},
        {{"--port-dir", "/tmp/p", "--scan", "--traffic-log", "t.log"}, -1, "/tmp/p", true, "t.log", ""},
        {{"--port-dir=/tmp/q", "--traffic-log=/x y.log"}, -1, "/tmp/q", false, "/x y.log", ""},
        {{"--help"}, 0, "", false, "", "--traffic-log FILE"},
        {{"-h"}, 0, "", false, "", "--port-dir DIR"},
        {{"--version"}, 0, "", false, "", "readerdesk " READERDESK_VERSION "\n"},
        {{"--scan", "--version"}, 0, "", false, "", "readerdesk " READERDESK_VERSION "\n"},
        {{"--version=1"}, 2, "", false, "", "'--version' takes no value"},
        {{"--bogus"}, 2, "", false, "", "unknown option '--bogus'"},
        {{"--scan=1"}, 2, "", false, "", "'--scan' takes no value"},
        {{"--port-dir"}, 2, "", false, "", "'--port-dir' needs a value"},
        {{"--traffic-log="}, 2, "", false, "", "'--traffic-log' needs a file name"},
        {{"COM3"}, 2, "", false, "", "unexpected argument 'COM3'"},
        {{"--scan", "-x"}, 2, "", false, "", "unknown option '-x'"},
    };
    for (const ArgsCase& c : cases) {
        const QString shown = c.args.join(' ');
        const CommandLine cl = ParseCommandLine(QStringList{"/usr/bin/readerdesk"} + c.args);
        EXPECT_EQ(cl.exitCode, c.exitCode) << shown.toStdString();
        if (c.exitCode != -1) {
            EXPECT_TRUE(cl.message.contains(c.messagePart))
                << shown.toStdString() << ": " << cl.message.toStdString();
            continue;
        }
        EXPECT_EQ(cl.portDir, c.portDir) << shown.toStdString();
        EXPECT_EQ(cl.scan, c.scan) << shown.toStdString();
        EXPECT_EQ(cl.trafficLog, c.trafficLog) << shown.toStdString();
    }
}

TEST(CommandLineParse, OwnArgumentsAreAnsweredBeforeTheToolkitStarts) {
    const QStringList raw{"readerdesk", "-platform", "xcb", "--port-dir", "-weird dir", "--bogus", "-h", "x"};
    EXPECT_EQ(OwnArguments(raw), QStringList({"readerdesk", "--port-dir", "-weird dir", "--bogus", "-h"}));
    EXPECT_EQ(ParseCommandLine(OwnArguments({"readerdesk", "-style", "fusion", "--bogus"})).exitCode, 2);
    EXPECT_EQ(ParseCommandLine(OwnArguments({"readerdesk", "-style", "fusion", "--scan"})).exitCode, -1);
}

using Startup = SimWindowTest;

TEST_F(Startup, TrafficLogHoldsDiscoveryRequestsAndAnswersInOrder) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("traffic.log");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("earlier run\n");
    }
    addReader("VKR900-15", 2);
    window().setTrafficLog(path);
    scan();
    ASSERT_TRUE(window().connected());
    click("BitBtnUTIL_SEND_COMMAND");
    ASSERT_TRUE(routeUntil([&] { return memo("MemoZEZ2011")->count() == 2; }));

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    ASSERT_EQ(lines.takeLast(), "");             // every line ends with a line feed
    ASSERT_EQ(lines.takeFirst(), "earlier run"); // appended, not replaced
    const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
    QStringList texts;
    for (const QString& l : lines) {
        ASSERT_TRUE(stamp.match(l).hasMatch()) << l.toStdString();
        texts << l.mid(24);
    }
    const QString settings = ": baud=115200 parity=N data=8 stop=2";
    ASSERT_EQ(texts.size(), 7);
    EXPECT_EQ(texts[0], "Port COM1 check..");
    EXPECT_EQ(texts[1], "Port COM2 check..");
    EXPECT_EQ(texts[2], ">> 01 3A 30 30 30 30 30 30 30 31 20 56 45 52 53 49 4F 4E 3B");
    // The probe's reply as it came, line end included.
    const std::string reply = ":00000001 VERSION VKR900-15;\r\n";
    EXPECT_EQ(texts[3].toStdString(),
              AnswerTerminalLine(reinterpret_cast<const uint8_t*>(reply.data()), int(reply.size())));
    EXPECT_EQ(texts[4], "VKR900-15 found COM2" + settings);
    EXPECT_EQ(texts[5], ">> 01 3A 30 30 30 30 30 30 30 32 20 56 45 52 53 49 4F 4E 3B");
    EXPECT_TRUE(texts[6].startsWith("<< 00 3A 30 30 30 30 30 30 30 32 20 56 45 52"))
        << texts[6].toStdString();
    EXPECT_EQ(texts[6], memo("MemoTERMINAL")->lines()->lines().last());
}

TEST_F(Startup, TrafficLogThatCannotBeOpenedIsAnError) {
    EXPECT_THROW(window().setTrafficLog("/nonexistent-dir/traffic.log"), AppError);
}

TEST_F(Startup, ScanRunsOnceTheWindowIsShown) {
    addReader("WG", 1);
    TFormQUOR& w = window();
    memo("MemoUTIL_REC")->append("stale");
    w.show();
    w.scanWhenShown();
    EXPECT_FALSE(w.connected()); // not before the event loop turns
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.connected(); }, 5000));
    EXPECT_EQ(memo("MemoUTIL_REC")->lines()->lines(),
              QStringList{"WG found COM1: baud=115200 parity=N data=8 stop=2"});
    EXPECT_EQ(w.PageControl2->currentWidget()->objectName(), "TabSheetWG");
}

TEST_F(Startup, EveryControlHasAnAccessibleNameAndButtonsTakeTheKeyboard) {
    TFormQUOR& w = window();
    for (QWidget* c : w.findChildren<QWidget*>()) {
        const bool isControl = qobject_cast<QAbstractButton*>(c) || qobject_cast<QComboBox*>(c) ||
                               qobject_cast<TMemo*>(c) || qobject_cast<QTabWidget*>(c);
        if (!isControl || c->objectName().isEmpty() || c->objectName().startsWith("qt_"))
            continue;
        // What assistive technology reads: the accessible name, or a button's caption.
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
        ASSERT_TRUE(a) << c->objectName().toStdString();
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << c->objectName().toStdString();
        if (auto* b = qobject_cast<QAbstractButton*>(c)) {
            EXPECT_TRUE(b->focusPolicy() & Qt::TabFocus) << c->objectName().toStdString();
        }
    }
}

TEST_F(Startup, TabReachesEveryButtonOfTheUtilPageAndSpacePressesIt) {
    sim::ReaderSim& r = addReader("VKR900-15", 1);
    TFormQUOR& w = window();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    scan();
    ASSERT_TRUE(w.connected());

    // Walk the focus chain once around.
    QSet<QWidget*> reached;
    QWidget* start = w.BitBtnUTIL_SEND_COMMAND;
    start->setFocus(Qt::TabFocusReason);
    QWidget* cur = start;
    for (int i = 0; i < 500; ++i) {
        QTest::keyClick(cur, Qt::Key_Tab);
        cur = QApplication::focusWidget();
        ASSERT_TRUE(cur);
        if (cur == start)
            break;
        reached.insert(cur);
    }
    for (QAbstractButton* b : w.TabSheetUTIL->findChildren<QAbstractButton*>()) {
        if (b->isEnabled() && b->isVisible()) {
            EXPECT_TRUE(reached.contains(b) || b == start) << b->objectName().toStdString();
        }
    }

    // Space on the focused SEND button sends the console command.
    w.BitBtnUTIL_SEND_COMMAND->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.BitBtnUTIL_SEND_COMMAND, Qt::Key_Space);
    ASSERT_TRUE(r.waitForRequests(2, 2000));
    EXPECT_EQ(r.commands().back(), "VERSION");
}

} // namespace
} // namespace rd::testing

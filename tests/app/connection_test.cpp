// One connection at a time, through the real window against simulated readers: a rescan
// while connected, a reader that is unplugged and plugged in again, and a scan cancelled
// with Esc.
#include "sim_window.h"

#include "kit/widgets.h"
#include "link/com_a.h"
#include "link/frames.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>

namespace rd::testing {
namespace {

const QString kSettings = QStringLiteral(": baud=115200 parity=N data=8 stop=2");

// Threads of this process.
int threadCount() {
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The last line of a memo, or "" when it is empty.
QString lastLine(TMemo* m) {
    const QStringList lines = m->lines()->lines();
    return lines.isEmpty() ? QString() : lines.last();
}

class Connection : public SimWindowTest {
  protected:
    QLabel* status() { return control<QLabel>("LabelCOM_PORT_STATUS"); }

    // Sends n commands with the SEND button and routes until every answer is through: each
    // answer exactly once, in order, none besides.
    void sendAndRouteAll(int n) {
        TFormQUOR& w = window();
        control<QComboBox>("ComboBoxUTIL_COMMAND")->setEditText("GET_ADC ");
        const uint64_t before = w.answersRouted();
        const int zezBefore = memo("MemoZEZ2011")->count();
        const int32_t firstCounter = w.connection()->commandCounter() + 1;
        for (int i = 0; i < n; ++i)
            click("BitBtnUTIL_SEND_COMMAND");
        ASSERT_TRUE(routeUntil([&] { return w.answersRouted() >= before + uint64_t(n); }, 10000))
            << w.answersRouted() - before << " of " << n << " answers routed";
        for (int i = 0; i < 5; ++i)
            w.TimerMAIN->fire();
        EXPECT_EQ(w.answersRouted() - before, uint64_t(n));
        QStringList expected;
        for (int i = 0; i < n; ++i)
            expected << QString("RXD::%1 OK;").arg(QString::fromStdString(IntToStr8(firstCounter + i)));
        EXPECT_EQ(memo("MemoZEZ2011")->lines()->lines().mid(zezBefore), expected);
    }

    // Fires TimerMAIN for ms milliseconds.
    void routeFor(int ms) {
        routeUntil([] { return false; }, ms);
    }
};

TEST_F(Connection, RescanWhileConnectedFindsTheReaderAgainAndRoutesEveryAnswer) {
    sim::ReaderSim& reader = addReader("VKR900-15", 1);
    scan();
    ASSERT_TRUE(window().connected());
    const int threads = threadCount();

    scan();
    ASSERT_TRUE(window().connected());
    EXPECT_EQ(reader.commands(), std::vector<std::string>(2, "VERSION"));
    EXPECT_EQ(status()->text(), "COM1" + kSettings);
    EXPECT_EQ(control<QComboBox>("cbCOMPORT")->currentText(), "COM1");
    // The earlier receiver thread has ended with its connection.
    EXPECT_EQ(threadCount(), threads);
    sendAndRouteAll(100);
}

TEST_F(Connection, LostReaderIsReportedAndComesBackByItself) {
    QTemporaryDir tmp;
    window().setTrafficLog(tmp.filePath("traffic.log"));
    sim::ReaderSim* reader = &addReader("VKR900-15", 1);
    scan();
    ASSERT_TRUE(window().connected());
    const QColor usual = FontColor(status());
    const int threads = threadCount();
    auto lastTerminalLine = [&] { return lastLine(memo("MemoTERMINAL")); };

    // The fault this guards against was a race: unplug and plug in again several times.
    for (int cycle = 1; cycle <= 3; ++cycle) {
        SCOPED_TRACE(cycle);
        reader->hangUp();
        ASSERT_TRUE(routeUntil([&] { return status()->text() == "COM1: connection lost"; }));
        EXPECT_EQ(FontColor(status()), colors::red());
        EXPECT_EQ(lastTerminalLine(), "!! COM1: connection lost");
        EXPECT_FALSE(window().connected());

        // Nothing is sent while the connection is lost.
        const int sendLines = memo("MemoUTIL_SEND")->count();
        const int32_t counter = window().connection()->commandCounter();
        click("BitBtnUTIL_SEND_COMMAND");
        EXPECT_EQ(memo("MemoUTIL_SEND")->count(), sendLines);
        EXPECT_EQ(window().connection()->commandCounter(), counter);

        // Plugged in again under the same name.
        dropReader(*reader);
        reader = &addReader("VKR900-15", 1);
        if (cycle == 1) {
            // Held by another program: the port is never taken from it.
            const int fd = ::open(reader->slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
            routeFor(1500);
            EXPECT_EQ(status()->text(), "COM1: connection lost");
            EXPECT_EQ(reader->requestCount(), 0u);
            ::close(fd);
        }
        ASSERT_TRUE(routeUntil([&] { return window().connected(); }, 5000));
        EXPECT_EQ(status()->text(), "COM1" + kSettings);
        EXPECT_EQ(FontColor(status()), usual);
        EXPECT_EQ(lastTerminalLine(), "!! COM1: reconnected");
        // Found by the identifier found at the scan: one probe.
        EXPECT_EQ(reader->commands(), std::vector<std::string>{"VERSION"});
        EXPECT_EQ(threadCount(), threads);
        sendAndRouteAll(100);
    }

    QFile log(tmp.filePath("traffic.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_EQ(text.count(" !! COM1: connection lost\n"), 3);
    EXPECT_EQ(text.count(" !! COM1: reconnected\n"), 3);
}

TEST_F(Connection, LostReaderTellsWhyOnceInTheTerminalAndInTheStatusHint) {
    QTemporaryDir tmp;
    window().setTrafficLog(tmp.filePath("traffic.log"));
    sim::ReaderSim* reader = &addReader("VKR900-15", 1);
    scan();
    ASSERT_TRUE(window().connected());
    const QRegularExpression anyFailed(QStringLiteral("reads? failed"));
    EXPECT_FALSE(status()->toolTip().contains(anyFailed));

    reader->hangUp();
    ASSERT_TRUE(routeUntil([&] { return status()->text() == "COM1: connection lost"; }));
    const QStringList lines = memo("MemoTERMINAL")->lines()->lines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.last(), "!! COM1: connection lost");
    // The failed reads that lost it come just before, with their count and cause.
    const QRegularExpression failedLine(
        QStringLiteral(R"(^!! COM1: (\d+) reads? failed, the device hung up \(unplugged\?\)$)"));
    const QRegularExpressionMatch m = failedLine.match(lines[lines.size() - 2]);
    ASSERT_TRUE(m.hasMatch()) << lines[lines.size() - 2].toStdString();
    const int failed = m.captured(1).toInt();
    EXPECT_GE(failed, TCOM_A::kLostAfterFailedReads);
    // Shown when the count changed, not at every tick (the timer fired about every millisecond).
    const qsizetype shown = lines.filter(anyFailed).size();
    EXPECT_LE(shown, failed);
    EXPECT_EQ(status()->toolTip(),
              QStringLiteral("COM1: connection lost\n%1 reads failed: the device hung up (unplugged?)")
                  .arg(failed));

    QFile log(tmp.filePath("traffic.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(" " + lines[lines.size() - 2] + "\n"));

    // Plugged in again: the new connection has no failed reads to tell of.
    dropReader(*reader);
    reader = &addReader("VKR900-15", 1);
    ASSERT_TRUE(routeUntil([&] { return window().connected(); }, 5000));
    routeFor(50);
    EXPECT_EQ(lastLine(memo("MemoTERMINAL")), "!! COM1: reconnected");
    EXPECT_TRUE(status()->toolTip().startsWith("COM1 is ")) << status()->toolTip().toStdString();
    EXPECT_FALSE(status()->toolTip().contains(anyFailed)) << status()->toolTip().toStdString();
}

struct KeyCase {
    const char* name;
    Qt::Key key;
    bool cancels;
};

class ScanKeys : public SimWindowTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(ScanKeys, EscCancelsTheScanOtherInputIsDropped) {
    const KeyCase& c = GetParam();
    // COM2: a device that answers, but is no reader of ours.
    sim::ReaderSim& other = addReader("ACME-7", 2);
    sim::ReaderSim& reader = addReader("WG", 5);
    TFormQUOR& w = window();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    auto* box = control<QCheckBox>("CheckBoxINV_LOG_ON");
    box->setFocus();
    const bool boxBefore = box->isChecked();
    // The key comes while the first probe of COM2 waits for its reply. (Events are made on
    // this thread: the first one made creates the keyboard device object.)
    auto press = std::make_unique<QKeyEvent>(QEvent::KeyPress, c.key, Qt::NoModifier);
    auto release = std::make_unique<QKeyEvent>(QEvent::KeyRelease, c.key, Qt::NoModifier);
    std::thread user([&] {
        if (!other.waitForRequests(1, 5000))
            return;
        QCoreApplication::postEvent(box, press.release());
        QCoreApplication::postEvent(box, release.release());
    });
    scan();
    user.join();
    ASSERT_FALSE(press || release) << "the key was never pressed";
    EXPECT_EQ(box->isChecked(), boxBefore);
    if (c.cancels) {
        EXPECT_FALSE(w.connected());
        EXPECT_EQ(lastLine(memo("MemoUTIL_SEND")), "scan cancelled");
        EXPECT_EQ(other.requestCount(), 1u);
        EXPECT_EQ(reader.requestCount(), 0u);
    } else {
        EXPECT_TRUE(w.connected());
        EXPECT_EQ(other.requestCount(), 7u);
        EXPECT_EQ(reader.requestCount(), 6u); // "WG" is the sixth identifier tried
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, ScanKeys,
                         ::testing::Values(KeyCase{"Esc", Qt::Key_Escape, true},
                                           KeyCase{"SpaceOnACheckBox", Qt::Key_Space, false}),
                         [](const ::testing::TestParamInfo<KeyCase>& i) {
                             return std::string(i.param.name);
                         });

} // namespace
} // namespace rd::testing

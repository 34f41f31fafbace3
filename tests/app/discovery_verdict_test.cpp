// Discovery that explains itself: one line for each port that is there but holds no known
// reader, every probe reply in the traffic log, and a reader found while it still streams.
#include "sim_window.h"

#include "link/frames.h"

#include <QFile>
#include <QTemporaryDir>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace rd::testing {
namespace {

using DiscoveryVerdict = SimWindowTest;

QString ProbeLine(int counter) {
    return QString::fromLatin1(ComposeRequest(1, counter, u"VERSION").terminalLine);
}

QString ReplyLine(const std::string& bytes) {
    return QString::fromLatin1(
        AnswerTerminalLine(reinterpret_cast<const uint8_t*>(bytes.data()), int(bytes.size())));
}

// The lines of a traffic log without their time stamps.
QStringList LogTexts(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList texts;
    for (const QString& l : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts))
        texts << l.mid(24);
    return texts;
}

TEST_F(DiscoveryVerdict, EachPortThatIsThereSaysWhyItHeldNoReader) {
    // COM1 held by another program (with the lock this program takes too), COM2 a device
    // with an unknown identifier, COM3 silent, COM4 one the user may not open (root may open
    // anything: the opener refuses it as the system would), COM5 no entry at all, COM6 a
    // device that is no serial port.
    sim::ReaderSim& held = addReader("VKR900-15", 1);
    const int holder = ::open(held.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    addReader("ACME-7", 2);
    sim::Options quiet;
    quiet.silent = true;
    addReader("VKR900-15", 3, quiet);
    addReader("VKR900-15", 4);
    QTemporaryDir tmp;
    ASSERT_EQ(::symlink("/dev/null", (PortDirectory() + "/COM6").c_str()), 0);
    const QString com4Device = QString::fromStdString(ResolvePortName("COM4"));
    SetPortOpener([](const std::string& name, PortError& why) -> std::unique_ptr<PortBackend> {
        if (name == "COM4") {
            why = PortError{EACCES, "permission denied", ResolvePortName(name)};
            return nullptr;
        }
        return OpenPosixPort(name, why);
    });
    struct Restore {
        int fd;
        ~Restore() {
            SetPortOpener({});
            ::close(fd);
        }
    } restore{holder};
    const QString log = tmp.filePath("traffic.log");
    window().setTrafficLog(log);

    scan();
    ASSERT_FALSE(window().connected());
    const QStringList verdicts = {
        "COM1: busy (held by another program)",
        "COM2: reply without a known identifier: :00000007 VERSION ACME-7;",
        "COM3: no reply",
        "COM4: permission denied (" + com4Device + "); the user needs the group that owns it (often dialout)",
        "COM6: cannot be opened (not a serial device)",
    };
    // They stay in view after the scan, below its message.
    EXPECT_EQ(memo("MemoUTIL_SEND")->lines()->lines().join('\n').toStdString(),
              (QStringList{"correct devices not found "} + verdicts).join('\n').toStdString());

    // In the log: each verdict after its port's check line and probes, every reply as it came.
    QStringList expected{"Port COM1 check..", verdicts[0], "Port COM2 check.."};
    for (int k = 1; k <= 7; ++k)
        expected << ProbeLine(k) << ReplyLine(":0000000" + std::to_string(k) + " VERSION ACME-7;\r\n");
    expected << verdicts[1] << "Port COM3 check..";
    for (int k = 8; k <= 14; ++k)
        expected << ProbeLine(k);
    expected << verdicts[2] << "Port COM4 check.." << verdicts[3] << "Port COM5 check.."
             << "Port COM6 check.." << verdicts[4];
    for (int n = 7; n <= 20; ++n)
        expected << QString("Port COM%1 check..").arg(n);
    expected << "correct devices not found "
             << "VKR433-SAW not found ";
    EXPECT_EQ(LogTexts(log).join('\n').toStdString(), expected.join('\n').toStdString());
}

// A reader that answers 0.6 s late: each reply lands in the next probe, which seeks another
// identifier. The verdict names the reader and its lateness, not an unknown reply.
TEST_F(DiscoveryVerdict, AReaderThatAnswersLateIsNamedWithItsLateness) {
    sim::Options late;
    late.replyDelayMs = 600;
    addReader("VKR900-15", 3, late);
    scan();
    ASSERT_FALSE(window().connected());
    EXPECT_EQ(
        memo("MemoUTIL_SEND")->lines()->lines().join('\n').toStdString(),
        "correct devices not found \nCOM3: VKR900-15 answered too late (after the 501 ms of its probe)");
}

TEST_F(DiscoveryVerdict, ReaderStreamingAnInventoryIsFound) {
    // Tag answers back to back, as fast as the line takes them: the reply to a probe comes
    // behind kilobytes of them.
    sim::ReaderSim& reader = addReader("VKR900-15", 1);
    reader.startFlood();
    ASSERT_TRUE(reader.waitForAnswersSent(200, 3000));
    scan();
    reader.stopFlood();
    ASSERT_TRUE(window().connected());
    EXPECT_EQ(memo("MemoUTIL_REC")->lines()->lines(),
              QStringList{"VKR900-15 found COM1: baud=115200 parity=N data=8 stop=2"});
    EXPECT_EQ(reader.commands(), std::vector<std::string>{"VERSION"});
}

} // namespace
} // namespace rd::testing

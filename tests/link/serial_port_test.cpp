// The serial platform layer on real pseudo-terminals: names, exclusive opening, line
// settings, the read and write time-outs, purge and hang-up.
#include "link/serial_port.h"

#include "link/platform.h"
#include "link_test_support.h"
#include "read_timeout_cases.h"
#include "sim/reader_sim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

namespace rd {
namespace {

using testing::RawPty;

class PortDirTest : public ::testing::Test {
  protected:
    void SetUp() override { SetPortDirectory(dir.path()); }
    void TearDown() override {
        SetPortOpener({});
        ResetPortDirectory();
    }
    sim::TempPortDir dir;
};

TEST_F(PortDirTest, EntriesOfTheDirectoryAreThePorts) {
    RawPty a, b;
    a.publish(dir.path(), 2);
    b.publish(dir.path(), 11);
    // Not ports: a plain file, a link to nothing, a link to a plain file.
    std::ofstream(dir.path() + "/COM4") << "x";
    ASSERT_EQ(::symlink("/nonexistent/pts/99", (dir.path() + "/COM5").c_str()), 0);
    ASSERT_EQ(::symlink((dir.path() + "/COM4").c_str(), (dir.path() + "/COM6").c_str()), 0);

    EXPECT_EQ(ResolvePortName("COM2"), a.slavePath());
    EXPECT_EQ(ResolvePortName("com11"), b.slavePath());
    for (const char* absent : {"COM1", "COM4", "COM5", "COM6", "COM99", "LPT2", ""})
        EXPECT_EQ(ResolvePortName(absent), "") << absent;

    const auto ports = ListPorts(20);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0], std::make_pair(std::string("COM2"), a.slavePath()));
    EXPECT_EQ(ports[1], std::make_pair(std::string("COM11"), b.slavePath()));
    EXPECT_EQ(ListPorts(10).size(), 1u);
    EXPECT_EQ(testing::Open("COM1"), INVALID_PORT_HANDLE);
    EXPECT_EQ(testing::Open("COM4"), INVALID_PORT_HANDLE);
}

TEST_F(PortDirTest, EnvironmentGivesTheDefaultDirectory) {
    RawPty pty;
    pty.publish(dir.path(), 3);
    ::setenv("READERDESK_PORT_DIR", dir.path().c_str(), 1);
    ResetPortDirectory();
    EXPECT_EQ(PortDirectory(), dir.path());
    EXPECT_EQ(ResolvePortName("COM3"), pty.slavePath());
    // An explicit choice overrides the environment, an empty one included.
    SetPortDirectory("/nonexistent-port-dir");
    EXPECT_EQ(ResolvePortName("COM3"), "");
    ::unsetenv("READERDESK_PORT_DIR");
    ResetPortDirectory();
    EXPECT_EQ(PortDirectory(), "");
}

TEST(MachinePorts, UsbThenAcmThenPresentUarts) {
    sim::TempPortDir root;
    const std::string dev = root.path() + "/dev";
    const std::string sys = root.path() + "/sys";
    ASSERT_EQ(::mkdir(dev.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(sys.c_str(), 0700), 0);
    // Character devices stand in for the serial nodes.
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM1", "ttyACM0", "ttyS0", "ttyS1", "ttyS10", "ttyS2",
                             "ttyUSB1", "ttyXYZ", "tty1", "ttyUSBx"})
        ASSERT_EQ(::symlink("/dev/null", (dev + "/" + name).c_str()), 0) << name;
    // Not a device: skipped.
    std::ofstream(dev + "/ttyACM7") << "";
    // The kernel's view of the UARTs: ttyS1 has none behind it; ttyS2 has no type at all and
    // its node (here /dev/null) answers no serial query, so it is absent too.
    const struct {
        const char* name;
        const char* type;
    } uarts[] = {{"ttyS0", "4\n"}, {"ttyS1", "0\n"}, {"ttyS10", "4\n"}};
    for (const auto& u : uarts) {
        ASSERT_EQ(::mkdir((sys + "/" + u.name).c_str(), 0700), 0);
        std::ofstream(sys + "/" + u.name + "/type") << u.type;
    }

    const std::vector<std::string> expected = {dev + "/ttyUSB1", dev + "/ttyUSB2", dev + "/ttyUSB10",
                                               dev + "/ttyACM0", dev + "/ttyACM1", dev + "/ttyS0",
                                               dev + "/ttyS10"};
    EXPECT_EQ(MachineSerialDevices(dev, sys), expected);
}

class PtyPortTest : public PortDirTest {
  protected:
    void SetUp() override {
        PortDirTest::SetUp();
        pty.publish(dir.path(), 1);
        h = testing::Open("COM1");
        ASSERT_NE(h, INVALID_PORT_HANDLE);
        LineSettings s{115200, 8, 'N', StopBits::Two};
        ASSERT_TRUE(SetCommState(h, s));
    }
    void TearDown() override {
        if (h != INVALID_PORT_HANDLE)
            ClosePort(h);
        PortDirTest::TearDown();
    }
    testing::TimedReadResult timedRead(const CommTimeouts& t, uint32_t n,
                                       const std::function<void()>& started = {}) {
        return testing::TimedRead(h, t, n, started);
    }

    RawPty pty;
    PortHandle h = INVALID_PORT_HANDLE;
};

TEST_F(PtyPortTest, SecondOpenFailsInThisProcessAndInAnother) {
    EXPECT_EQ(testing::Open("COM1"), INVALID_PORT_HANDLE);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const PortHandle other = testing::Open("COM1");
        ::_exit(other == INVALID_PORT_HANDLE ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened a held port";

    // Once closed, the port opens again.
    EXPECT_TRUE(ClosePort(h));
    EXPECT_FALSE(ClosePort(h));
    h = testing::Open("COM1");
    EXPECT_NE(h, INVALID_PORT_HANDLE);
}

TEST_F(PtyPortTest, LineSettingsAreWrittenRawAndReadBack) {
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(cfgetispeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_FALSE(tio.c_cflag & (PARENB | CRTSCTS));
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);

    LineSettings s{};
    ASSERT_TRUE(GetCommState(h, s));
    EXPECT_EQ(s.BaudRate, 115200u);
    EXPECT_EQ(s.ByteSize, 8);
    EXPECT_EQ(s.Parity, 'N');
    EXPECT_EQ(s.Stop, StopBits::Two);

    // The whole road: read, apply the text, write back.
    ASSERT_TRUE(BuildCommDCB("COM1: baud=9600 stop=1", s));
    ASSERT_TRUE(SetCommState(h, s));
    LineSettings back{};
    ASSERT_TRUE(GetCommState(h, back));
    EXPECT_EQ(back.BaudRate, 9600u);
    EXPECT_EQ(back.Stop, StopBits::One);

    // Settings the line cannot take are failures, not silently something else.
    for (LineSettings bad :
         {LineSettings{12345, 8, 'N', StopBits::One}, LineSettings{0, 8, 'N', StopBits::One},
          LineSettings{9600, 8, 'N', StopBits::OnePointFive}, LineSettings{9600, 5, 'N', StopBits::Two},
          LineSettings{9600, 9, 'N', StopBits::One}, LineSettings{9600, 8, 'X', StopBits::One}})
        EXPECT_FALSE(SetCommState(h, bad)) << bad.BaudRate << " " << int(bad.ByteSize) << bad.Parity;
}

TEST_F(PtyPortTest, WriteAndReadPassBytesUnchanged) {
    testing::ExpectBytesPassUnchanged(h, pty);
}

using testing::DevicePlayer;
using testing::TimedReadCase;

class ReadTimeouts : public PtyPortTest, public ::testing::WithParamInterface<TimedReadCase> {};

TEST_P(ReadTimeouts, OneRead) {
    testing::ExpectTimedReadCase(h, pty, GetParam());
}

TEST_P(ReadTimeouts, OneReadAfterAFullOne) {
    testing::ExpectTimedReadCase(h, pty, GetParam(), true);
}

INSTANTIATE_TEST_SUITE_P(PtyPortTest, ReadTimeouts, ::testing::ValuesIn(testing::ReadTimeoutCases()),
                         [](const auto& info) { return testing::TimedReadCaseName(info.param); });

TEST_F(PtyPortTest, ReadIntervalIsArmedByTheFirstByteOnly) {
    // A gap longer than the interval after the first byte ends the read.
    DevicePlayer device(pty, {{0, "A"}, {300, "B"}}, true);
    auto r = timedRead({50, 0, 0, 0, 0}, 10, [&] { device.go(); });
    device.join();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "A");
    EXPECT_LT(r.ms, 280);
    r = timedRead({50, 0, 0, 0, 0}, 10);
    EXPECT_EQ(r.bytes, "B"); // the interval is armed by the first byte only
}

TEST_F(PtyPortTest, ReadWithMaxdwordIntervalTakesWhatIsThere) {
    // Interval MAXDWORD, totals 0: what is there, at once.
    auto r = timedRead({0xFFFFFFFFu, 0, 0, 0, 0}, 10);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "");
    pty.write("now");
    ASSERT_TRUE(testing::WaitUntil([&] {
        int avail = 0;
        return ::ioctl(pty.slave(), FIONREAD, &avail) == 0 && avail == 3;
    }));
    r = timedRead({0xFFFFFFFFu, 0, 0, 0, 0}, 10);
    EXPECT_EQ(r.bytes, "now");
}

TEST_F(PtyPortTest, ReadWithMaxdwordIntervalAndMultiplierEndsAtTheFirstByte) {
    // Interval and multiplier MAXDWORD with a constant: back as soon as anything has come,
    // after at most the constant when nothing does.
    const CommTimeouts firstByte{0xFFFFFFFFu, 0xFFFFFFFFu, 150, 0, 0};
    auto r = timedRead(firstByte, 10);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "");
    EXPECT_GE(r.ms, 150);
    DevicePlayer device(pty, {{20, "q"}, {400, "r"}}, true);
    r = timedRead({0xFFFFFFFFu, 0xFFFFFFFFu, 5000, 0, 0}, 10, [&] { device.go(); });
    EXPECT_EQ(r.bytes, "q");
    EXPECT_LT(r.ms, 400);
}

TEST_F(PtyPortTest, WriteTimeoutEndsAStuckWriteAsAFailure) {
    // Nobody reads the master: the pty fills and the write cannot finish.
    PortError e;
    testing::ExpectStuckWriteFails(h, 1 << 20, &e);
    EXPECT_EQ(e.err, ETIMEDOUT);
    EXPECT_EQ(e.text, "timed out");
}

TEST_F(PtyPortTest, PurgeDiscardsWhatWaits) {
    pty.write("stale bytes");
    ASSERT_TRUE(testing::WaitUntil([&] {
        int avail = 0;
        return ::ioctl(pty.slave(), FIONREAD, &avail) == 0 && avail > 0;
    }));
    EXPECT_TRUE(PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
    auto r = timedRead({0, 0, 50, 0, 0}, 20);
    EXPECT_EQ(r.bytes, "");

    pty.write("kept");
    ASSERT_TRUE(testing::WaitUntil([&] {
        int avail = 0;
        return ::ioctl(pty.slave(), FIONREAD, &avail) == 0 && avail == 4;
    }));
    EXPECT_TRUE(PurgeComm(h, PURGE_TXCLEAR)); // output only: the input stays
    r = timedRead({0, 0, 500, 0, 0}, 4);
    EXPECT_EQ(r.bytes, "kept");

    EXPECT_FALSE(PurgeComm(h, 0x10)); // no such action
}

TEST_F(PtyPortTest, HangUpFailsTheReadAtOnce) {
    pty.write("last");
    ASSERT_TRUE(testing::WaitUntil([&] {
        int avail = 0;
        return ::ioctl(pty.slave(), FIONREAD, &avail) == 0 && avail == 4;
    }));
    pty.closeMaster();
    testing::ExpectEndedPortFails(h);
}

TEST_F(PtyPortTest, HangUpIsTheCauseOfTheFailedReadAndWrite) {
    char buf[10];
    uint32_t got = 0;
    ASSERT_TRUE(SetCommTimeouts(h, {0, 0, 20, 0, 0}));
    const PortError quiet = ReadFile(h, buf, sizeof buf, &got);
    ASSERT_TRUE(quiet.ok()); // a quiet line is no failure
    EXPECT_EQ(quiet.err, 0);
    pty.closeMaster();
    const WakeSignal wake;
    const struct {
        const char* call;
        std::function<PortError()> run;
    } rows[] = {
        {"read", [&] { return ReadFile(h, buf, sizeof buf, &got); }},
        {"read until woken", [&] { return ReadFileUntilWoken(h, buf, sizeof buf, &got, &wake); }},
        {"write", [&] { return WriteFile(h, "x", 1, &got); }},
    };
    for (const auto& r : rows) {
        const PortError e = r.run();
        EXPECT_FALSE(e.ok()) << r.call;
        EXPECT_EQ(e.err, EIO) << r.call;
        EXPECT_EQ(e.text, "the device hung up (unplugged?)") << r.call;
        EXPECT_EQ(e.device, pty.slavePath()) << r.call;
    }
}

// A port whose reads and writes fail with the given cause while `works` is false. For causes
// a pseudo-terminal cannot produce.
class FailingPort : public testing::FakePort {
  public:
    FailingPort(PortError cause, std::shared_ptr<std::atomic<bool>> works)
        : cause_(std::move(cause)), works_(std::move(works)) {}
    PortError read(void*, uint32_t, uint32_t* got) override {
        *got = 0;
        return outcome();
    }
    PortError write(const void*, uint32_t n, uint32_t* written) override {
        const PortError e = outcome();
        *written = e.ok() ? n : 0;
        return e;
    }

  private:
    PortError outcome() const { return works_->load() ? PortError{} : cause_; }
    PortError cause_;
    std::shared_ptr<std::atomic<bool>> works_;
};

// Opens, reads and writes fail each with the cause of its own port, and the caller gets it
// back as the call's value: the calls of every port run at once, each on a thread of its
// own, so a cause kept anywhere but in the value would reach the wrong caller. A backend that
// gives only the number gets its text from the layer; a call that works returns no cause.
TEST(PortCauses, EachCallReturnsItsOwnCause) {
    const struct {
        PortError cause; // what the backend gives
        const char* text;
    } rows[] = {
        {{EIO, "input/output error", "/dev/ttyUSB0"}, "input/output error"},
        {{ENXIO, "the device is gone", "/dev/ttyUSB1"}, "the device is gone"},
        {{ENODEV, "the device is gone", "/dev/ttyUSB2"}, "the device is gone"},
        {{ETIMEDOUT, "timed out", "/dev/ttyUSB3"}, "timed out"},
        {{EACCES, "permission denied", "/dev/ttyUSB4"}, "permission denied"},
        {{EIO, "", ""}, "input/output error"}, // a backend that gives the number alone
    };
    constexpr int kRows = sizeof rows / sizeof rows[0];
    auto works = std::make_shared<std::atomic<bool>>(true);
    SetPortOpener([&](const std::string& name, PortError& why) -> std::unique_ptr<PortBackend> {
        const PortError& cause = rows[ComPortNumber(name) - 1].cause;
        if (!works->load()) {
            why = cause;
            return nullptr;
        }
        return std::make_unique<FailingPort>(cause, works);
    });
    PortHandle handles[kRows];
    for (int i = 0; i < kRows; ++i) {
        handles[i] = testing::Open("COM" + std::to_string(i + 1));
        ASSERT_NE(handles[i], INVALID_PORT_HANDLE);
    }
    const WakeSignal wake;
    const struct {
        const char* call;
        std::function<PortError(int)> run;
    } calls[] = {
        {"open",
         [](int i) {
             PortError why{EBUSY, "held by another program", "/dev/ttyS0"};
             const PortHandle h = OpenPort("COM" + std::to_string(i + 1), why);
             if (h != INVALID_PORT_HANDLE)
                 ClosePort(h);
             return why;
         }},
        {"read",
         [&](int i) {
             char buf[4];
             uint32_t n = 0;
             return ReadFile(handles[i], buf, sizeof buf, &n);
         }},
        {"read until woken",
         [&](int i) {
             char buf[4];
             uint32_t n = 0;
             return ReadFileUntilWoken(handles[i], buf, sizeof buf, &n, &wake);
         }},
        {"write",
         [&](int i) {
             uint32_t n = 0;
             return WriteFile(handles[i], "abc", 3, &n);
         }},
    };
    for (const bool failing : {true, false}) {
        works->store(!failing);
        std::vector<std::future<PortError>> results;
        for (int i = 0; i < kRows; ++i)
            for (const auto& c : calls)
                results.push_back(std::async(std::launch::async, c.run, i));
        std::size_t next = 0;
        for (int i = 0; i < kRows; ++i) {
            for (const auto& c : calls) {
                const PortError e = results[next++].get();
                SCOPED_TRACE(std::string(c.call) + " on COM" + std::to_string(i + 1));
                if (!failing) {
                    EXPECT_TRUE(e.ok()) << e.text;
                    EXPECT_EQ(e.text, "");
                    continue;
                }
                EXPECT_EQ(e.err, rows[i].cause.err);
                EXPECT_EQ(e.text, rows[i].text);
                EXPECT_EQ(e.device, rows[i].cause.device);
            }
        }
    }
    SetPortOpener({});
    for (PortHandle h : handles)
        ClosePort(h);
}

TEST_F(PtyPortTest, WakeDescriptorEndsAReadEarly) {
    testing::ExpectWakeEndsARead(h);
}

} // namespace
} // namespace rd

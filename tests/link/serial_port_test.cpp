// The serial platform layer on real pseudo-terminals: names, exclusive opening, line
// settings, the read and write time-outs, purge and hang-up.
#include "serial_port.h"

#include "link_test_support.h"
#include "reader_sim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace rd {
namespace {

using testing::Clock;
using testing::MsSince;
using testing::RawPty;

TEST(BuildCommDCB, SettingsTexts) {
    const LineSettings start{9600, 7, 'E', StopBits::One};
    const struct {
        const char* text;
        LineSettings result;
    } rows[] = {
        {"COM3: baud=115200 parity=N data=8 stop=2", {115200, 8, 'N', StopBits::Two}},
        {"COM12:baud=57600", {57600, 7, 'E', StopBits::One}},
        {"baud=1200 parity=o", {1200, 7, 'O', StopBits::One}},
        {"COM1: PARITY=M DATA=5 STOP=1.5", {9600, 5, 'M', StopBits::OnePointFive}},
        {"COM1: parity=s stop=1", {9600, 7, 'S', StopBits::One}},
        {"COM1:   data=6\tbaud=300  ", {300, 6, 'E', StopBits::One}},
    };
    for (const auto& r : rows) {
        LineSettings s = start;
        EXPECT_TRUE(BuildCommDCB(r.text, s)) << r.text;
        EXPECT_EQ(s.BaudRate, r.result.BaudRate) << r.text;
        EXPECT_EQ(s.ByteSize, r.result.ByteSize) << r.text;
        EXPECT_EQ(s.Parity, r.result.Parity) << r.text;
        EXPECT_EQ(s.Stop, r.result.Stop) << r.text;
    }
}

TEST(BuildCommDCB, MalformedTextsChangeNothing) {
    const char* malformed[] = {
        "",
        "COM3:",
        "COM3: baud=",
        "COM3: baud=0",
        "COM3: baud=-9600",
        "COM3: baud=12ab",
        "COM3: baud=99999999999",
        "COM3: parity=X",
        "COM3: parity=NN",
        "COM3: data=4",
        "COM3: data=9",
        "COM3: stop=3",
        "COM3: stop=1.0",
        "COM3: speed=9600",
        "COM3: baud 9600",
        "COM3: baud=9600 parity=Q", // a bad second item spoils the first as well
        "COM 3: baud=9600",
        ": baud=9600",
        "COM3: =8",
    };
    for (const char* text : malformed) {
        LineSettings s{4800, 7, 'E', StopBits::One};
        EXPECT_FALSE(BuildCommDCB(text, s)) << text;
        EXPECT_EQ(s.BaudRate, 4800u) << text;
        EXPECT_EQ(s.ByteSize, 7) << text;
        EXPECT_EQ(s.Parity, 'E') << text;
        EXPECT_EQ(s.Stop, StopBits::One) << text;
    }
}

TEST(PortNames, ComNumbers) {
    const struct {
        const char* name;
        int number;
    } rows[] = {
        {"COM1", 1},  {"COM20", 20}, {"com3", 3}, {"Com255", 255}, {"COM0", 0},   {"COM", 0},
        {"COM01", 0}, {"COM3:", 0},  {"LPT1", 0}, {"COM-1", 0},    {"COM256", 0}, {" COM1", 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ComPortNumber(r.name), r.number) << r.name;
}

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
    EXPECT_EQ(OpenPort("COM1"), INVALID_PORT_HANDLE);
    EXPECT_EQ(OpenPort("COM4"), INVALID_PORT_HANDLE);
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
        h = OpenPort("COM1");
        ASSERT_NE(h, INVALID_PORT_HANDLE);
        LineSettings s{115200, 8, 'N', StopBits::Two};
        ASSERT_TRUE(SetCommState(h, s));
    }
    void TearDown() override {
        if (h != INVALID_PORT_HANDLE)
            ClosePort(h);
        PortDirTest::TearDown();
    }
    // One read under the given time-outs: the bytes, whether it succeeded and how long it took.
    // started, if given, is called once the clock of the read runs, just before the read.
    struct ReadResult {
        bool ok;
        std::string bytes;
        long ms;
    };
    ReadResult timedRead(const CommTimeouts& t, uint32_t n, const std::function<void()>& started = {}) {
        EXPECT_TRUE(SetCommTimeouts(h, t));
        std::string buf(n, '\0');
        uint32_t got = 12345;
        const auto start = Clock::now();
        if (started)
            started();
        const bool ok = ReadFile(h, buf.data(), n, &got);
        const long ms = MsSince(start);
        buf.resize(got <= n ? got : 0);
        return {ok, buf, ms};
    }

    RawPty pty;
    PortHandle h = INVALID_PORT_HANDLE;
};

TEST_F(PtyPortTest, SecondOpenFailsInThisProcessAndInAnother) {
    EXPECT_EQ(OpenPort("COM1"), INVALID_PORT_HANDLE);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const PortHandle other = OpenPort("COM1");
        ::_exit(other == INVALID_PORT_HANDLE ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened a held port";

    // Once closed, the port opens again.
    EXPECT_TRUE(ClosePort(h));
    EXPECT_FALSE(ClosePort(h));
    h = OpenPort("COM1");
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
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    uint32_t written = 0;
    ASSERT_TRUE(WriteFile(h, all.data(), 256, &written));
    EXPECT_EQ(written, 256u);
    EXPECT_EQ(pty.read(256), all);

    pty.write(all);
    const auto r = timedRead({0, 0, 2000, 0, 0}, 256);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, all);
}

// The device side of a read: from a thread of its own, each step waits its pause and then
// writes its bytes; joined when the player goes. A gated player begins at go(), so that its
// pauses count from a moment the test chooses (the start of a read), however late the test
// gets there.
class DevicePlayer {
  public:
    struct Step {
        int pauseMs;
        std::string bytes;
    };
    DevicePlayer(const RawPty& pty, std::vector<Step> steps, bool gated = false)
        : ready_(started_.get_future()), gone_(!gated), thread_([this, &pty, steps = std::move(steps)] {
              ready_.wait();
              for (const auto& step : steps) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(step.pauseMs));
                  pty.write(step.bytes);
              }
          }) {
        if (!gated)
            started_.set_value();
    }
    ~DevicePlayer() { join(); }
    void go() {
        if (!gone_) {
            gone_ = true;
            started_.set_value();
        }
    }
    void join() {
        go();
        if (thread_.joinable())
            thread_.join();
    }

  private:
    std::promise<void> started_;
    std::future<void> ready_;
    bool gone_;
    std::thread thread_;
};

// One read under the time-outs: what was there before it, what the device sends during it,
// what it returns and how long it takes (-1: no bound).
struct TimedReadCase {
    const char* name;
    CommTimeouts t;
    uint32_t n;
    std::string before;
    std::vector<DevicePlayer::Step> during;
    std::string expected;
    long minMs;
    long maxMs;
};

void PrintTo(const TimedReadCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadTimeouts : public PtyPortTest, public ::testing::WithParamInterface<TimedReadCase> {};

TEST_P(ReadTimeouts, OneRead) {
    const TimedReadCase& c = GetParam();
    if (!c.before.empty())
        pty.write(c.before);
    DevicePlayer device(pty, c.during, true);
    const auto r = timedRead(c.t, c.n, [&] { device.go(); });
    device.join();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, c.expected);
    if (c.minMs >= 0) {
        EXPECT_GE(r.ms, c.minMs);
    }
    if (c.maxMs >= 0) {
        EXPECT_LT(r.ms, c.maxMs);
    }
}

INSTANTIATE_TEST_SUITE_P(
    PtyPortTest, ReadTimeouts,
    ::testing::Values(
        // Nothing arrives: multiplier x n + constant, then success with no bytes.
        TimedReadCase{"TotalLimitWithNothingComing", {0, 2, 100, 0, 0}, 50, "", {}, "", 200, -1},
        // Enough bytes already there: no waiting for the total.
        TimedReadCase{
            "EnoughBytesThereEndAtOnce", {0, 0, 5000, 0, 0}, 10, "0123456789", {}, "0123456789", -1, 2500},
        // Gaps shorter than the interval keep the read going.
        TimedReadCase{"ShortGapsKeepTheReadGoing",
                      {400, 0, 0, 0, 0},
                      10,
                      "",
                      {{0, "x"}, {20, "y"}, {20, "z"}},
                      "xyz",
                      -1,
                      -1},
        // Interval and total together: whichever comes first.
        TimedReadCase{"IntervalAndTotalWhicheverFirst", {10, 1, 150, 0, 0}, 10, "", {}, "", 160, -1},
        // All zero: wait for all n bytes.
        TimedReadCase{
            "AllZeroWaitsForEveryByte", {0, 0, 0, 0, 0}, 4, "", {{0, "ab"}, {150, "cd"}}, "abcd", 140, -1},
        // A total limit beyond what the clock can count (multiplier at its maximum, a few
        // thousand bytes) is no limit, not one that has already passed: the bytes are read.
        TimedReadCase{"HugeTotalIsNoLimit",
                      {0, 0xFFFFFFFFu, 0, 0, 0},
                      4096,
                      std::string(4096, 'k'),
                      {},
                      std::string(4096, 'k'),
                      -1,
                      -1}),
    [](const ::testing::TestParamInfo<TimedReadCase>& info) { return std::string(info.param.name); });

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
    ASSERT_TRUE(SetCommTimeouts(h, {0, 0, 0, 0, 100}));
    std::string big(1 << 20, 'w');
    uint32_t written = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(WriteFile(h, big.data(), static_cast<uint32_t>(big.size()), &written));
    EXPECT_GE(MsSince(start), 100);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
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
    for (const CommTimeouts& t : {CommTimeouts{1, 1, 1, 0, 0}, CommTimeouts{0, 0, 0, 0, 0}}) {
        ASSERT_TRUE(SetCommTimeouts(h, t));
        char buf[100];
        uint32_t got = 0;
        const auto start = Clock::now();
        const bool ok = ReadFile(h, buf, sizeof buf, &got);
        // Whatever was still there may come first; after that every read fails.
        if (ok) {
            EXPECT_GT(got, 0u);
            continue;
        }
        EXPECT_EQ(got, 0u);
        EXPECT_LT(MsSince(start), 1000);
    }
    char buf[10];
    uint32_t got = 0;
    EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &got));
    uint32_t written = 0;
    EXPECT_FALSE(WriteFile(h, "x", 1, &written));
}

TEST_F(PtyPortTest, WakeDescriptorEndsAReadEarly) {
    ASSERT_TRUE(SetCommTimeouts(h, {0, 0, 10000, 0, 0}));
    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(wake, 0);
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const uint64_t one = 1;
        EXPECT_EQ(::write(wake, &one, sizeof one), 8);
    });
    char buf[10];
    uint32_t got = 99;
    const auto start = Clock::now();
    EXPECT_TRUE(ReadFileUntilWoken(h, buf, sizeof buf, &got, wake));
    waker.join();
    EXPECT_EQ(got, 0u);
    EXPECT_LT(MsSince(start), 5000);
    // The wake was taken: the next wait is not cut short by it.
    pollfd p{wake, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    ::close(wake);
}

TEST(PortHandles, UnknownHandlesFail) {
    char buf[4];
    uint32_t n = 7;
    LineSettings s{};
    for (PortHandle bad : {PortHandle{0}, INVALID_PORT_HANDLE, PortHandle{0x7FFF}}) {
        EXPECT_FALSE(ReadFile(bad, buf, 4, &n));
        EXPECT_EQ(n, 0u);
        EXPECT_FALSE(WriteFile(bad, buf, 4, &n));
        EXPECT_FALSE(SetCommTimeouts(bad, {}));
        EXPECT_FALSE(SetupComm(bad, 1, 1));
        EXPECT_FALSE(GetCommState(bad, s));
        EXPECT_FALSE(SetCommState(bad, s));
        EXPECT_FALSE(PurgeComm(bad, PURGE_RXCLEAR));
        EXPECT_FALSE(ClosePort(bad));
    }
}

} // namespace
} // namespace rd

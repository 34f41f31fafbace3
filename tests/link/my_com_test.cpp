// The port object against the reader simulator: probing, sending, opening, and the purge
// failure through a fake backend.
#include "link/my_com.h"

#include "link_test_support.h"
#include "sim/reader_sim.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rd {
namespace {

using testing::Clock;
using testing::MsSince;

const std::string kPortStr = ": baud=115200 parity=N data=8 stop=2";

std::vector<uint8_t> Frame(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

class PortObjectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetPortDirectory(dir.path());
        com.MemoUTIL_SEND = [this](const std::string& line) { sendLog.push_back(line); };
        com.MemoTERMINAL = [this](const std::string& line) { terminal.push_back(line); };
    }
    void TearDown() override {
        if (com.hPORT != 0)
            ClosePort(com.hPORT);
        SetPortOpener({});
        ResetPortDirectory();
    }
    sim::Options Reader(const std::string& identifier) {
        sim::Options o;
        o.identifier = identifier;
        o.portDir = dir.path();
        o.comNumber = 3;
        return o;
    }

    sim::TempPortDir dir;
    Tmy_COM com;
    std::vector<std::string> sendLog;
    std::vector<std::string> terminal;
};

TEST_F(PortObjectTest, FirstProbeIsTheWorkedExampleAndConnects) {
    sim::ReaderSim reader(Reader("VKR900-15"));
    ASSERT_TRUE(com.check_port("COM3", 1, kPortStr, u"VERSION", "VKR900-15").found);

    ASSERT_EQ(reader.requests().size(), 1u);
    EXPECT_EQ(reader.requests()[0], Frame(std::string("\x01:00000001 VERSION;")));
    EXPECT_EQ(sendLog, std::vector<std::string>{"01:00000001 VERSION;"});
    EXPECT_EQ(terminal,
              std::vector<std::string>{">> 01 3A 30 30 30 30 30 30 30 31 20 56 45 52 53 49 4F 4E 3B"});
    EXPECT_EQ(com.NUM_COMMAND, 1);

    // Connected: the handle is held, the line is 115200 8N2 and the connected time-outs are on.
    EXPECT_NE(com.hPORT, 0u);
    EXPECT_NE(com.hPORT, INVALID_PORT_HANDLE);
    LineSettings s{};
    ASSERT_TRUE(GetCommState(com.hPORT, s));
    EXPECT_EQ(s.BaudRate, 115200u);
    EXPECT_EQ(s.ByteSize, 8);
    EXPECT_EQ(s.Parity, 'N');
    EXPECT_EQ(s.Stop, StopBits::Two);
    EXPECT_EQ(com.PortDCB.BaudRate, 115200u);
    EXPECT_EQ(com.PortDCB.Stop, StopBits::Two);
    const CommTimeouts connected{1, 1, 1, 1, 0};
    EXPECT_EQ(com.TimeOuts.ReadIntervalTimeout, connected.ReadIntervalTimeout);
    EXPECT_EQ(com.TimeOuts.ReadTotalTimeoutMultiplier, connected.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(com.TimeOuts.ReadTotalTimeoutConstant, connected.ReadTotalTimeoutConstant);
    EXPECT_EQ(com.TimeOuts.WriteTotalTimeoutMultiplier, connected.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(com.TimeOuts.WriteTotalTimeoutConstant, connected.WriteTotalTimeoutConstant);

    // Commands go out on the named handle with the counter running on.
    com.SendStrToPort(com.hPORT, 2, u"POWER_OFF ");
    ASSERT_TRUE(reader.waitForRequests(2, 2000));
    EXPECT_EQ(reader.requests()[1], Frame(std::string("\x02:00000002 POWER_OFF ;")));
    EXPECT_EQ(sendLog.back(), "02:00000002 POWER_OFF ;");
}

TEST_F(PortObjectTest, IdentifierIsFoundAsASubstringOfTheReply) {
    const struct {
        const char* reader;
        const char* sought;
        bool found;
    } rows[] = {
        {"VKR900-153", "VKR900-15", true},
        {"VKR900-153", "VKR900-153", true},
        {"VKR900-15", "VKR900-153", false},
        {"VKR900-12", "VKR900-15", false},
        {"K7000", "WG", false},
        {"VKR433-SAW", "SAW", true},
    };
    int32_t counter = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.reader) + " / " + r.sought);
        sim::ReaderSim reader(Reader(r.reader));
        const PortHandle before = com.hPORT;
        EXPECT_EQ(com.check_port("COM3", 1, kPortStr, u"VERSION", r.sought).found, r.found);
        // Every probe on a port that opens counts, match or not.
        EXPECT_EQ(com.NUM_COMMAND, ++counter);
        if (r.found) {
            ClosePort(com.hPORT);
        } else {
            EXPECT_EQ(com.hPORT, before);
            // A failed probe gives the port back.
            const PortHandle again = testing::Open("COM3");
            EXPECT_NE(again, INVALID_PORT_HANDLE);
            ClosePort(again);
        }
    }
}

TEST_F(PortObjectTest, LateOrBrokenRepliesAreNotSeen) {
    const struct {
        const char* what;
        int replyDelayMs;
        int pauseInsideMs;
        int splitParts;
        int splitGapMs;
        bool found;
    } rows[] = {
        // Each row clear of the 501 ms window and the 100 ms pause by a wide margin either way,
        // so that a thread held up under load cannot move a reply across the line. A late
        // reply or a long pause costs no time: the probe gives up at its own limit.
        {"reply after 200 ms", 200, 0, 1, 0, true},     {"reply after 1000 ms", 1000, 0, 1, 0, false},
        {"pause of 10 ms inside", 0, 10, 1, 0, true},   {"pause of 300 ms inside", 0, 300, 1, 0, false},
        {"four pieces 10 ms apart", 0, 0, 4, 10, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        sim::Options o = Reader("VKR900-12");
        o.replyDelayMs = r.replyDelayMs;
        o.pauseInsideMs = r.pauseInsideMs;
        o.splitParts = r.splitParts;
        o.splitGapMs = r.splitGapMs;
        sim::ReaderSim reader(o);
        EXPECT_EQ(com.check_port("COM3", 1, kPortStr, u"VERSION", "VKR900-12").found, r.found);
        if (com.hPORT != 0)
            ClosePort(com.hPORT);
        com.hPORT = 0;
    }
}

TEST_F(PortObjectTest, SilentPortCostsOneCountedFrame) {
    sim::Options o = Reader("VKR900-15");
    o.silent = true;
    sim::ReaderSim reader(o);
    const auto start = Clock::now();
    EXPECT_FALSE(com.check_port("COM3", 1, kPortStr, u"VERSION", "VKR900-15").found);
    EXPECT_GE(MsSince(start), 500); // the probe read waits out its 501 ms
    EXPECT_EQ(com.NUM_COMMAND, 1);
    EXPECT_EQ(sendLog.size(), 1u);
    EXPECT_EQ(terminal.size(), 1u);
    EXPECT_EQ(reader.requestCount(), 1u);
    EXPECT_EQ(com.hPORT, 0u);
}

TEST_F(PortObjectTest, PortsThatDoNotOpenCostNothing) {
    sim::ReaderSim reader(Reader("VKR900-15"));
    ASSERT_TRUE(com.check_port("COM3", 1, kPortStr, u"VERSION", "VKR900-15").found);
    const PortHandle held = com.hPORT;

    // The port this process holds, and a port that does not exist.
    for (const char* name : {"COM3", "COM4", "NOTAPORT"})
        EXPECT_FALSE(com.check_port(name, 1, kPortStr, u"VERSION", "VKR900-15").found) << name;
    EXPECT_EQ(com.NUM_COMMAND, 1);
    EXPECT_EQ(sendLog.size(), 1u);
    EXPECT_EQ(reader.requestCount(), 1u);
    EXPECT_EQ(com.hPORT, held);
}

TEST_F(PortObjectTest, SendingToNoPortOrTooLongACommand) {
    sim::ReaderSim reader(Reader("VKR900-15"));
    ASSERT_TRUE(com.check_port("COM3", 1, kPortStr, u"VERSION", "VKR900-15").found);

    com.SendStrToPort(INVALID_PORT_HANDLE, 1, u"VERSION");
    EXPECT_THROW(com.SendStrToPort(com.hPORT, 1, std::u16string(990, u'A')), CommandTooLong);
    EXPECT_EQ(com.NUM_COMMAND, 1);
    EXPECT_EQ(sendLog.size(), 1u);
    EXPECT_EQ(terminal.size(), 1u);

    // The longest command that fits still goes out whole.
    com.SendStrToPort(com.hPORT, 1, std::u16string(989, u'B'));
    ASSERT_TRUE(reader.waitForRequests(2, 2000));
    EXPECT_EQ(reader.requests().size(), 2u);
    EXPECT_EQ(reader.requests()[1].size(), static_cast<std::size_t>(kFrameBlockSize));
    EXPECT_EQ(reader.commands()[1], std::string(989, 'B'));

    // Echo lines need no window: unconnected sinks are skipped.
    com.MemoUTIL_SEND = nullptr;
    com.MemoTERMINAL = nullptr;
    com.SendStrToPort(com.hPORT, 1, u"OK");
    EXPECT_TRUE(reader.waitForRequests(3, 2000));
}

TEST_F(PortObjectTest, ProbeThatCannotBeFramedGivesThePortBack) {
    sim::ReaderSim reader(Reader("VKR900-15"));
    EXPECT_THROW(com.check_port("COM3", 1, kPortStr, std::u16string(2000, u'V'), "VKR900-15"),
                 CommandTooLong);
    EXPECT_EQ(com.NUM_COMMAND, 0);
    const PortHandle again = testing::Open("COM3");
    EXPECT_NE(again, INVALID_PORT_HANDLE);
    ClosePort(again);
}

TEST_F(PortObjectTest, CounterWrapsInsteadOfOverflowing) {
    sim::ReaderSim reader(Reader("VKR900-15"));
    com.NUM_COMMAND = 2147483646;
    ASSERT_TRUE(com.check_port("COM3", 1, kPortStr, u"VERSION", "VKR900-15").found);
    com.SendStrToPort(com.hPORT, 1, u"X");
    EXPECT_EQ(com.NUM_COMMAND, -2147483647 - 1);
    EXPECT_EQ(sendLog, (std::vector<std::string>{"01:2147483647 VERSION;", "01:-2147483648 X;"}));
}

TEST_F(PortObjectTest, CreatePortClosesTheHeldPortFirst) {
    sim::ReaderSim reader(Reader("VKR900-15"));
    ASSERT_TRUE(com.create_port("COM3", kPortStr).ok());
    const PortHandle first = com.hPORT;
    EXPECT_EQ(com.NUM_COMMAND, 0); // no probe
    EXPECT_EQ(com.TimeOuts.ReadIntervalTimeout, 1u);
    EXPECT_EQ(com.TimeOuts.WriteTotalTimeoutMultiplier, 1u);

    // Opening the same port again works because the held one is given up first.
    ASSERT_TRUE(com.create_port("COM3", kPortStr).ok());
    EXPECT_NE(com.hPORT, first);
    uint32_t written = 0;
    EXPECT_FALSE(WriteFile(first, "x", 1, &written).ok());

    com.SendStrToPort(com.hPORT, 1, u"PING");
    ASSERT_TRUE(reader.waitForRequests(1, 2000));
    EXPECT_EQ(reader.commands()[0], "PING");

    // A failed open leaves no stale handle behind.
    EXPECT_FALSE(com.create_port("COM9", kPortStr).ok());
    EXPECT_EQ(com.hPORT, 0u);
}

// A port that opens and takes its settings but cannot be purged: a pty cannot fail a purge.
class PurgeFails : public testing::FakePort {
  public:
    explicit PurgeFails(std::vector<std::string>* log) : log_(log) {}
    ~PurgeFails() override { log_->push_back("close"); }
    bool purge(uint32_t) override {
        log_->push_back("purge");
        return false;
    }
    PortError read(void*, uint32_t, uint32_t* got) override {
        *got = 0;
        return {};
    }
    PortError write(const void*, uint32_t n, uint32_t* written) override {
        log_->push_back("write");
        *written = n;
        return {};
    }

  private:
    std::vector<std::string>* log_;
};

TEST_F(PortObjectTest, PurgeFailureIsRaisedAndNothingIsSent) {
    std::vector<std::string> log;
    SetPortOpener([&log](const std::string&, PortError&) { return std::make_unique<PurgeFails>(&log); });
    using Attempt = bool (*)(Tmy_COM&);
    const Attempt attempts[] = {
        [](Tmy_COM& c) { return c.check_port("COM5", 1, kPortStr, u"VERSION", "VKR900-15").found; },
        [](Tmy_COM& c) { return c.create_port("COM5", kPortStr).ok(); },
    };
    for (Attempt attempt : attempts) {
        log.clear();
        com.hPORT = 0;
        try {
            attempt(com);
            ADD_FAILURE() << "no error raised";
        } catch (const PortSetupError& e) {
            EXPECT_STREQ(e.what(), "Error purging port");
        }
        // The port of the attempt is closed again, not stored, and nothing was written.
        EXPECT_EQ(log, (std::vector<std::string>{"purge", "close"}));
        EXPECT_EQ(com.hPORT, 0u);
        EXPECT_EQ(com.NUM_COMMAND, 0);
        EXPECT_TRUE(sendLog.empty());
    }
}

} // namespace
} // namespace rd

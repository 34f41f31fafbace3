// What a probe sees and keeps: the cause of a port that does not open, the reply bytes of one
// that does, and an identifier that comes after (or across) a stream of other answers.
#include "link/my_com.h"

#include "link/discovery.h"

#include "link_test_support.h"
#include "sim/reader_sim.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace rd {
namespace {

using testing::RawPty;

const std::string kPortStr = ": baud=115200 parity=N data=8 stop=2";
const std::string kProbeFrame = std::string("\x01:00000001 VERSION;");

class ProbeReplyTest : public ::testing::Test {
  protected:
    void SetUp() override { SetPortDirectory(dir.path()); }
    void TearDown() override {
        if (com.hPORT != 0)
            ClosePort(com.hPORT);
        ResetPortDirectory();
    }
    sim::TempPortDir dir;
    Tmy_COM com;
};

// Tag answers as a reader streams them during an inventory, cut to n bytes.
std::string TagStream(std::size_t n) {
    std::string s;
    for (int i = 0; s.size() < n; ++i)
        s += ":00000000 INV 1 " + std::to_string(i) + " 3008000000000001 -50;\r\n";
    s.resize(n);
    return s;
}

TEST_F(ProbeReplyTest, IdentifierBehindOtherAnswersIsFoundWithinTheWindow) {
    const std::string reply = ":00000001 VERSION VKR900-15;\r\n";
    const struct {
        const char* what;
        std::size_t before; // bytes of tag answers ahead of the reply
        int gapMs;          // pause between them and the reply
        bool found;
    } rows[] = {
        {"more than one read of tag answers first", 1500, 0, true},
        // The first read ends inside the identifier: the bytes kept join it up again.
        {"identifier across the first read's end", 495, 0, true},
        {"more tag answers than are kept", 6000, 0, true},
        // Pauses clear of the 100 ms rule by a wide margin either way, so that a thread held up
        // under load cannot move the reply across it.
        {"a short pause after a full read", 500, 10, true},
        // The pause rule holds after a full read as well (the reply would still be within
        // the window).
        {"a pause of 300 ms after a full read", 500, 300, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        RawPty pty;
        pty.publish(dir.path(), 4);
        // The device's pause ends early once the probe is over: a reply after that is
        // seen by nobody.
        std::promise<void> probed;
        std::thread device([&, over = probed.get_future()] {
            if (pty.read(kProbeFrame.size()) != kProbeFrame)
                return;
            pty.write(TagStream(r.before));
            if (over.wait_for(std::chrono::milliseconds(r.gapMs)) == std::future_status::ready)
                return;
            pty.write(reply);
        });
        com.NUM_COMMAND = 0;
        const bool found = com.check_port("COM4", 1, kPortStr, u"VERSION", "VKR900-15").found;
        probed.set_value();
        device.join();
        EXPECT_EQ(found, r.found);
        if (found)
            ClosePort(com.hPORT);
        com.hPORT = 0;
    }
}

TEST_F(ProbeReplyTest, ProbeOutcomeKeepsTheCauseOrTheReply) {
    sim::Options acme;
    acme.identifier = "ACME-7";
    acme.portDir = dir.path();
    acme.comNumber = 1;
    sim::ReaderSim reader(acme);
    sim::Options quiet = acme;
    quiet.comNumber = 2;
    quiet.silent = true;
    sim::ReaderSim silent(quiet);
    // COM3: held by another program, with the lock this program takes too.
    RawPty held;
    held.publish(dir.path(), 3);
    const int holder = ::open(held.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    // COM5: a device that is no serial port.
    ASSERT_EQ(::symlink("/dev/null", (dir.path() + "/COM5").c_str()), 0);

    const struct {
        const char* port;
        bool opened;
        std::string reply;
        int err;
        const char* text;
        std::string device;
    } rows[] = {
        {"COM1", true, ":00000001 VERSION ACME-7;\r\n", 0, "", ""},
        {"COM2", true, "", 0, "", ""},
        {"COM3", false, "", EWOULDBLOCK, "held by another program", held.slavePath()},
        {"COM4", false, "", ENOENT, "no such port", ""},
        {"COM5", false, "", ENOTTY, "not a serial device", "/dev/null"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.port);
        com.NUM_COMMAND = 0;
        const ProbeOutcome p = com.check_port(r.port, 1, kPortStr, u"VERSION", "VKR900-15");
        EXPECT_FALSE(p.found);
        EXPECT_EQ(p.opened, r.opened);
        EXPECT_EQ(std::string(p.reply.begin(), p.reply.end()), r.reply);
        EXPECT_EQ(p.openError.err, r.err);
        EXPECT_EQ(p.openError.text, r.text);
        EXPECT_EQ(p.openError.device, r.device);
        EXPECT_EQ(p.ioError.err, 0) << "nothing failed after the open";
    }
    ::close(holder);
}

// A port that opens but whose writes, or reads, fail with a given cause (0: they work and
// nothing ever comes). For causes a pseudo-terminal cannot produce.
class BrokenPort : public testing::FakePort {
  public:
    BrokenPort(int writeErr, int readErr) : writeErr_(writeErr), readErr_(readErr) {}
    PortError read(void*, uint32_t, uint32_t* got) override {
        *got = 0;
        return readErr_ == 0 ? PortError{} : PortFailed(readErr_, "/dev/ttyUSB0");
    }
    PortError write(const void*, uint32_t n, uint32_t* written) override {
        *written = writeErr_ == 0 ? n : 0;
        return writeErr_ == 0 ? PortError{} : PortFailed(writeErr_, "/dev/ttyUSB0");
    }

  private:
    int writeErr_;
    int readErr_;
};

TEST(ProbeVerdict, PortThatOpensButFailsToWriteOrReadSaysWhy) {
    const struct {
        int writeErr;
        int readErr;
        const char* line;
    } rows[] = {
        {0, 0, "COM6: no reply"},
        {ENXIO, ENXIO, "COM6: no reply (the device is gone)"},
        {0, EIO, "COM6: no reply (input/output error)"},
        {EIO, 0, "COM6: no reply (input/output error)"},
    };
    for (const auto& r : rows) {
        SetPortOpener([&](const std::string&, PortError&) {
            return std::make_unique<BrokenPort>(r.writeErr, r.readErr);
        });
        Tmy_COM com;
        const PortProbeResult result = ProbePort(com, "COM6");
        SetPortOpener({});
        EXPECT_EQ(result.found, nullptr) << r.line;
        EXPECT_EQ(result.verdict.line("COM6"), r.line);
    }
}

} // namespace
} // namespace rd

// The TCP port ("tcp://HOST:PORT") on the loopback: its names, opens that fail and why, the
// read time-outs of the serial port, writes, purge, a connection that ends, and a reader
// served on TCP by the simulator: found, answering, lost and found again.
#include "link/tcp_port.h"

#include "link/com_a.h"
#include "link/discovery.h"
#include "link/my_com.h"
#include "link_test_support.h"
#include "read_timeout_cases.h"
#include "sim/reader_sim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

#include <dirent.h>
#include <netinet/tcp.h>

namespace rd {
namespace {

using testing::Clock;
using testing::MsSince;
using testing::Take;
using testing::TcpPeer;
using testing::TimedReadCase;

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

TEST(TcpPortNames, ParsedBuiltAndResolvedToThemselves) {
    const struct {
        const char* name;
        bool ok;
        const char* host;
        uint16_t port;
    } rows[] = {
        {"tcp://127.0.0.1:2000", true, "127.0.0.1", 2000},
        {"TCP://localhost:1", true, "localhost", 1},
        {"tcp://[::1]:65535", true, "::1", 65535},
        {"tcp://reader-7.plant:4001", true, "reader-7.plant", 4001},
        {"tcp://127.0.0.1", false, "", 0},
        {"tcp://127.0.0.1:", false, "", 0},
        {"tcp://:2000", false, "", 0},
        {"tcp://127.0.0.1:0", false, "", 0},
        {"tcp://127.0.0.1:65536", false, "", 0},
        {"tcp://127.0.0.1:20x0", false, "", 0},
        {"tcp://127.0.0.1:-1", false, "", 0},
        {"tcp://::1:2000", false, "", 0},
        {"tcp://[::1]2000", false, "", 0},
        {"tcp://a b:2000", false, "", 0},
        {"tcp://host:2000/", false, "", 0},
        {"udp://127.0.0.1:2000", false, "", 0},
        {"COM3", false, "", 0},
    };
    for (const auto& r : rows) {
        std::string host = "unchanged";
        uint16_t port = 7;
        EXPECT_EQ(ParseTcpPortName(r.name, host, port), r.ok) << r.name;
        EXPECT_EQ(host, r.ok ? r.host : "unchanged") << r.name;
        EXPECT_EQ(port, r.ok ? r.port : 7) << r.name;
        if (r.ok) {
            EXPECT_EQ(TcpPortName(host, port), "tcp://" + std::string(r.name).substr(6)) << r.name;
        }
        // A tcp:// name stands for itself and is never a COM port.
        if (IsTcpPortName(r.name)) {
            EXPECT_EQ(ResolvePortName(r.name), r.name);
            EXPECT_EQ(ComPortNumber(r.name), 0) << r.name;
        }
    }
}

TEST(TcpConnect, RefusedAndMalformedOpensSayWhy) {
    TcpPeer peer;
    const std::string name = peer.name();
    peer.stopListening();

    const auto start = Clock::now();
    PortError e;
    EXPECT_EQ(OpenPort(name, e), INVALID_PORT_HANDLE);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ(e.err, ECONNREFUSED);
    EXPECT_EQ(e.text, "connection refused");
    EXPECT_EQ(e.device, "127.0.0.1:" + std::to_string(peer.port()));

    // Discovery on that name alone: every identifier tried, one line saying why.
    Tmy_COM com;
    const PortProbeResult result = ProbePort(com, name);
    EXPECT_EQ(result.found, nullptr);
    EXPECT_EQ(result.verdict.line(name), name + ": cannot be opened (connection refused)");

    EXPECT_EQ(OpenPort("tcp://127.0.0.1", e), INVALID_PORT_HANDLE);
    EXPECT_EQ(e.err, EINVAL);
}

TEST(TcpConnect, UnansweredConnectGivesUpAfterTheConnectTimeOut) {
    // A server whose queue of connections is full drops further requests unanswered: one
    // connection fills a queue of length 0.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    const auto start = Clock::now();
    PortError e;
    const PortHandle h = OpenPort(TcpPortName("127.0.0.1", ntohs(addr.sin_port)), e);
    const long ms = MsSince(start);
    EXPECT_EQ(h, INVALID_PORT_HANDLE);
    EXPECT_GE(ms, kTcpConnectTimeoutMs - 50);
    EXPECT_LT(ms, kTcpConnectTimeoutMs + 1500);
    EXPECT_EQ(e.err, ETIMEDOUT);
    EXPECT_EQ(e.text, "connection timed out");
    ::close(filler);
    ::close(listener);
}

// An open connection: the link's port on one end, the test's server on the other.
class TcpPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PortError why;
        h = OpenPort(peer.name(), why);
        ASSERT_NE(h, INVALID_PORT_HANDLE) << why.text;
        ASSERT_TRUE(peer.accept());
    }
    void TearDown() override {
        if (h != INVALID_PORT_HANDLE)
            ClosePort(h);
    }
    testing::TimedReadResult timedRead(const CommTimeouts& t, uint32_t n,
                                       const std::function<void()>& started = {}) {
        return testing::TimedRead(h, t, n, started);
    }

    TcpPeer peer;
    PortHandle h = INVALID_PORT_HANDLE;
};

// The link's own socket of the connection, found among the process's descriptors by the
// address the server sees it at.
int LinkSocket(const TcpPeer& peer) {
    sockaddr_in far{};
    socklen_t len = sizeof far;
    if (::getpeername(peer.connection(), reinterpret_cast<sockaddr*>(&far), &len) != 0)
        return -1;
    int found = -1;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d)) {
            const int fd = std::atoi(e->d_name);
            sockaddr_in mine{};
            socklen_t l = sizeof mine;
            if (fd > 2 && fd != peer.connection() &&
                ::getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &l) == 0 && l == sizeof mine &&
                mine.sin_family == AF_INET && mine.sin_port == far.sin_port)
                found = fd;
        }
        ::closedir(d);
    }
    return found;
}

TEST_F(TcpPortTest, NoDelayKeepAliveAndLineSettingsThatChangeNothing) {
    const int fd = LinkSocket(peer);
    ASSERT_GE(fd, 0);
    const struct {
        int level;
        int option;
        const char* what;
    } options[] = {{IPPROTO_TCP, TCP_NODELAY, "TCP_NODELAY"}, {SOL_SOCKET, SO_KEEPALIVE, "SO_KEEPALIVE"}};
    for (const auto& o : options) {
        int on = 0;
        socklen_t len = sizeof on;
        ASSERT_EQ(::getsockopt(fd, o.level, o.option, &on, &len), 0) << o.what;
        EXPECT_NE(on, 0) << o.what;
    }

    // Whatever the line settings, they are taken and read back, and nothing goes on the wire.
    const LineSettings odd{12345, 5, 'M', StopBits::OnePointFive};
    EXPECT_TRUE(SetCommState(h, odd));
    LineSettings back{};
    ASSERT_TRUE(GetCommState(h, back));
    EXPECT_EQ(back.BaudRate, 12345u);
    EXPECT_EQ(back.ByteSize, 5);
    EXPECT_EQ(back.Parity, 'M');
    EXPECT_EQ(back.Stop, StopBits::OnePointFive);
    EXPECT_TRUE(SetupComm(h, 4096, 0));
    EXPECT_EQ(peer.read(1, 100), "");
}

TEST_F(TcpPortTest, WriteAndReadPassBytesUnchanged) {
    testing::ExpectBytesPassUnchanged(h, peer);
}

class TcpReadTimeouts : public TcpPortTest, public ::testing::WithParamInterface<TimedReadCase> {};

TEST_P(TcpReadTimeouts, OneRead) {
    testing::ExpectTimedReadCase(h, peer, GetParam());
}

TEST_P(TcpReadTimeouts, OneReadAfterAFullOne) {
    testing::ExpectTimedReadCase(h, peer, GetParam(), true);
}

// The serial port's table, and the rules the receiver thread and the probes read by.
std::vector<TimedReadCase> TcpReadCases() {
    auto cases = testing::ReadTimeoutCases();
    const std::vector<TimedReadCase> more = {
        // Interval and multiplier MAXDWORD with a constant: back at the first byte, or after
        // the constant when none comes.
        {"FirstByteRuleNothingComing", {kMaxDword, kMaxDword, 150, 0, 0}, 10, "", {}, "", 150, -1},
        {"FirstByteRuleEndsAtTheFirstByte",
         {kMaxDword, kMaxDword, 5000, 0, 0},
         10,
         "",
         {{20, "q"}, {400, "r"}},
         "q",
         -1,
         400},
        // The interval is armed by the first byte only: a longer gap after it ends the read.
        {"IntervalArmedByTheFirstByte", {50, 0, 0, 0, 0}, 10, "", {{0, "A"}, {300, "B"}}, "A", -1, 280},
    };
    cases.insert(cases.end(), more.begin(), more.end());
    return cases;
}

INSTANTIATE_TEST_SUITE_P(TcpPortTest, TcpReadTimeouts, ::testing::ValuesIn(TcpReadCases()),
                         [](const auto& info) { return testing::TimedReadCaseName(info.param); });

TEST_F(TcpPortTest, WriteTimeoutEndsAStuckWriteAsAFailure) {
    // The server reads nothing: the socket buffers fill and the write cannot finish.
    testing::ExpectStuckWriteFails(h, 32 << 20);
}

TEST_F(TcpPortTest, PurgeDropsWhatWaitsButNotTheEnd) {
    peer.write("stale bytes");
    ASSERT_TRUE(WaitForInput(h, 2000));
    EXPECT_TRUE(PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
    auto r = timedRead({0, 0, 50, 0, 0}, 20);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "");

    peer.write("kept");
    ASSERT_TRUE(WaitForInput(h, 2000));
    EXPECT_TRUE(PurgeComm(h, PURGE_TXCLEAR)); // output only: the input stays
    r = timedRead({0, 0, 500, 0, 0}, 4);
    EXPECT_EQ(r.bytes, "kept");

    EXPECT_FALSE(PurgeComm(h, 0x10)); // no such action

    // A purge after the server has gone leaves the end to be found.
    peer.closeMaster();
    ASSERT_TRUE(WaitForInput(h, 2000));
    EXPECT_TRUE(PurgeComm(h, PURGE_RXCLEAR));
    r = timedRead({0, 0, 500, 0, 0}, 4);
    EXPECT_FALSE(r.ok);
    EXPECT_LT(r.ms, 400);
}

// A connection the server ends: the reads fail at once with the cause of the end, the end of
// the stream or the reset, every time; writes fail once the socket refuses them.
TEST(TcpConnectionEnd, ClosedOrResetFailsReadsAtOnceWithTheCause) {
    const struct {
        const char* how;
        void (TcpPeer::*end)();
        bool socketTakesOneWrite; // until the server's reset to it comes back
        int err;
        const char* text;
    } rows[] = {
        {"closed", &TcpPeer::closeMaster, true, kTcpEndOfStreamErr, "the server closed the connection"},
        {"reset", &TcpPeer::reset, false, ECONNRESET, "connection reset"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.how);
        TcpPeer peer;
        const PortHandle h = testing::Open(peer.name());
        ASSERT_NE(h, INVALID_PORT_HANDLE);
        ASSERT_TRUE(peer.accept());
        peer.write("last");
        ASSERT_TRUE(WaitForInput(h, 2000));
        (peer.*row.end)();
        testing::ExpectEndedPortFails(h, row.socketTakesOneWrite);
        for (int i = 0; i < 2; ++i) {
            char buf[10];
            uint32_t got = 0;
            const PortError e = ReadFile(h, buf, sizeof buf, &got);
            EXPECT_EQ(e.err, row.err);
            EXPECT_EQ(e.text, row.text);
            EXPECT_EQ(e.device, "127.0.0.1:" + std::to_string(peer.port()));
        }
        EXPECT_TRUE(ClosePort(h));
    }
}

// A server that ends its sending side but goes on reading (shutdown for writing): the reads
// end with the end of the stream, and what is written after that still reaches the server, as
// the stop of an inventory must.
TEST_F(TcpPortTest, WritesAfterTheServersEndOfStreamStillArrive) {
    peer.write("last");
    ASSERT_EQ(::shutdown(peer.connection(), SHUT_WR), 0);
    auto r = timedRead({0, 0, 1000, 0, 0}, 10);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "last");
    char buf[10];
    uint32_t got = 0;
    const PortError e = ReadFile(h, buf, sizeof buf, &got);
    EXPECT_EQ(e.err, kTcpEndOfStreamErr);
    EXPECT_EQ(e.text, "the server closed the connection");

    for (const char* line : {"EPC_STOP", "again"}) {
        uint32_t written = 0;
        const PortError w = WriteFile(h, line, static_cast<uint32_t>(std::strlen(line)), &written);
        EXPECT_TRUE(w.ok()) << w.text;
        EXPECT_EQ(peer.read(std::strlen(line)), line);
    }
    EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &got).ok());
}

TEST_F(TcpPortTest, WakeDescriptorEndsAReadEarly) {
    testing::ExpectWakeEndsARead(h);
}

TEST(TcpReader, FoundAnsweredLostAndFoundAgain) {
    // The simulator on TCP only: no port directory, no COM name.
    sim::Options o;
    o.tcpPort = 0;
    std::optional<sim::ReaderSim> reader(std::in_place, o);
    const std::string name = reader->tcpPortName();
    ASSERT_FALSE(name.empty());

    Tmy_COM com;
    const PortProbeResult found = ProbePort(com, name);
    ASSERT_NE(found.found, nullptr);
    EXPECT_STREQ(found.found->identifier, "VKR900-15");
    EXPECT_EQ(com.CommPortStr, name + ": baud=115200 parity=N data=8 stop=2");
    auto receiver = std::make_unique<TCOM_A>(com.hPORT, com.CommPort);
    com.SendStrToPort(com.hPORT, 1, u"VERSION");
    EXPECT_EQ(Take(*receiver), ":00000002 VERSION VKR900-15;");

    // Unplugged: the server closes the connection, and the receiver calls it lost.
    reader->hangUp();
    EXPECT_TRUE(testing::WaitUntil([&] { return receiver->lost(); }));
    receiver.reset();
    ClosePort(com.hPORT);
    EXPECT_FALSE(com.check_port(name, kProbeAddress, kPortSettings, kProbeCommand, "VKR900-15").found);

    // Back on the same address: the same probe the window's reconnect makes finds it.
    o.tcpPort = std::stoi(name.substr(name.rfind(':') + 1));
    reader.reset();
    reader.emplace(o);
    ASSERT_EQ(reader->tcpPortName(), name);
    ASSERT_TRUE(com.check_port(name, kProbeAddress, kPortSettings, kProbeCommand, "VKR900-15").found);
    receiver = std::make_unique<TCOM_A>(com.hPORT, com.CommPort);
    com.SendStrToPort(com.hPORT, 1, u"ANYTHING");
    EXPECT_EQ(Take(*receiver), ":00000004 OK;");
    receiver.reset();
    ClosePort(com.hPORT);
}

} // namespace
} // namespace rd

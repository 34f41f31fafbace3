// The connection core without a window: probes (one TCP connection for all of a port's), the
// stop sent on close, a lost connection, attempts to bring it back off the owner's thread,
// and a TCP port that another client keeps taking over.
#include "link/reader_connection.h"

#include "../sim/tcp_client.h"
#include "link_test_support.h"

#include "sim/reader_sim.h"
#include "sim/tcp_bridge.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace rd::testing {
namespace {

using std::chrono::milliseconds;

constexpr const char* kSettings = ": baud=115200 parity=N data=8 stop=2";

TEST(ReconnectDelay, SerialEverySecondTcpBacksOffToThirtySeconds) {
    const struct {
        const char* port;
        int attemptsMade;
        long long ms;
    } rows[] = {
        {"COM3", 0, 1000},
        {"COM3", 1, 1000},
        {"COM3", 9, 1000},
        {"tcp://127.0.0.1:2000", 0, 1000},
        {"tcp://127.0.0.1:2000", 1, 2000},
        {"tcp://127.0.0.1:2000", 2, 4000},
        {"tcp://127.0.0.1:2000", 3, 8000},
        {"tcp://127.0.0.1:2000", 4, 16000},
        {"tcp://127.0.0.1:2000", 5, 30000},
        {"tcp://127.0.0.1:2000", 6, 30000},
        {"tcp://127.0.0.1:2000", 40, 30000},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ReconnectDelay(r.port, r.attemptsMade).count(), r.ms)
            << r.port << " after " << r.attemptsMade;
}

// Polls the connection until it tells news of the kind wanted (other news fails the test).
LinkNews PollFor(ReaderConnection& c, LinkNews::Kind kind, int timeoutMs) {
    LinkNews got;
    WaitUntil(
        [&] {
            got = c.poll();
            return got.kind != LinkNews::Nothing;
        },
        timeoutMs);
    EXPECT_EQ(got.kind, kind) << got.line;
    return got;
}

class ReaderConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override { SetPortDirectory(dir.path()); }
    void TearDown() override {
        link.reset();
        readers.clear();
        ResetPortDirectory();
    }

    sim::ReaderSim& addReader(const std::string& identifier, bool silent = false, int replyDelayMs = 0) {
        sim::Options o;
        o.identifier = identifier;
        o.portDir = dir.path();
        o.comNumber = 3;
        o.silent = silent;
        o.replyDelayMs = replyDelayMs;
        readers.push_back(std::make_unique<sim::ReaderSim>(o));
        return *readers.back();
    }
    void dropReaders() { readers.clear(); }

    // A connection whose echo lines are kept, each with the thread it was given on.
    ReaderConnection& connection() {
        link.emplace([this](const std::string& l) { sendLog.emplace_back(l, std::this_thread::get_id()); },
                     [this](const std::string& l) { terminal.emplace_back(l, std::this_thread::get_id()); });
        return *link;
    }

    sim::TempPortDir dir;
    std::vector<std::unique_ptr<sim::ReaderSim>> readers;
    std::optional<ReaderConnection> link;
    std::vector<std::pair<std::string, std::thread::id>> sendLog;
    std::vector<std::pair<std::string, std::thread::id>> terminal;
};

TEST_F(ReaderConnectionTest, CloseStopsARunThatTheReaderHasNotConfirmed) {
    const struct {
        const char* name;
        bool confirmFirst; // the run's end is confirmed before the close
        std::vector<std::string> after;
    } rows[] = {
        {"unconfirmed", false, {"EPC_STOP"}},
        {"confirmed", true, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        sim::ReaderSim& reader = addReader("VKR900-15");
        ReaderConnection& c = connection();
        ASSERT_NE(c.probe("COM3").found, nullptr);
        c.start();
        ASSERT_TRUE(c.send(1, u"KELM_EPC_INVENTORY_TIME 4 1 0").ok());
        EXPECT_TRUE(c.runUnconfirmed());
        ASSERT_TRUE(c.take(3000).has_value());
        if (r.confirmFirst) {
            ASSERT_TRUE(c.send(1, u"EPC_STOP").ok());
            ASSERT_TRUE(WaitUntil([&] {
                const std::optional<std::string> a = c.take(10);
                return a && a->find("STOP_INVENTORY") != std::string::npos;
            }));
            EXPECT_FALSE(c.runUnconfirmed());
        }
        const size_t before = reader.commands().size();
        c.close();
        EXPECT_FALSE(c.connected());
        reader.waitForRequests(before + r.after.size(), 1000);
        const std::vector<std::string> all = reader.commands();
        EXPECT_EQ(std::vector<std::string>(all.begin() + std::ptrdiff_t(before), all.end()), r.after);
        link.reset();
        dropReaders();
    }
}

// A scan of the port a run went on (COM pressed during the run) closes the connection and
// opens the port again at once. The stop the close wrote reaches the reader even when it has
// not taken it before the port is opened again: here the reader reads nothing until the probe
// is over, and what it has not read fills the pty, so that the stop waits in the kernel's
// output buffers (where a loaded machine leaves it for a while too).
TEST_F(ReaderConnectionTest, TheStopOfACloseSurvivesTheNextOpenOfThePort) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    // Held open, so that the program's closes never hang the pty up.
    const int held = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::symlink(slave.c_str(), (dir.path() + "/COM3").c_str()), 0);

    ReaderConnection& c = connection();
    ASSERT_TRUE(c.open("COM3").ok());
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(c.send(1, u"GET_SLOT 1").ok());
    ASSERT_TRUE(c.send(1, u"KELM_EPC_INVENTORY_TIME 4 1 0").ok());
    ASSERT_TRUE(c.runUnconfirmed());
    // Closes (the stop), opens again, probes; nothing answers.
    EXPECT_EQ(c.probe("COM3").found, nullptr);
    c.close();

    std::string wire;
    char buf[4096];
    pollfd p{master, POLLIN, 0};
    while (::poll(&p, 1, 200) > 0) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            break;
        wire.append(buf, std::size_t(n));
    }
    const std::size_t stop = wire.find(" EPC_STOP;");
    EXPECT_NE(stop, std::string::npos) << wire;
    EXPECT_NE(wire.find(" VERSION;", stop == std::string::npos ? 0 : stop), std::string::npos) << wire;
    ::close(held);
    ::close(master);
}

TEST_F(ReaderConnectionTest, LostReaderComesBackWithoutHoldingUpItsOwner) {
    sim::ReaderSim* reader = &addReader("VKR900-15");
    ReaderConnection& c = connection();
    ASSERT_NE(c.probe("COM3").found, nullptr);
    c.start();
    ASSERT_TRUE(c.connected());

    reader->hangUp();
    EXPECT_EQ(PollFor(c, LinkNews::Lost, 3000).line, "COM3: connection lost");
    EXPECT_TRUE(c.lost());
    EXPECT_FALSE(c.connected());
    EXPECT_EQ(c.send(1, u"VERSION").err, ENOTCONN);

    // A reader that answers nothing: each attempt's probe waits its 501 ms on a thread of its
    // own, while every poll returns at once.
    dropReaders();
    sim::ReaderSim& silent = addReader("VKR900-15", true);
    long longestPollMs = 0;
    const auto until = Clock::now() + milliseconds(2600);
    while (Clock::now() < until) {
        const auto t0 = Clock::now();
        EXPECT_EQ(c.poll().kind, LinkNews::Nothing);
        longestPollMs = std::max(longestPollMs, MsSince(t0));
        std::this_thread::sleep_for(milliseconds(5));
    }
    EXPECT_LT(longestPollMs, 50);
    // About one attempt a second.
    EXPECT_GE(silent.requestCount(), 2u);
    EXPECT_LE(silent.requestCount(), 3u);

    dropReaders();
    reader = &addReader("VKR900-15");
    terminal.clear();
    EXPECT_EQ(PollFor(c, LinkNews::Reconnected, 4000).line, "COM3: reconnected");
    EXPECT_TRUE(c.connected());
    // The same reader, by one probe; its echo lines reach the owner's thread.
    EXPECT_EQ(reader->commands(), std::vector<std::string>{"VERSION"});
    ASSERT_EQ(terminal.size(), 1u);
    EXPECT_EQ(terminal[0].second, std::this_thread::get_id());
    ASSERT_TRUE(c.send(1, u"GET_ADC").ok());
    const std::optional<std::string> answer = c.take(3000);
    ASSERT_TRUE(answer.has_value());
    EXPECT_NE(answer->find(" OK;"), std::string::npos) << *answer;
}

TEST_F(ReaderConnectionTest, CloseWhileAnAttemptRunsGivesThePortBack) {
    sim::ReaderSim* reader = &addReader("VKR900-15");
    ReaderConnection& c = connection();
    ASSERT_NE(c.probe("COM3").found, nullptr);
    c.start();
    reader->hangUp();
    PollFor(c, LinkNews::Lost, 3000);
    dropReaders();
    reader = &addReader("VKR900-15", true);
    ASSERT_TRUE(WaitUntil([&] {
        c.poll();
        return reader->requestCount() > 0;
    }));
    // The attempt still reads its probe's reply: the close does not wait for it, and the port
    // is free again once the attempt has ended.
    const auto t0 = Clock::now();
    c.close();
    EXPECT_LT(MsSince(t0), 100);
    PortError why;
    PortHandle h = INVALID_PORT_HANDLE;
    ASSERT_TRUE(WaitUntil([&] { return (h = OpenPort("COM3", why)) != INVALID_PORT_HANDLE; }, 2000))
        << why.text;
    ClosePort(h);
}

// A reader behind a serial device server on the loopback that takes a new client over from
// the one before (as ser2net's kickolduser does).
class TcpConnectionTest : public ReaderConnectionTest {
  protected:
    sim::TcpBridge& serve(const std::string& identifier, int replyDelayMs = 0) {
        sim::ReaderSim& r = addReader(identifier, false, replyDelayMs);
        bridge = std::make_unique<sim::TcpBridge>(r.slavePath(), 0);
        return *bridge;
    }
    void TearDown() override {
        link.reset();
        bridge.reset();
        ReaderConnectionTest::TearDown();
    }
    std::unique_ptr<sim::TcpBridge> bridge;
};

TEST_F(TcpConnectionTest, ThePortsProbesShareOneConnection) {
    // The last identifier of the table: seven probes.
    sim::TcpBridge& b = serve("K7000");
    ReaderConnection& c = connection();
    int probes = 0;
    PortProbeHooks hooks;
    hooks.afterProbe = [&](const ProbeOutcome&) { ++probes; };
    const PortProbeResult r = c.probe(b.portName(), hooks);
    ASSERT_NE(r.found, nullptr);
    EXPECT_STREQ(r.found->identifier, "K7000");
    EXPECT_EQ(probes, 7);
    EXPECT_EQ(b.clientsAccepted(), 1);
    EXPECT_EQ(c.settingsText(), b.portName() + kSettings);
}

// A reader that answers 0.6 s late: each reply lands in the window of the probe after its
// own, which seeks another identifier. The verdict says what came, and when.
TEST_F(TcpConnectionTest, AReplyAfterItsProbesWindowIsCalledLateNotUnknown) {
    for (const bool tcp : {false, true}) {
        SCOPED_TRACE(tcp ? "TCP" : "serial");
        link.reset();
        bridge.reset();
        readers.clear();
        std::string name = "COM3";
        if (tcp)
            name = serve("VKR900-15", 600).portName();
        else
            addReader("VKR900-15", false, 600);
        ReaderConnection& c = connection();
        std::vector<std::string> replies;
        PortProbeHooks hooks;
        hooks.afterProbe = [&](const ProbeOutcome& p) {
            replies.emplace_back(p.reply.begin(), p.reply.end());
        };
        const PortProbeResult r = c.probe(name, hooks);
        EXPECT_EQ(r.found, nullptr);
        // The late replies did come, each in a later probe's window.
        int withIdentifier = 0;
        for (const std::string& reply : replies)
            withIdentifier += reply.find("VERSION VKR900-15;") != std::string::npos;
        EXPECT_GE(withIdentifier, 3);
        EXPECT_EQ(r.verdict.line(name),
                  name + ": VKR900-15 answered too late (after the 501 ms of its probe)");
    }
}

TEST_F(TcpConnectionTest, APortThatDoesNotOpenIsProbedOnce) {
    uint16_t closedPort = 0;
    {
        // A port that was free a moment ago: nothing listens there.
        sim::TcpBridge& b = serve("VKR900-15");
        closedPort = b.port();
        bridge.reset();
    }
    ReaderConnection& c = connection();
    int probes = 0;
    PortProbeHooks hooks;
    hooks.afterProbe = [&](const ProbeOutcome& p) {
        ++probes;
        EXPECT_FALSE(p.opened);
    };
    const std::string name = "tcp://127.0.0.1:" + std::to_string(closedPort);
    const PortProbeResult r = c.probe(name, hooks);
    EXPECT_EQ(r.found, nullptr);
    EXPECT_EQ(probes, 1);
    EXPECT_EQ(r.verdict.line(name), name + ": cannot be opened (connection refused)");
}

TEST_F(ReaderConnectionTest, AConnectThatHangsIsServedAndCanBeCancelled) {
    // A name server that never answers: the look-up of the open hangs for seconds.
    SetPortOpener([](const std::string&, PortError& why) -> std::unique_ptr<PortBackend> {
        std::this_thread::sleep_for(milliseconds(3000));
        why = PortFailed(ETIMEDOUT, "reader.plant.example:2000");
        return nullptr;
    });
    ReaderConnection& c = connection();
    int asked = 0;
    const auto start = Clock::now();
    PortProbeHooks hooks;
    // Asked before the probe and then again and again while the open runs; the user gives up
    // after half a second.
    hooks.beforeProbe = [&] {
        ++asked;
        return MsSince(start) < 500;
    };
    const PortProbeResult r = c.probe("tcp://reader.plant.example:2000", hooks);
    const long ms = MsSince(start);
    SetPortOpener({});
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.found, nullptr);
    EXPECT_FALSE(c.connected());
    EXPECT_GE(ms, 500);
    EXPECT_LT(ms, 700);
    EXPECT_GE(asked, 20);
}

TEST_F(TcpConnectionTest, ServerClosingIsToldAndAnotherClientTakingItOverEndsTheAttempts) {
    sim::TcpBridge& b = serve("VKR900-15");
    ReaderConnection& c = connection();
    ASSERT_NE(c.probe(b.portName()).found, nullptr);
    c.start();

    std::optional<sim::testing::TcpClient> other;
    other.emplace(b.port());
    ASSERT_TRUE(other->ok());
    EXPECT_EQ(PollFor(c, LinkNews::Lost, 3000).line,
              b.portName() + ": connection lost (closed by the server)");
    other.reset();

    EXPECT_EQ(PollFor(c, LinkNews::Reconnected, 4000).line, b.portName() + ": reconnected");
    // Taken over again within seconds of coming back: no further attempts.
    other.emplace(b.port());
    ASSERT_TRUE(other->ok());
    EXPECT_EQ(PollFor(c, LinkNews::GaveUp, 3000).line,
              b.portName() + ": another client holds it; press NET to take it back");
    EXPECT_TRUE(c.gaveUp());
    const int accepted = b.clientsAccepted();
    const auto until = Clock::now() + milliseconds(2500);
    while (Clock::now() < until) {
        EXPECT_EQ(c.poll().kind, LinkNews::Nothing);
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_EQ(b.clientsAccepted(), accepted);
}

} // namespace
} // namespace rd::testing

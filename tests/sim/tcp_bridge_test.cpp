// The simulator served on TCP: one client at a time, the newest taking over, and an unplugged
// reader ending the connection and the server.
#include "pty_client.h"
#include "sim/reader_sim.h"
#include "tcp_client.h"

#include <gtest/gtest.h>

#include <sys/file.h>

#include <string>
#include <thread>
#include <vector>

namespace rd::sim {
namespace {

using testing::RequestFrame;
using testing::TcpClient;

uint16_t PortOf(const ReaderSim& sim) {
    const std::string name = sim.tcpPortName();
    return static_cast<uint16_t>(std::stoi(name.substr(name.rfind(':') + 1)));
}

TEST(TcpBridge, OneClientAtATimeTheNewestTakesOver) {
    Options o;
    o.tcpPort = 0;
    ReaderSim sim(o);
    ASSERT_EQ(sim.tcpPortName().rfind("tcp://127.0.0.1:", 0), 0u) << sim.tcpPortName();
    EXPECT_EQ(sim.portPath(), "");

    TcpClient first(PortOf(sim));
    ASSERT_TRUE(first.ok());
    first.Write(RequestFrame(1, "VERSION"));
    EXPECT_EQ(first.ReadFrames(1), ":00000001 VERSION VKR900-15;\r\n");

    // A second client: the first one's connection ends, the reader is the second one's.
    TcpClient second(PortOf(sim));
    ASSERT_TRUE(second.ok());
    EXPECT_TRUE(first.Ended());
    second.Write(RequestFrame(2, "VERSION"));
    EXPECT_EQ(second.ReadFrames(1), ":00000002 VERSION VKR900-15;\r\n");
    ASSERT_TRUE(sim.waitForRequests(2, 1000));
    EXPECT_EQ(sim.commands(), (std::vector<std::string>{"VERSION", "VERSION"}));
}

TEST(TcpBridge, UnpluggedReaderEndsTheConnectionAndTheServer) {
    const struct {
        const char* when;
        int hangUpAfterRequests;
    } rows[] = {{"after a request", 1}, {"from the start", 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.when);
        Options o;
        o.tcpPort = 0;
        o.hangUpAfterRequests = row.hangUpAfterRequests;
        ReaderSim sim(o);
        const uint16_t port = PortOf(sim);
        if (row.hangUpAfterRequests > 0) {
            TcpClient client(port);
            ASSERT_TRUE(client.ok());
            client.Write(RequestFrame(1, "VERSION"));
            // The answer still comes; then the connection ends.
            EXPECT_EQ(client.ReadFrames(1), ":00000001 VERSION VKR900-15;\r\n");
            EXPECT_TRUE(client.Ended());
        }
        // No server any more: a new connection is refused.
        bool refused = false;
        for (int i = 0; i < 300 && !refused; ++i) {
            TcpClient late(port);
            refused = !late.ok() && late.error() == ECONNREFUSED;
            if (!refused) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        EXPECT_TRUE(refused);
    }
}

// Served on TCP and published as COM1 at once: the line is one program's at a time, as a
// serial port behind a device server is. Without a client the server leaves it alone, so a
// program on COM1 gets every byte of its answers; a client that comes meanwhile is refused.
TEST(TcpBridge, PublishedAndServedTheLineIsOneProgramsAtATime) {
    TempPortDir dir;
    Options o;
    o.portDir = dir.path();
    o.comNumber = 1;
    o.tcpPort = 0;
    ReaderSim sim(o);

    {
        testing::PtyClient com1(dir.path() + "/COM1");
        ASSERT_TRUE(com1.ok());
        ASSERT_EQ(::flock(com1.fd(), LOCK_EX | LOCK_NB), 0);
        for (int n = 1; n <= 20; ++n) {
            com1.Write(RequestFrame(n, "VERSION"));
            const std::string counter = std::to_string(n);
            const std::string want =
                ":" + std::string(8 - counter.size(), '0') + counter + " VERSION VKR900-15;\r\n";
            ASSERT_EQ(com1.ReadFrames(1), want) << "answer " << n;
        }
        TcpClient refused(PortOf(sim));
        ASSERT_TRUE(refused.ok());
        EXPECT_TRUE(refused.Ended());
    }

    // COM1 given back: the next client has the reader.
    TcpClient client(PortOf(sim));
    ASSERT_TRUE(client.ok());
    client.Write(RequestFrame(21, "VERSION"));
    EXPECT_EQ(client.ReadFrames(1), ":00000021 VERSION VKR900-15;\r\n");
}

} // namespace
} // namespace rd::sim

// A reader behind a serial device server on the loopback: the server goes away, and the
// connection tries the closed port again. Prints the delays between the first six attempts
// (the first counted from the loss), in whole seconds: "1,2,4,8,16,30" as the policy has it.
#include "link/reader_connection.h"
#include "sim/reader_sim.h"
#include "sim/tcp_bridge.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

int main() {
    using Clock = std::chrono::steady_clock;
    rd::sim::ReaderSim reader;
    auto bridge = std::make_unique<rd::sim::TcpBridge>(reader.slavePath(), 0);
    rd::ReaderConnection c;
    if (!c.probe(bridge->portName()).found) {
        std::fprintf(stderr, "bench_reconnect_backoff: no reader behind the server\n");
        return 1;
    }
    c.start();
    bridge.reset(); // the server goes: the connection is closed and the port refuses
    const auto deadline = Clock::now() + std::chrono::seconds(90);
    Clock::time_point last{};
    std::string delays;
    while (c.attemptsMade() < 6 && Clock::now() < deadline) {
        const int before = c.attemptsMade();
        const rd::LinkNews news = c.poll();
        if (news.kind == rd::LinkNews::Lost)
            last = Clock::now();
        if (c.attemptsMade() != before) {
            const double s = std::chrono::duration<double>(Clock::now() - last).count();
            delays += (delays.empty() ? "" : ",") + std::to_string(std::lround(s));
            last = Clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (c.attemptsMade() < 6) {
        std::fprintf(stderr, "bench_reconnect_backoff: only %d attempts\n", c.attemptsMade());
        return 1;
    }
    std::printf("tcp_reconnect_backoff_s %s s\n", delays.c_str());
    return 0;
}

// readerdesk-bridge between 8 simulated readers and a subscriber, through a real Mosquitto on a
// loopback port:
//   bridge_reads_per_s     tags received by the subscriber per second while every reader floods
//   bridge_latency_p99_ms  an INV answer written to a pty -> its message at the subscriber (p99)
//   bridge_rss_mb          the bridge's resident memory after 1,000,000 reads
//   bridge_reads_per_s_batched  as bridge_reads_per_s, with --batch-ms 20 (arrays of tags)
#include "mqtt/mqtt_client.h"
#include "sim/reader_sim.h"
#include "support/mosquitto_broker.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kReaders = 8;

double RssMb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            in >> kb;
            return kb / 1024.0;
        }
        std::getline(in, key);
    }
    return -1;
}

pid_t StartBridge(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

void StopBridge(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

// Reads in one message of the tags topic: one, or the members of an array.
uint64_t ReadsIn(const std::string& payload) {
    uint64_t n = 0;
    for (auto at = payload.find("\"epc\""); at != std::string::npos; at = payload.find("\"epc\"", at + 5))
        ++n;
    return n;
}

template <class Pred> bool WaitUntil(Pred pred, std::chrono::seconds within) {
    const auto end = Clock::now() + within;
    while (!pred()) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

} // namespace

int main() {
    testsupport::MosquittoBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "bench_bridge: no broker\n%s", broker.log().c_str());
        return 1;
    }
    rd::sim::TempPortDir dir;
    std::vector<std::unique_ptr<rd::sim::ReaderSim>> sims;
    for (int i = 1; i <= kReaders; ++i) {
        rd::sim::Options o;
        o.portDir = dir.path();
        o.comNumber = i;
        o.epcs = {"E2000" + std::to_string(i) + "01", "E2000" + std::to_string(i) + "02",
                  "E2000" + std::to_string(i) + "03"};
        sims.push_back(std::make_unique<rd::sim::ReaderSim>(o));
    }

    std::atomic<uint64_t> tags{0};
    std::atomic<int> online{0};
    std::mutex mutex;
    std::map<std::string, Clock::time_point> arrived; // latency probes by EPC
    mqtt::ClientOptions so;
    so.broker = *mqtt::ParseBrokerUrl(broker.url(), nullptr);
    so.clientId = "bench-subscriber";
    mqtt::Handlers h;
    h.message = [&](const mqtt::Message& m) {
        const auto now = Clock::now();
        if (m.topic.size() > 5 && m.topic.compare(m.topic.size() - 5, 5, "/tags") == 0) {
            tags.fetch_add(ReadsIn(m.payload), std::memory_order_relaxed);
            const auto at = m.payload.find("\"epc\":\"L");
            if (at != std::string::npos) {
                std::lock_guard lock(mutex);
                arrived[m.payload.substr(at + 7, m.payload.find('"', at + 7) - at - 7)] = now;
            }
        } else if (m.payload.find("\"online\"") != std::string::npos) {
            online.fetch_add(1);
        }
    };
    mqtt::Client sub(so, h);
    sub.subscribe("bench/#", 0);
    sub.start();

    std::vector<std::string> args = {
        READERDESK_BRIDGE_EXE, "--port-dir", dir.path(),   "--broker", broker.url(),
        "--topic-prefix",      "bench",      "--json-log", "/dev/null"};
    for (int i = 1; i <= kReaders; ++i)
        args.insert(args.end(), {"--port", "COM" + std::to_string(i)});
    const pid_t pid = StartBridge(args);
    if (pid < 0) {
        std::fprintf(stderr, "bench_bridge: cannot start readerdesk-bridge\n");
        return 1;
    }
    int code = 0;
    if (!WaitUntil([&] { return online.load() >= kReaders; }, 20s)) {
        std::fprintf(stderr, "bench_bridge: the readers did not come online\n");
        code = 1;
    }

    // Latency first, on quiet readers: one INV answer every 5 ms, round the readers.
    constexpr int kProbes = 400;
    std::vector<Clock::time_point> sent(kProbes);
    for (int i = 0; i < kProbes && code == 0; ++i) {
        sent[i] = Clock::now();
        sims[std::size_t(i % kReaders)]->sendAnswer("INV 1 3000 L" + std::to_string(i) + " -50");
        std::this_thread::sleep_for(5ms);
    }
    WaitUntil(
        [&] {
            std::lock_guard lock(mutex);
            return arrived.size() >= std::size_t(kProbes);
        },
        10s);
    std::vector<double> ms;
    {
        std::lock_guard lock(mutex);
        for (int i = 0; i < kProbes; ++i) {
            const auto it = arrived.find("L" + std::to_string(i));
            ms.push_back(it == arrived.end()
                             ? 1e9
                             : std::chrono::duration<double, std::milli>(it->second - sent[i]).count());
        }
    }
    std::sort(ms.begin(), ms.end());

    // Throughput: every reader floods; the subscriber counts over a few seconds past a warm-up.
    for (auto& s : sims)
        s->startFlood();
    std::this_thread::sleep_for(1s);
    const uint64_t from = tags.load();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(5s);
    const double rate = double(tags.load() - from) / std::chrono::duration<double>(Clock::now() - t0).count();

    // Memory after 1,000,000 reads (as the subscriber counts them; at most 3 minutes).
    WaitUntil([&] { return tags.load() >= 1000000; }, 180s);
    const double rss = RssMb(pid);
    const uint64_t reads = tags.load();
    for (auto& s : sims)
        s->stopFlood();

    StopBridge(pid);
    if (code != 0)
        return code;

    // The same with arrays of tags.
    online = 0;
    args.insert(args.end(), {"--batch-ms", "20"});
    const pid_t batched = StartBridge(args);
    double batchedRate = 0;
    if (batched > 0 && WaitUntil([&] { return online.load() >= kReaders; }, 20s)) {
        for (auto& s : sims)
            s->startFlood();
        std::this_thread::sleep_for(1s);
        const uint64_t b0 = tags.load();
        const auto bt0 = Clock::now();
        std::this_thread::sleep_for(5s);
        batchedRate = double(tags.load() - b0) / std::chrono::duration<double>(Clock::now() - bt0).count();
        for (auto& s : sims)
            s->stopFlood();
    }
    if (batched > 0)
        StopBridge(batched);
    std::printf("bridge_reads_per_s %.0f reads/s\n", rate);
    std::printf("bridge_latency_p99_ms %.1f ms\n", ms[std::size_t(kProbes * 99 / 100)]);
    std::printf("bridge_rss_mb %.1f MB (after %llu reads)\n", rss, static_cast<unsigned long long>(reads));
    std::printf("bridge_reads_per_s_batched %.0f reads/s\n", batchedRate);
    return 0;
}

#include "bridge/bridge.h"

#include <algorithm>

#include "bridge/event_log.h"
#include "bridge/reader_worker.h"

#include "cli/cli_output.h"
#include "cli/stop_signals.h"
#include "link/discovery.h"
#include "link/serial_port.h"
#include "link/tcp_port.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

namespace rd::bridge {

namespace {

void Say(const std::string& text) {
    std::fprintf(stderr, "readerdesk-bridge: %s\n", text.c_str());
}

// The ports that hold a reader: each given tcp:// port and COM1 to COM20, probed in turn.
std::vector<std::string> ScanPorts(const BridgeOptions& o) {
    std::vector<std::string> candidates;
    for (const std::string& p : o.ports)
        if (IsTcpPortName(p))
            candidates.push_back(p);
    for (int n = 1; n <= kLastPort; ++n)
        candidates.push_back("COM" + std::to_string(n));
    std::vector<std::string> found;
    for (const std::string& port : candidates) {
        ReaderConnection link;
        PortProbeHooks hooks;
        hooks.beforeProbe = [] { return cli::StopRequests() == 0; };
        try {
            if (link.probe(port, hooks).found)
                found.push_back(port);
        } catch (const PortSetupError&) {
        }
        link.close();
    }
    return found;
}

} // namespace

int RunBridge(const BridgeOptions& o) {
    if (o.portDirGiven)
        SetPortDirectory(o.portDir);
    if (const std::string dir = PortDirectory(); !dir.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(dir, ec)) {
            const int err = std::filesystem::exists(dir, ec) ? ENOTDIR : ENOENT;
            Say("the port folder " + dir + ": " + std::error_code(err, std::generic_category()).message());
            return kExitUsage;
        }
    }
    BridgeContext ctx;
    ctx.options = &o;
    std::string why;
    ctx.broker = *mqtt::ParseBrokerUrl(o.broker, &why);
    if (!ResolvePassword(o, std::getenv("READERDESK_MQTT_PASSWORD"), ctx.password, why)) {
        Say(why);
        return kExitFailure;
    }
    if (!o.cafile.empty() && !std::ifstream(o.cafile)) {
        Say("cannot read the CA file " + o.cafile);
        return kExitFailure;
    }
    const std::string host = HostName();
    ctx.clientId = o.clientId.empty() ? "readerdesk-bridge-" + host : o.clientId;
    ctx.topicPrefix = o.topicPrefix.empty() ? "readerdesk/" + host : o.topicPrefix;

    EventLog log;
    if (!log.open(o.jsonLog, why)) {
        Say("cannot write the json log " + o.jsonLog + ": " + why);
        return kExitFailure;
    }
    ctx.log = &log;
    cli::TrafficLog traffic;
    std::mutex trafficMutex;
    if (!o.trafficLog.empty()) {
        if (!traffic.open(o.trafficLog, why)) {
            Say("cannot write the traffic log " + o.trafficLog + ": " + why);
            return kExitFailure;
        }
        traffic.onFailure = [&](const std::string& reason) {
            Say("cannot write the traffic log " + o.trafficLog + ": " + reason +
                "; nothing more is written to it");
        };
        ctx.traffic = [&](const std::string& line) {
            std::lock_guard lock(trafficMutex);
            traffic.write(line);
        };
    }

    std::mutex fatalMutex;
    int fatalCode = 0;
    std::string fatalText;
    ctx.fatal = [&](int code, const std::string& text) {
        std::lock_guard lock(fatalMutex);
        if (fatalCode == 0) {
            fatalCode = code;
            fatalText = text;
        }
    };

    std::vector<std::string> ports = o.ports;
    if (o.scan) {
        for (const std::string& p : ScanPorts(o)) {
            bool had = false;
            for (const std::string& q : ports)
                had = had || q == p;
            if (!had)
                ports.push_back(p);
        }
        if (ports.empty()) {
            Say("no reader found on COM1 to COM20");
            return kExitFailure;
        }
    }

    nlohmann::ordered_json readers = nlohmann::ordered_json::array();
    for (const std::string& p : ports)
        readers.push_back(ReaderName(p));
    log.event("started",
              {{"broker", ctx.broker.url()}, {"topic_prefix", ctx.topicPrefix}, {"readers", readers}});

    // --queue bounds the bridge as a whole: each reader keeps its share.
    const std::size_t queueShare =
        std::max<std::size_t>(1, ctx.options->queue / std::max<std::size_t>(1, ports.size()));
    std::vector<std::unique_ptr<ReaderWorker>> workers;
    for (const std::string& p : ports)
        workers.push_back(std::make_unique<ReaderWorker>(ctx, p, queueShare));
    for (auto& w : workers)
        w->start();

    int code = kExitOk;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (cli::StopRequests() > 0)
            break;
        std::lock_guard lock(fatalMutex);
        if (fatalCode != 0) {
            code = fatalCode;
            Say(fatalText);
            break;
        }
    }
    for (auto& w : workers)
        w->stop();
    for (auto& w : workers)
        w->join();
    workers.clear();
    log.event("stopped", {{"exit_code", code}});
    return code == kExitOk && traffic.failed() ? kExitFailure : code;
}

} // namespace rd::bridge

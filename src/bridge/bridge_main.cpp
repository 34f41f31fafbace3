// readerdesk-bridge: readers on serial ports and serial device servers, published to an MQTT
// broker. See the usage text (--help).
#include "bridge/bridge.h"
#include "bridge/bridge_options.h"

#include "cli/stop_signals.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace rd::bridge;
    // Before any thread: they all inherit the blocked signals.
    rd::cli::InstallStopSignals();
    const BridgeParse parsed = ParseBridgeCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "readerdesk-bridge: %s\n\n%s", parsed.error.c_str(), kBridgeUsage);
        return kExitUsage;
    }
    if (parsed.options.help) {
        std::fputs(kBridgeUsage, stdout);
        return kExitOk;
    }
    return RunBridge(parsed.options);
}

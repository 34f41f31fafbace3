// readerdesk-cli: the reader from a shell or a script. See the usage text (--help).
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/stop_signals.h"

#include "link/serial_port.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace rd::cli;
    // Before any thread: they all inherit the blocked signals.
    InstallStopSignals();

    const ParseResult parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "readerdesk-cli: %s\n\n%s", parsed.error.c_str(), kUsage);
        return kExitUsage;
    }
    const CliOptions& o = parsed.options;
    if (o.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (o.portDirGiven)
        rd::SetPortDirectory(o.portDir);

    Output out(o.json);
    TrafficLog log;
    std::string why;
    if (!o.trafficLog.empty() && !log.open(o.trafficLog, why)) {
        out.message("readerdesk-cli: cannot write the traffic log " + o.trafficLog + ": " + why);
        return kExitUsage;
    }
    return RunCommand(o, out, log);
}

// readerdesk-cli: the reader from a shell or a script. See the usage text (--help).
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/stop_signals.h"

#include "link/serial_port.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
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
    Output out(o.json);
    if (o.portDirGiven)
        rd::SetPortDirectory(o.portDir);
    // A port folder that is not there would make every COM name "no such port".
    if (const std::string dir = rd::PortDirectory(); !dir.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(dir, ec)) {
            const int err = std::filesystem::exists(dir, ec) ? ENOTDIR : ENOENT;
            out.message("readerdesk-cli: the port folder " + dir + ": " +
                        std::error_code(err, std::generic_category()).message());
            return kExitUsage;
        }
    }

    TrafficLog log;
    std::string why;
    if (!o.trafficLog.empty() && !log.open(o.trafficLog, why)) {
        out.message("readerdesk-cli: cannot write the traffic log " + o.trafficLog + ": " + why);
        return kExitUsage;
    }
    log.onFailure = [&](const std::string& reason) {
        out.message("readerdesk-cli: cannot write the traffic log " + o.trafficLog + ": " + reason +
                    "; nothing more is written to it");
    };
    const int code = RunCommand(o, out, log);
    // A run whose record is incomplete did not succeed.
    return code == kExitOk && log.failed() ? kExitNoReader : code;
}

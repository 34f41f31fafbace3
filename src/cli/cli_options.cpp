#include "cli/cli_options.h"

#include "cli/cli_output.h"

#include "link/sweep.h"
#include "link/tcp_port.h"

#include <charconv>
#include <cmath>
#include <map>

namespace rd::cli {

const char* const kUsage =
    "Usage: readerdesk-cli [options] COMMAND [command options]\n"
    "\n"
    "Commands:\n"
    "  ports                 the COM names and the devices they stand for, and how to get\n"
    "                        the right to open those this user may not\n"
    "  scan                  find the reader: its port and identifier\n"
    "  send [--wait MS] [--] WORD...\n"
    "                        send one command (the words joined by single blanks) and\n"
    "                        print every answer that arrives within MS (default 1000);\n"
    "                        after \"--\" a word may begin with \"--\"\n"
    "  inventory [--cycles N | --seconds S] [--q Q] [--c C] [--n N]\n"
    "                        run an inventory (start parameters 20 5 15), stop it with\n"
    "                        EPC_STOP and print every EPC seen with its reads, antenna and\n"
    "                        last signal, then a summary (reads/s over the run, up to the\n"
    "                        first EPC_STOP); without --cycles or --seconds it runs until\n"
    "                        Ctrl+C\n"
    "  sensors               a collection, then the three sensor-tag reads: T, H, cf, mf, df\n"
    "  sweep [--steps \"0 2 4...\"] [--cycles N] [--q Q] [--c C] [--n N]\n"
    "                        an attenuation sweep: for each value (default \"0 2 4 6 8 10\n"
    "                        12 14 16 18 20\", in dB) SET_ATT_OUT, then an inventory of N\n"
    "                        whole cycles (default 10), stopped with EPC_STOP; prints each\n"
    "                        EPC's reads per step and its margin (the highest attenuation\n"
    "                        at which it was still read), then the tags seen and reads\n"
    "                        per step\n"
    "  monitor [--seconds S] [--hex]\n"
    "                        print every answer as it arrives, with the time (to the\n"
    "                        millisecond), as text or in hexadecimal; without --seconds\n"
    "                        until Ctrl+C\n"
    "  replay FILE           the inventory summary of a recorded session (a traffic log or\n"
    "                        monitor output), counted as inventory counts; opens no port\n"
    "\n"
    "Options:\n"
    "  --port NAME           COMn or tcp://HOST:PORT (PORT 1 to 65535, an IPv6 HOST in\n"
    "                        brackets); without it the first reader found on COM1 to\n"
    "                        COM20 that suits the command is taken\n"
    "  --no-probe            with --port: use the port without asking for the identifier\n"
    "  --port-dir DIR        COMn is the entry DIR/COMn (as READERDESK_PORT_DIR)\n"
    "  --addr N              net address of the commands, 0 to 255 (default 1)\n"
    "  --json                one JSON object per line on standard output\n"
    "  --traffic-log FILE    append every request, answer and discovery message to FILE\n"
    "  --help                this text\n"
    "\n"
    "Messages go to standard error. Answer texts show control characters as \\xHH and a\n"
    "backslash as \\\\ (JSON output escapes them as JSON does). Exit codes: 0 success; 1 no\n"
    "reader, no answer, the stop not confirmed, or a traffic log that could not be written;\n"
    "2 wrong usage (a command too long for a frame, a word that is not UTF-8 text, a port\n"
    "folder that is not there, a recording that cannot be read).\n";

namespace {

const std::map<std::string, Command> kCommands = {
    {"ports", Command::Ports},         {"scan", Command::Scan},       {"send", Command::Send},
    {"inventory", Command::Inventory}, {"sensors", Command::Sensors}, {"monitor", Command::Monitor},
    {"replay", Command::Replay},       {"sweep", Command::Sweep},
};

bool ToInt(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end && !text.empty();
}

bool ToSeconds(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    return ec == std::errc() && p == end && !text.empty() && std::isfinite(value) && value > 0;
}

} // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    ParseResult r;
    CliOptions& o = r.options;
    // Options given, to check afterwards that they belong to the command.
    std::vector<std::string> given;
    bool optionsEnded = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || a.rfind("--", 0) != 0) {
            if (a == "-h" && o.command == Command::None) {
                o.help = true;
                continue;
            }
            if (o.command == Command::None) {
                const auto it = kCommands.find(a);
                if (it == kCommands.end()) {
                    r.error = "unknown command " + a;
                    return r;
                }
                o.command = it->second;
            } else if (o.command == Command::Send) {
                o.words.push_back(a);
            } else if (o.command == Command::Replay && o.recording.empty() && !a.empty()) {
                o.recording = a;
            } else {
                r.error = "unexpected word " + a;
                return r;
            }
            continue;
        }

        std::string value;
        auto takeValue = [&]() {
            if (i + 1 >= args.size()) {
                r.error = "missing value for " + a;
                return false;
            }
            value = args[++i];
            return true;
        };
        auto bad = [&]() {
            r.error = "bad value for " + a + ": " + value;
            return r;
        };
        given.push_back(a);
        if (a == "--help") {
            o.help = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--no-probe") {
            o.noProbe = true;
        } else if (a == "--hex") {
            o.hex = true;
        } else if (a == "--port") {
            if (!takeValue())
                return r;
            std::string host;
            uint16_t tcpPort = 0;
            if (value.empty() || (IsTcpPortName(value) && !ParseTcpPortName(value, host, tcpPort)))
                return bad();
            o.port = value;
        } else if (a == "--port-dir") {
            if (!takeValue())
                return r;
            o.portDir = value;
            o.portDirGiven = true;
        } else if (a == "--addr") {
            if (!takeValue())
                return r;
            if (!ToInt(value, o.addr) || o.addr < 0 || o.addr > 255)
                return bad();
        } else if (a == "--traffic-log") {
            if (!takeValue())
                return r;
            if (value.empty())
                return bad();
            o.trafficLog = value;
        } else if (a == "--wait") {
            if (!takeValue())
                return r;
            if (!ToInt(value, o.waitMs) || o.waitMs < 0)
                return bad();
        } else if (a == "--cycles") {
            if (!takeValue())
                return r;
            if (!ToInt(value, o.cycles) || o.cycles < 1)
                return bad();
        } else if (a == "--steps") {
            if (!takeValue())
                return r;
            const SweepSteps steps = ParseSweepSteps(value);
            if (!steps.error.empty()) {
                r.error = "bad value for --steps: " + steps.error;
                return r;
            }
            o.steps = steps.values;
        } else if (a == "--seconds") {
            if (!takeValue())
                return r;
            if (!ToSeconds(value, o.seconds))
                return bad();
        } else if (a == "--q" || a == "--c" || a == "--n") {
            // Taken as typed, as the page's boxes are.
            if (!takeValue())
                return r;
            (a == "--q" ? o.q : a == "--c" ? o.c : o.n) = value;
        } else {
            r.error = "unknown option " + a;
            return r;
        }
    }

    if (o.help)
        return r;
    if (o.command == Command::None) {
        r.error = "no command given";
        return r;
    }
    const std::map<std::string, std::vector<Command>> belongsTo = {
        {"--wait", {Command::Send}},
        {"--cycles", {Command::Inventory, Command::Sweep}},
        {"--q", {Command::Inventory, Command::Sweep}},
        {"--c", {Command::Inventory, Command::Sweep}},
        {"--n", {Command::Inventory, Command::Sweep}},
        {"--seconds", {Command::Inventory, Command::Monitor}},
        {"--hex", {Command::Monitor}},
        {"--steps", {Command::Sweep}},
    };
    for (const std::string& g : given) {
        const auto it = belongsTo.find(g);
        if (it == belongsTo.end())
            continue;
        bool fits = false;
        for (Command c : it->second)
            fits = fits || c == o.command;
        if (!fits) {
            r.error = "option " + g + " does not belong to this command";
            return r;
        }
    }
    if (o.cycles > 0 && o.seconds > 0) {
        r.error = "--cycles and --seconds exclude each other";
        return r;
    }
    if (o.noProbe && (o.port.empty() || o.command == Command::Scan || o.command == Command::Ports)) {
        r.error = "--no-probe needs --port, and a command that talks to the reader";
        return r;
    }
    if (o.command == Command::Sweep && o.steps.empty())
        o.steps = ParseSweepSteps(kSweepDefaultSteps).values;
    if (o.command == Command::Sweep && o.cycles == 0)
        o.cycles = kSweepDefaultCycles;
    if (o.command == Command::Send && o.words.empty()) {
        r.error = "send needs a command";
        return r;
    }
    if (o.command == Command::Replay && o.recording.empty()) {
        r.error = "replay needs the recorded session's file";
        return r;
    }
    // A word goes out as the characters it spells: bytes that spell none have no place on the
    // wire.
    std::vector<std::string> spelt = o.words;
    if (o.command == Command::Inventory || o.command == Command::Sweep)
        spelt.insert(spelt.end(), {o.q, o.c, o.n});
    for (const std::string& w : spelt) {
        if (!IsUtf8(w)) {
            r.error = "the word " + ShowInvalidUtf8(w) + " is not UTF-8 text";
            return r;
        }
    }
    return r;
}

} // namespace rd::cli

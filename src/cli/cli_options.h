// The command line of readerdesk-cli: its commands, options and usage text.
#pragma once

#include <string>
#include <vector>

namespace rd::cli {

enum class Command { None, Ports, Scan, Send, Inventory, Sensors, Monitor, Replay, Sweep };

struct CliOptions {
    Command command = Command::None;
    bool help = false;

    // Common options.
    std::string port;     // "COMn" or "tcp://HOST:PORT"; empty: discovery picks the reader
    bool noProbe = false; // with port: open it without asking for the identifier
    std::string portDir;
    bool portDirGiven = false;
    int addr = 1; // net address of the commands (the probes always go to 1)
    bool json = false;
    std::string trafficLog;

    // send
    int waitMs = 1000;
    std::vector<std::string> words;

    // inventory: stop once this many cycles have begun (0: not given), or after this long
    // (0: not given); neither: until Ctrl+C. The start parameters, as typed.
    int cycles = 0;
    double seconds = 0; // inventory and monitor
    std::string q = "20";
    std::string c = "5";
    std::string n = "15";

    // sweep: the attenuation of each step, in dB; the cycles of each step are `cycles`
    // (0: kSweepDefaultCycles).
    std::vector<int> steps;

    // monitor
    bool hex = false;

    // replay: the recorded session
    std::string recording;
};

struct ParseResult {
    CliOptions options;
    std::string error; // not empty: wrong usage, with this reason
};

// Options start with "--" and may stand anywhere; every other word is the command, then
// (for send) the words of the command text. After "--" every word is a word, so that a
// command text may hold one that begins with "--".
ParseResult ParseCommandLine(const std::vector<std::string>& args);

extern const char* const kUsage;

} // namespace rd::cli

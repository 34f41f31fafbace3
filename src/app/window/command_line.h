// The readerdesk command line:
//   readerdesk [--port-dir DIR] [--scan] [--net HOST[:PORT]] [--traffic-log FILE] [--no-settings]
//   readerdesk --help | --version
#pragma once

#include <QString>
#include <QStringList>

namespace rd {

struct CommandLine {
    QString portDir;    // --port-dir: where COM1..COM20 are found (empty: the machine's ports)
    bool scan = false;  // --scan: run discovery once the window is shown
    QString trafficLog; // --traffic-log: file the traffic is appended to (empty: none)
    // --net: a serial device server (empty host: none); the start-up scan tries it first.
    QString netHost;
    int netPort = 2000;
    bool noSettings = false; // --no-settings: start with the defaults and keep nothing

    // -1: go on and start the window; otherwise exit at once with this code after
    // printing `message` (to standard output for 0, to standard error otherwise).
    int exitCode = -1;
    QString message;
};

// The usage text that --help prints.
QString UsageText(const QString& program);

// Splits "HOST", "HOST:PORT", "[IPV6]" or "[IPV6]:PORT" (PORT 1 to 65535; 2000 when left
// out). False for anything else (an empty host, a bad port, an IPv6 address without brackets).
bool ParseNetAddress(const QString& text, QString& host, int& port);

// Parses the arguments after the program name (args[0] is the program). Options may be
// given as "--opt VALUE" or "--opt=VALUE". An unknown option, a missing value or a stray
// argument gives exit code 2 with a message naming it.
CommandLine ParseCommandLine(const QStringList& args);

// The program name and the arguments that are ours (those beginning with "--", "-h", and
// the values of our options) out of the raw command line, before the toolkit has taken
// its own ("-platform offscreen", ...): --help, --version and a wrong option are answered at once,
// even where no display can be opened.
QStringList OwnArguments(const QStringList& rawArgs);

} // namespace rd

// The command line of readerdesk-bridge: its options, the password's sources and the usage text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace rd::bridge {

// The exit codes, as the usage text tells them.
enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2, kExitRefused = 3 };

struct BridgeOptions {
    bool help = false;

    // Readers.
    std::vector<std::string> ports; // "COMn" or "tcp://HOST:PORT", in the order given
    bool scan = false;              // also every reader found on COM1 to COM20
    std::string portDir;
    bool portDirGiven = false;
    int addr = 1;
    std::string trafficLog;
    bool inventory = false; // on every 900 MHz reader, kept running across reconnects
    std::string q = "20", c = "5", n = "15";

    // Broker.
    std::string broker = "mqtt://localhost";
    std::string cafile;
    std::string username;
    std::string passwordFile;
    std::string clientId;    // "" : readerdesk-bridge-<hostname>
    std::string topicPrefix; // "" : readerdesk/<hostname>
    std::size_t queue = 100000;
    int batchMs = 0;
    bool answers = false;
    double heartbeatS = 10;
    bool readOnly = false;

    std::string jsonLog; // "" : standard output
};

struct BridgeParse {
    BridgeOptions options;
    std::string error; // not empty: wrong usage, with this reason
};

BridgeParse ParseBridgeCommandLine(const std::vector<std::string>& args);

// The password: the first line of the password file when one is given, else the value of
// READERDESK_MQTT_PASSWORD (envValue, null when unset), else none. False with the reason when
// the file cannot be read.
bool ResolvePassword(const BridgeOptions& o, const char* envValue, std::string& password, std::string& why);

// The machine's host name ("localhost" when it has none).
std::string HostName();

extern const char* const kBridgeUsage;

} // namespace rd::bridge

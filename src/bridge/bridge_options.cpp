#include "bridge/bridge_options.h"

#include "link/tcp_port.h"
#include "mqtt/mqtt_client.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>

#include <unistd.h>

namespace rd::bridge {

const char* const kBridgeUsage =
    "Usage: readerdesk-bridge [options]\n"
    "Serves readers at once and publishes what they read to an MQTT broker; takes commands\n"
    "for them from it. Runs until SIGINT, SIGTERM or SIGHUP: then every inventory is stopped\n"
    "(EPC_STOP, at most 3 s), every reader published \"offline\" and the broker left cleanly.\n"
    "\n"
    "Readers:\n"
    "  --port NAME           COMn or tcp://HOST:PORT (repeatable: one connection each)\n"
    "  --scan                also every reader found on COM1 to COM20 (and the tcp:// ports\n"
    "                        given)\n"
    "  --port-dir DIR        COMn is the entry DIR/COMn (as READERDESK_PORT_DIR)\n"
    "  --addr N              net address of the commands, 0 to 255 (default 1)\n"
    "  --traffic-log FILE    append every request, answer and message to FILE\n"
    "  --inventory           run an inventory on every 900 MHz reader, also after a reconnect\n"
    "  --q Q --c C --n N     its start parameters (default 20 5 15)\n"
    "\n"
    "Broker:\n"
    "  --broker URL          mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (TLS, 8883);\n"
    "                        default mqtt://localhost\n"
    "  --cafile FILE         the CA certificate that signs the broker's (TLS)\n"
    "  --username NAME       the user name; the password comes from --password-file FILE\n"
    "                        (its first line) or the environment variable\n"
    "                        READERDESK_MQTT_PASSWORD, never from the command line\n"
    "  --client-id ID        MQTT client id stem (default readerdesk-bridge-<hostname>);\n"
    "                        each reader connects as ID-<reader>\n"
    "  --topic-prefix P      topics are P/<reader>/... (default readerdesk/<hostname>)\n"
    "  --queue N             messages kept while the broker is away (default 100000),\n"
    "                        shared out evenly among the readers; then the oldest are\n"
    "                        dropped and counted\n"
    "  --batch-ms MS         tags published as JSON arrays, one every MS per reader\n"
    "  --answers             publish every answer text on P/<reader>/answers\n"
    "  --heartbeat S         statistics on P/<reader>/stats every S seconds (default 10)\n"
    "  --read-only           refuse every command from the broker\n"
    "\n"
    "  --json-log FILE       one JSON object per event and line to FILE (default: standard\n"
    "                        output)\n"
    "  --help                this text\n"
    "\n"
    "Topics under P/<reader>, the reader named by its port (COM3, tcp-10.0.0.7-2000): state\n"
    "(retained: online, lost or offline; the broker's Last Will sets \"offline\"), tags, answers,\n"
    "stats, cmd (taken: {\"id\":\"7\",\"send\":\"VERSION\"}, {\"id\":\"8\",\"inventory\":\"start\"},\n"
    "{\"id\":\"9\",\"inventory\":\"stop\"}) and reply.\n"
    "\n"
    "Exit codes: 0 stopped by a signal; 1 no reader, or the bridge could not start (a CA or\n"
    "password file that cannot be read, the json log); 2 wrong usage; 3 the broker refused\n"
    "the connection (a wrong user name or password, not authorised).\n";

namespace {

const std::set<std::string> kValueOptions = {
    "--port",   "--port-dir", "--addr",          "--traffic-log", "--broker",
    "--cafile", "--username", "--password-file", "--client-id",   "--topic-prefix",
    "--queue",  "--batch-ms", "--heartbeat",     "--json-log",    "--q",
    "--c",      "--n",
};

bool ToInt(const std::string& text, long long& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end && !text.empty();
}

} // namespace

BridgeParse ParseBridgeCommandLine(const std::vector<std::string>& args) {
    BridgeParse r;
    BridgeOptions& o = r.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        auto take = [&]() {
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
        auto number = [&](long long lo, long long hi, long long& out) {
            return ToInt(value, out) && out >= lo && out <= hi;
        };
        long long n = 0;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--scan") {
            o.scan = true;
        } else if (a == "--inventory") {
            o.inventory = true;
        } else if (a == "--answers") {
            o.answers = true;
        } else if (a == "--read-only") {
            o.readOnly = true;
        } else if (a == "--password") {
            // Its value is not repeated: it may be the password.
            r.error = "--password is not taken: the command line is visible to every user; give "
                      "--password-file FILE or READERDESK_MQTT_PASSWORD";
            return r;
        } else if (kValueOptions.count(a) == 0) {
            r.error = (a.rfind("--", 0) == 0 ? "unknown option " : "unexpected word ") + a;
            return r;
        } else if (!take()) {
            return r;
        } else if (a == "--port") {
            std::string host;
            uint16_t tcpPort = 0;
            if (value.empty() || (IsTcpPortName(value) && !ParseTcpPortName(value, host, tcpPort)))
                return bad();
            for (const std::string& p : o.ports)
                if (p == value) {
                    r.error = "the port " + value + " is given twice";
                    return r;
                }
            o.ports.push_back(value);
        } else if (a == "--port-dir") {
            o.portDir = value;
            o.portDirGiven = true;
        } else if (a == "--addr") {
            if (!number(0, 255, n))
                return bad();
            o.addr = int(n);
        } else if (a == "--traffic-log") {
            o.trafficLog = value;
        } else if (a == "--broker") {
            std::string why;
            if (!mqtt::ParseBrokerUrl(value, &why)) {
                r.error = "--broker: " + why;
                return r;
            }
            o.broker = value;
        } else if (a == "--cafile") {
            o.cafile = value;
        } else if (a == "--username") {
            o.username = value;
        } else if (a == "--password-file") {
            o.passwordFile = value;
        } else if (a == "--client-id") {
            o.clientId = value;
        } else if (a == "--topic-prefix") {
            while (!value.empty() && value.back() == '/')
                value.pop_back();
            if (value.empty() || value.find_first_of("+#") != std::string::npos)
                return bad();
            o.topicPrefix = value;
        } else if (a == "--queue") {
            if (!number(1, 100000000, n))
                return bad();
            o.queue = std::size_t(n);
        } else if (a == "--batch-ms") {
            if (!number(0, 60000, n))
                return bad();
            o.batchMs = int(n);
        } else if (a == "--heartbeat") {
            double s = 0;
            const char* end = value.data() + value.size();
            auto [p, ec] = std::from_chars(value.data(), end, s, std::chars_format::fixed);
            if (ec != std::errc() || p != end || value.empty() || !std::isfinite(s) || s <= 0)
                return bad();
            o.heartbeatS = s;
        } else if (a == "--json-log") {
            o.jsonLog = value;
        } else if (a == "--q" || a == "--c" || a == "--n") {
            (a == "--q" ? o.q : a == "--c" ? o.c : o.n) = value;
        }
    }
    if (o.help)
        return r;
    if (o.ports.empty() && !o.scan) {
        r.error = "no reader: give --port NAME or --scan";
        return r;
    }
    if (!o.passwordFile.empty() && o.username.empty()) {
        r.error = "--password-file needs --username";
        return r;
    }
    return r;
}

bool ResolvePassword(const BridgeOptions& o, const char* envValue, std::string& password, std::string& why) {
    password.clear();
    if (!o.passwordFile.empty()) {
        std::ifstream in(o.passwordFile);
        if (!in) {
            why = "cannot read the password file " + o.passwordFile + ": " + std::strerror(errno);
            return false;
        }
        std::getline(in, password);
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
        return true;
    }
    if (envValue && !o.username.empty())
        password = envValue;
    return true;
}

std::string HostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0')
        return "localhost";
    return buf;
}

} // namespace rd::bridge

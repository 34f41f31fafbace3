// readerdesk-linkcheck: the link layer alone against a reader on a serial port, without Qt, so
// that it builds for every platform the link does (scripts/test-windows runs it under Wine
// against the simulator). The steps of the command line, on the link's own objects: the port
// list, the discovery's probes, a command with its answers through the receiver thread, and
// an inventory of N cycles stopped with EPC_STOP. Plain lines out; exit 0 when the step did
// what it should, 1 when not, 2 on wrong usage.
//
//   readerdesk-linkcheck ports
//   readerdesk-linkcheck line COMn
//   readerdesk-linkcheck scan
//   readerdesk-linkcheck send TEXT
//   readerdesk-linkcheck inventory --cycles N
//
// --port NAME before the step probes that one port (a COM name or tcp://HOST:PORT) instead of
// the listed ones.
#include "link/com_a.h"
#include "link/discovery.h"
#include "link/frames.h"
#include "link/my_com.h"
#include "link/serial_port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char* const kUsage =
    "usage: readerdesk-linkcheck [--port NAME] ports | line COMn | scan | send TEXT | inventory --cycles N\n";

// The ports to probe: the one given with --port, or the listed ones.
std::string g_port;

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Control bytes shown as \xNN, so that every answer is one line.
std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// Opens and sets up a port as the window does, then says what the line really is and how long a
// probe read takes on it while nothing comes (the reader only speaks when asked): 500 bytes
// under the probe's time-outs end after 1 ms a byte + 1 ms.
int Line(const std::string& port) {
    rd::Tmy_COM com;
    if (const rd::PortError why = com.create_port(port, rd::kPortSettings); !why.ok()) {
        std::cout << "cannot open " << port << ": " << why.text << "\n";
        return 1;
    }
    // As set up, then with other settings, read back from the port each time.
    bool read = true;
    for (const char* other : {"", "baud=9600 stop=1"}) {
        rd::LineSettings s{};
        if (*other && (!rd::GetCommState(com.hPORT, s) || !rd::BuildCommDCB(other, s) ||
                       !rd::SetCommState(com.hPORT, s)))
            std::cout << "cannot set " << other << "\n";
        s = {};
        read = rd::GetCommState(com.hPORT, s) && read;
        const char* stop = s.Stop == rd::StopBits::Two            ? "2"
                           : s.Stop == rd::StopBits::OnePointFive ? "1.5"
                                                                  : "1";
        std::cout << "line " << port << " baud=" << s.BaudRate << " parity=" << s.Parity
                  << " data=" << int(s.ByteSize) << " stop=" << stop << "\n";
    }
    rd::CommTimeouts probe{};
    probe.ReadIntervalTimeout = 100;
    probe.ReadTotalTimeoutMultiplier = 1;
    probe.ReadTotalTimeoutConstant = 1;
    rd::SetCommTimeouts(com.hPORT, probe);
    uint8_t buf[500];
    uint32_t got = 0;
    const auto start = Clock::now();
    rd::ReadFile(com.hPORT, buf, sizeof buf, &got);
    const auto ms = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    std::cout << "silent read " << got << " bytes in " << ms << " ms\n";
    rd::ClosePort(com.hPORT);
    return read ? 0 : 1;
}

int Ports() {
    for (const auto& [name, path] : rd::ListPorts(rd::kLastPort))
        std::cout << "port " << name << " " << path << "\n";
    return 0;
}

// Probes every listed port until one answers with a known identifier; the port stays open in
// com.hPORT. Prints one line per port.
const rd::ReaderRow* Discover(rd::Tmy_COM& com, std::string& portName) {
    std::vector<std::pair<std::string, std::string>> ports = rd::ListPorts(rd::kLastPort);
    if (!g_port.empty())
        ports = {{g_port, g_port}};
    for (const auto& [name, path] : ports) {
        const rd::PortProbeResult r = rd::ProbePort(com, name);
        if (r.found) {
            std::cout << "found " << name << " " << r.found->identifier << "\n";
            portName = name;
            return r.found;
        }
        const std::string verdict = r.verdict.line(name);
        std::cout << "none " << name << " " << Printable(verdict) << "\n";
    }
    return nullptr;
}

int Scan() {
    rd::Tmy_COM com;
    std::string port;
    const bool found = Discover(com, port) != nullptr;
    if (found)
        rd::ClosePort(com.hPORT);
    return found ? 0 : 1;
}

// A connected reader with its receiver thread, taking answers as the window's timer does:
// copy, clear ready, then set free.
struct Connection {
    rd::Tmy_COM com;
    std::unique_ptr<rd::TCOM_A> thread;

    bool open() {
        std::string port;
        if (!Discover(com, port))
            return false;
        thread = std::make_unique<rd::TCOM_A>(com.hPORT, port, 3);
        return true;
    }
    ~Connection() {
        thread.reset();
        if (com.hPORT != 0)
            rd::ClosePort(com.hPORT);
    }
    void send(const std::string& text) { com.SendStrToPort(thread->handle(), rd::kProbeAddress, Wide(text)); }

    // Hands each answer to take until take returns false or the time is up; false at the time.
    bool pump(Clock::time_point until, const std::function<bool(const std::string&)>& take) {
        for (;;) {
            const auto now = Clock::now();
            if (now >= until)
                return false;
            const auto left = std::chrono::duration_cast<milliseconds>(until - now).count();
            const std::optional<std::string> answer =
                thread->take(static_cast<uint32_t>(std::min<long long>(left, 10)));
            if (!answer)
                continue;
            thread->release();
            if (!take(*answer))
                return true;
        }
    }
};

int Send(const std::string& text) {
    Connection c;
    if (!c.open())
        return 1;
    c.send(text);
    int answers = 0;
    c.pump(Clock::now() + milliseconds(1000), [&](const std::string& a) {
        ++answers;
        std::cout << "answer " << Printable(a) << "\n";
        return true;
    });
    return answers > 0 ? 0 : 1;
}

int Inventory(int cycles) {
    Connection c;
    if (!c.open())
        return 1;
    int started = 0;
    int reads = 0;
    const auto start = Clock::now();
    c.send("KELM_EPC_INVENTORY_TIME 4 0 0");
    c.pump(start + milliseconds(10000), [&](const std::string& a) {
        const std::string word = rd::GetAnswerWord(2, a);
        if (word == "START_INVENTORY")
            ++started;
        else if (word == "INV")
            ++reads;
        return started < cycles;
    });
    // The stop: "EPC_STOP" every 100 ms until "STOP_INVENTORY", for at most 3 s.
    bool confirmed = false;
    const auto giveUp = Clock::now() + milliseconds(3000);
    while (!confirmed && Clock::now() < giveUp) {
        c.send("EPC_STOP");
        c.pump(Clock::now() + milliseconds(100), [&](const std::string& a) {
            const std::string word = rd::GetAnswerWord(2, a);
            if (word == "INV")
                ++reads;
            confirmed = word == "STOP_INVENTORY";
            return !confirmed;
        });
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::cout << "cycles " << started << " reads " << reads << " stop "
              << (confirmed ? "confirmed" : "not confirmed") << " seconds " << seconds << "\n";
    return started >= cycles && reads > 0 && confirmed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--port") == 0) {
        g_port = argv[2];
        argv += 2;
        argc -= 2;
    }
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "ports" && argc == 2)
        return Ports();
    if (command == "line" && argc == 3)
        return Line(argv[2]);
    if (command == "scan" && argc == 2)
        return Scan();
    if (command == "send" && argc == 3)
        return Send(argv[2]);
    if (command == "inventory" && argc == 4 && std::strcmp(argv[2], "--cycles") == 0) {
        const int cycles = std::atoi(argv[3]);
        if (cycles > 0)
            return Inventory(cycles);
    }
    std::cerr << kUsage;
    return 2;
}

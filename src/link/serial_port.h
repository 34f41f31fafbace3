// The serial platform layer: what the port object and the receiver thread need of a
// serial port, as a handle-based interface in the manner of the original platform's
// communications functions, with a POSIX backend (termios + poll, serial_port_posix.cpp) and
// a Windows one on those very functions (serial_port_win32.cpp); the build takes the one of
// its platform.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace rd {

using PortHandle = uint32_t;
constexpr PortHandle INVALID_PORT_HANDLE = 0xFFFFFFFFu;

// Milliseconds; 0 means "not used". Read total = multiplier * bytes requested + constant.
struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

enum class StopBits : uint8_t { One, OnePointFive, Two };

// The line settings record (the original platform's device control block).
struct LineSettings {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8;
    char Parity = 'N'; // N, E, O, M, S
    StopBits Stop = StopBits::One;
};

enum PurgeFlags : uint32_t {
    PURGE_TXABORT = 0x1,
    PURGE_RXABORT = 0x2,
    PURGE_TXCLEAR = 0x4,
    PURGE_RXCLEAR = 0x8,
};

// Apply a settings text such as "COM3: baud=115200 parity=N data=8 stop=2" on top of s.
// Only what the text names changes. A malformed text changes nothing and returns false.
// The leading "name:" is optional; keys and letters are not case-sensitive; the keys are
// baud (a positive number), parity (N, E, O, M, S), data (5 to 8) and stop (1, 1.5, 2).
bool BuildCommDCB(const std::string& text, LineSettings& s);

// --- Port operations. The open and the transfers give their outcome as a value; the
// settings calls return false (the open INVALID_PORT_HANDLE) on failure. ---

class WakeSignal;

// Why a port operation failed: the system's error number and a short text for people. A
// value that says nothing (err 0) is a success. Each call hands its own back, so a cause is
// never mixed up with another thread's call.
struct PortError {
    int err = 0;        // errno value; 0: no failure
    std::string text;   // "no such port", "permission denied", "held by another program", ...
    std::string device; // the device the port stands for, when known
    bool ok() const { return err == 0; }
    int pid = 0; // the process holding the port, when its lock file names one
};

// The short text for people that goes with an errno value of a port operation: "permission
// denied", "held by another program", "no such port", "not a serial device", "input/output
// error", "the device is gone", "timed out", "the port is not open", else the system's text.
std::string DescribePortError(int err);
// The text of a hang-up: the device closed the line, as an unplugged adapter does.
inline constexpr const char* kHungUpText = "the device hung up (unplugged?)";
// The failure err (not 0) with its text (or the text given), so that a backend gives up with
// `return PortFailed(errno, device);`.
PortError PortFailed(int err, const std::string& device = "", const std::string& text = "");

// Open "COMn" exclusively: a second open of the same port, from this process or
// another one, fails. On POSIX so does a port whose lock file names another live process
// (EBUSY, with that process in the cause's pid); while open, the port has this process's.
// On failure INVALID_PORT_HANDLE, with why telling the cause (an opener that gives none
// stands for a port that is not there: ENOENT, "no such port"); on success why is cleared.
PortHandle OpenPort(const std::string& comName, PortError& why);
bool ClosePort(PortHandle h);
bool SetCommTimeouts(PortHandle h, const CommTimeouts& t);
bool SetupComm(PortHandle h, uint32_t inQueue, uint32_t outQueue);
bool GetCommState(PortHandle h, LineSettings& s);
bool SetCommState(PortHandle h, const LineSettings& s);
bool PurgeComm(PortHandle h, uint32_t flags);
// Whether input is waiting, or comes within timeoutMs. A backend that cannot tell says yes.
bool WaitForInput(PortHandle h, uint32_t timeoutMs);
// Read up to n bytes under the port's time-outs; *got receives the count (possibly 0).
// A hung-up or vanished port fails. A handle that is not open fails with EBADF.
PortError ReadFile(PortHandle h, void* buf, uint32_t n, uint32_t* got);
// As ReadFile, but the wait also ends when wake (nullptr for none) is signalled: the signal is
// taken and the read returns what it has so far, successfully. The receiver thread uses it
// to notice a released answer without sitting out the read.
PortError ReadFileUntilWoken(PortHandle h, void* buf, uint32_t n, uint32_t* got, const WakeSignal* wake);
// The port's InputOverruns as its backend counts them (0 for a handle that is not open).
uint64_t InputOverruns(PortHandle h);
// Writes under the write time-outs; a write that times out part-way fails, with *written
// telling how much went out.
PortError WriteFile(PortHandle h, const void* buf, uint32_t n, uint32_t* written);

// --- Port names. ---

// With a port directory, "COMn" is the entry DIR/COMn (a link to a device or a
// pseudo-terminal, or a device node); no entry means no such port. Without one
// (empty text), COM1, COM2, ... are the machine's serial devices in a fixed order.
// Until SetPortDirectory is called, the directory is taken from the environment variable
// READERDESK_PORT_DIR (unset or empty: none). Once set, that choice holds, "" included.
void SetPortDirectory(const std::string& dir);
// Forget the choice made with SetPortDirectory: the environment variable applies again.
void ResetPortDirectory();
std::string PortDirectory();
#ifndef _WIN32
// The folder of the serial lock files the programs sharing the machine's ports keep
// (uucp_lock.h): a port whose lock file names another live process does not open, and an
// open port has this process's lock file there. Until SetLockDirectory is called it is taken
// from the environment variable READERDESK_LOCK_DIR; unset or empty: /var/lock.
void SetLockDirectory(const std::string& dir);
// Forget the choice made with SetLockDirectory: the environment variable applies again.
void ResetLockDirectory();
std::string LockDirectory();
#endif
// The number n of a name "COMn" (n from 1; "com" in any case), or 0 when it is no such name.
int ComPortNumber(const std::string& comName);
// On Windows the names are the system's: "COMn" is the device "\\.\COMn" for every n and the
// port directory is not consulted.
// The device path that "COMn" stands for, or "" when there is none. A "tcp://HOST:PORT"
// name (see tcp_port.h) stands for itself.
std::string ResolvePortName(const std::string& comName);
// Every COM name from COM1 to COM<maxNumber> that stands for a device, with its path.
std::vector<std::pair<std::string, std::string>> ListPorts(int maxNumber = 20);
// The machine's serial devices in COM order: /dev/ttyUSB* then /dev/ttyACM* (each by number),
// then the on-board UARTs the kernel reports as present. The type of a ttyS port is read from
// sysClassDir/ttySn/type; only where that is missing is the node itself asked (TIOCGSERIAL).
// On Windows: "\\.\COMn" for each COM name the system knows, and the arguments are unused.
std::vector<std::string> MachineSerialDevices(const std::string& devDir = "/dev",
                                              const std::string& sysClassDir = "/sys/class/tty");

// --- Backends. ---

// One open port. The POSIX backend implements it on a tty; tests may install a backend
// that injects faults a real pseudo-terminal cannot produce. A read or write returns its
// outcome, best made with PortFailed when it fails (a failure without a text is given the
// text of its number).
class PortBackend {
  public:
    virtual ~PortBackend() = default;
    virtual bool setTimeouts(const CommTimeouts& t) = 0;
    virtual bool setupComm(uint32_t inQueue, uint32_t outQueue) = 0;
    virtual bool getState(LineSettings& s) = 0;
    virtual bool setState(const LineSettings& s) = 0;
    virtual bool purge(uint32_t flags) = 0;
    virtual PortError read(void* buf, uint32_t n, uint32_t* got) = 0;
    // A read whose wait also ends when wake (never nullptr here) is signalled; a backend that
    // cannot wait on it reads as usual.
    virtual PortError readUntilWoken(void* buf, uint32_t n, uint32_t* got, const WakeSignal& /*wake*/) {
        return read(buf, n, got);
    }
    virtual PortError write(const void* buf, uint32_t n, uint32_t* written) = 0;
    // Whether input is waiting or comes within timeoutMs; a backend that cannot tell says yes,
    // and the read that follows decides.
    virtual bool waitForInput(uint32_t /*timeoutMs*/) { return true; }
    // Bytes the device or its driver lost before they could be read (receive overruns, a full
    // driver buffer), counted from the open, where the platform counts them; 0 elsewhere.
    // Asked by the reading thread only.
    virtual uint64_t inputOverruns() { return 0; }
};

// Opens a port by COM name; returns nullptr when it cannot be opened, with the cause in why
// (an opener that gives none stands for a port that is not there).
using PortOpener = std::function<std::unique_ptr<PortBackend>(const std::string& comName, PortError& why)>;

// The platform's opener (the default): OpenPosixPort, or OpenWin32Port on Windows. On either,
// a "tcp://HOST:PORT" name opens a TCP connection instead (OpenTcpPort in tcp_port.h).
std::unique_ptr<PortBackend> OpenPlatformPort(const std::string& comName, PortError& why);
#ifdef _WIN32
// Opens "\\.\COMn" with CreateFileW: read and write, no sharing, synchronous.
std::unique_ptr<PortBackend> OpenWin32Port(const std::string& comName, PortError& why);
#else
std::unique_ptr<PortBackend> OpenPosixPort(const std::string& comName, PortError& why);
#endif
// Replace the opener (tests); an empty function restores the platform's own.
void SetPortOpener(PortOpener opener);

} // namespace rd

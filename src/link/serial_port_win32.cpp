// The Windows backend of the serial platform layer: a port is the system's communications
// device "\\.\COMn", opened with CreateFileW for exclusive, synchronous use, with the line
// settings, queue sizes, time-outs and purges handed to the communications functions as they
// are. The time-outs reach SetCommTimeouts unchanged, so every read and write is timed by the
// system, as in the original program.
//
// Waking a read early: a synchronous read cannot be interrupted here (CancelSynchronousIo is
// not there under Wine, and overlapped reads there ignore the read time-outs), so a read of
// the receiver thread ends by its own time-out: at the first byte, or after 101 ms of
// silence. A release that comes while a read waits is noticed when that read ends, within
// about 101 ms, as in the original; the read after it is not begun (the wake-up is seen
// first), so an answer the user-interface side takes at once lets the next one through without
// a read in between. A stop request ends the rest after a failed read at once (platform.h).
//
// A synchronous handle serialises its reads and writes on Windows: a write waits for a read
// under way to end, at most the 101 ms of the receiver's read. The original program had the
// same.
#include "link/platform.h"
#include "link/serial_port.h"
#include "link/tcp_port.h"
#include "link/win32_system.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

namespace rd {

namespace {

using Clock = std::chrono::steady_clock;

// The COM numbers Windows knows.
constexpr int kLastComNumber = 255;

std::string devicePath(int n) {
    return "\\\\.\\COM" + std::to_string(n);
}

std::wstring widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string describe(int err) {
    switch (err) {
    case EBUSY:
        return "held by another program";
    case ENOENT:
        return "no such port";
    case ENOTTY:
        return "not a serial device";
    case ENODEV:
        return "the device is gone";
    case ETIMEDOUT:
        return "timed out";
    default:
        return "input/output error";
    }
}

PortError failed(int err, const std::string& device) {
    return PortError{err, describe(err), device};
}

char parityLetter(BYTE parity) {
    switch (parity) {
    case ODDPARITY:
        return 'O';
    case EVENPARITY:
        return 'E';
    case MARKPARITY:
        return 'M';
    case SPACEPARITY:
        return 'S';
    default:
        return 'N';
    }
}

bool parityCode(char letter, BYTE& code) {
    switch (letter) {
    case 'N':
        code = NOPARITY;
        return true;
    case 'O':
        code = ODDPARITY;
        return true;
    case 'E':
        code = EVENPARITY;
        return true;
    case 'M':
        code = MARKPARITY;
        return true;
    case 'S':
        code = SPACEPARITY;
        return true;
    default:
        return false;
    }
}

class Win32Port final : public PortBackend {
  public:
    Win32Port(HANDLE h, std::string device) : h_(h), device_(std::move(device)) {}
    ~Win32Port() override { ::CloseHandle(h_); }

    bool setTimeouts(const CommTimeouts& t) override {
        COMMTIMEOUTS c{};
        c.ReadIntervalTimeout = t.ReadIntervalTimeout;
        c.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
        c.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
        c.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
        c.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
        return ::SetCommTimeouts(h_, &c) != FALSE;
    }

    bool setupComm(uint32_t inQueue, uint32_t outQueue) override {
        return ::SetupComm(h_, inQueue, outQueue) != FALSE;
    }

    bool getState(LineSettings& s) override {
        DCB d{};
        d.DCBlength = sizeof d;
        if (!::GetCommState(h_, &d))
            return false;
        s.BaudRate = d.BaudRate;
        s.ByteSize = d.ByteSize;
        s.Parity = parityLetter(d.Parity);
        s.Stop = d.StopBits == TWOSTOPBITS    ? StopBits::Two
                 : d.StopBits == ONE5STOPBITS ? StopBits::OnePointFive
                                              : StopBits::One;
        return true;
    }

    bool setState(const LineSettings& s) override {
        BYTE parity = NOPARITY;
        if (s.BaudRate == 0 || s.ByteSize < 5 || s.ByteSize > 8 || !parityCode(s.Parity, parity))
            return false;
        // One and a half stop bits exist only with five data bits, two only with more.
        if ((s.Stop == StopBits::OnePointFive) != (s.ByteSize == 5 && s.Stop != StopBits::One))
            return false;
        DCB d{};
        d.DCBlength = sizeof d;
        if (!::GetCommState(h_, &d))
            return false;
        d.BaudRate = s.BaudRate;
        d.ByteSize = s.ByteSize;
        d.Parity = parity;
        d.StopBits = s.Stop == StopBits::Two            ? TWOSTOPBITS
                     : s.Stop == StopBits::OnePointFive ? ONE5STOPBITS
                                                        : ONESTOPBIT;
        // Raw bytes without flow control, as a settings text without the flow keys gives them;
        // a line error does not stop later reads.
        d.fBinary = TRUE;
        d.fParity = parity != NOPARITY;
        d.fOutxCtsFlow = FALSE;
        d.fOutxDsrFlow = FALSE;
        d.fDtrControl = DTR_CONTROL_ENABLE;
        d.fDsrSensitivity = FALSE;
        d.fOutX = FALSE;
        d.fInX = FALSE;
        d.fErrorChar = FALSE;
        d.fNull = FALSE;
        d.fRtsControl = RTS_CONTROL_ENABLE;
        d.fAbortOnError = FALSE;
        if (!::SetCommState(h_, &d))
            return false;
        // Read back what the line really does.
        DCB back{};
        back.DCBlength = sizeof back;
        if (!::GetCommState(h_, &back))
            return false;
        return back.BaudRate == d.BaudRate && back.ByteSize == d.ByteSize && back.Parity == d.Parity &&
               back.StopBits == d.StopBits;
    }

    bool purge(uint32_t flags) override {
        constexpr uint32_t all = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
        if (flags & ~all)
            return false;
        return ::PurgeComm(h_, flags) != FALSE;
    }

    PortError read(void* buf, uint32_t n, uint32_t* got) override {
        DWORD count = 0;
        const BOOL ok = n == 0 || ::ReadFile(h_, buf, n, &count, nullptr);
        if (got)
            *got = count;
        return ok ? PortError{} : failedNow();
    }

    PortError readUntilWoken(void* buf, uint32_t n, uint32_t* got, const WakeSignal& wake) override {
        // A read under way cannot be cut short here (see the head of this file), but one that
        // is woken before it begins returns at once, as a woken wait does on POSIX.
        if (wake.wait(0)) {
            if (got)
                *got = 0;
            return {};
        }
        return read(buf, n, got);
    }

    PortError write(const void* buf, uint32_t n, uint32_t* written) override {
        DWORD count = 0;
        const BOOL ok = n == 0 || ::WriteFile(h_, buf, n, &count, nullptr);
        if (written)
            *written = count;
        if (!ok)
            return failedNow();
        // A write that timed out part-way succeeds with fewer bytes: that is a failure here.
        return count == n ? PortError{} : failed(ETIMEDOUT, device_);
    }

    bool waitForInput(uint32_t timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            DWORD errors = 0;
            COMSTAT st{};
            const BOOL ok = ::ClearCommError(h_, &errors, &st);
            noteOverruns(ok, errors);
            if (!ok || st.cbInQue > 0)
                return true; // cannot tell, or input waits: the read that follows decides
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            ::Sleep(static_cast<DWORD>(std::min<long long>(left, 5)));
        }
    }

    // The driver says that input was lost (CE_OVERRUN: the UART's, CE_RXOVER: its buffer's), not
    // how much: each time counts as one.
    uint64_t inputOverruns() override {
        DWORD errors = 0;
        COMSTAT st{};
        noteOverruns(::ClearCommError(h_, &errors, &st), errors);
        return overruns_.load();
    }

  private:
    PortError failedNow() const { return failed(ErrnoFor(::GetLastError()), device_); }
    // ClearCommError also clears what it reports: every caller of it counts the overruns.
    void noteOverruns(BOOL ok, DWORD errors) {
        if (ok && (errors & (CE_OVERRUN | CE_RXOVER)) != 0)
            overruns_.fetch_add(1);
    }

    const HANDLE h_;
    const std::string device_;
    std::atomic<uint64_t> overruns_{0};
};

// Whether Windows knows COMn as a device.
bool comExists(int n) {
    wchar_t target[512];
    const std::wstring name = widen("COM" + std::to_string(n));
    return ::QueryDosDeviceW(name.c_str(), target, sizeof target / sizeof target[0]) != 0 ||
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Port names: Windows has them. "COMn" is the device "\\.\COMn" for every n; there is no port
// directory (PortDirectory is kept but not consulted). A "tcp://" name stands for itself.

std::string ResolvePortName(const std::string& comName) {
    if (IsTcpPortName(comName))
        return comName;
    const int n = ComPortNumber(comName);
    return n == 0 ? std::string() : devicePath(n);
}

std::vector<std::pair<std::string, std::string>> ListPorts(int maxNumber) {
    std::vector<std::pair<std::string, std::string>> out;
    for (int n = 1; n <= std::min(maxNumber, kLastComNumber); ++n)
        if (comExists(n))
            out.emplace_back("COM" + std::to_string(n), devicePath(n));
    return out;
}

std::vector<std::string> MachineSerialDevices(const std::string&, const std::string&) {
    std::vector<std::string> out;
    for (const auto& port : ListPorts(kLastComNumber))
        out.push_back(port.second);
    return out;
}

// ---------------------------------------------------------------------------------------
// Opening

std::unique_ptr<PortBackend> OpenWin32Port(const std::string& comName, PortError& why) {
    if (IsTcpPortName(comName))
        return OpenTcpPort(comName, why);
    const int n = ComPortNumber(comName);
    if (n == 0) {
        why = failed(ENOENT, "");
        return nullptr;
    }
    const std::string path = devicePath(n);
    // No sharing: a port someone holds is refused, and never reconfigured.
    const HANDLE h = ::CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = failed(ErrnoFor(::GetLastError()), path);
        return nullptr;
    }
    DCB d{};
    d.DCBlength = sizeof d;
    if (!::GetCommState(h, &d)) {
        ::CloseHandle(h);
        why = failed(ENOTTY, path);
        return nullptr;
    }
    return std::make_unique<Win32Port>(h, path);
}

std::unique_ptr<PortBackend> OpenPlatformPort(const std::string& comName, PortError& why) {
    return OpenWin32Port(comName, why);
}

} // namespace rd

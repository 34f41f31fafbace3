#include "serial_port.h"

#include "read_plan.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace rd {

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A decimal number made of digits only, within [lo, hi].
bool parseNumber(const std::string& text, uint64_t lo, uint64_t hi, uint64_t& out) {
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Settings text

bool BuildCommDCB(const std::string& text, LineSettings& s) {
    std::string rest = text;
    const auto colon = rest.find(':');
    const auto equals = rest.find('=');
    if (colon != std::string::npos && (equals == std::string::npos || colon < equals)) {
        // A device name before the colon: one word, nothing else.
        const std::string name = rest.substr(0, colon);
        const auto first = name.find_first_not_of(" \t");
        if (first == std::string::npos)
            return false;
        const auto last = name.find_last_not_of(" \t");
        if (name.substr(first, last - first + 1).find_first_of(" \t") != std::string::npos)
            return false;
        rest = rest.substr(colon + 1);
    }

    LineSettings next = s;
    bool namedAny = false;
    std::size_t pos = 0;
    while (pos < rest.size()) {
        if (rest[pos] == ' ' || rest[pos] == '\t') {
            ++pos;
            continue;
        }
        std::size_t end = rest.find_first_of(" \t", pos);
        if (end == std::string::npos)
            end = rest.size();
        const std::string item = rest.substr(pos, end - pos);
        pos = end;

        const auto eq = item.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == item.size())
            return false;
        const std::string key = lower(item.substr(0, eq));
        const std::string value = lower(item.substr(eq + 1));
        uint64_t number = 0;
        if (key == "baud") {
            if (!parseNumber(value, 1, kMaxDword, number))
                return false;
            next.BaudRate = static_cast<uint32_t>(number);
        } else if (key == "parity") {
            if (value.size() != 1 || std::string("neoms").find(value[0]) == std::string::npos)
                return false;
            next.Parity = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
        } else if (key == "data") {
            if (!parseNumber(value, 5, 8, number))
                return false;
            next.ByteSize = static_cast<uint8_t>(number);
        } else if (key == "stop") {
            if (value == "1")
                next.Stop = StopBits::One;
            else if (value == "1.5")
                next.Stop = StopBits::OnePointFive;
            else if (value == "2")
                next.Stop = StopBits::Two;
            else
                return false;
        } else {
            return false;
        }
        namedAny = true;
    }
    if (!namedAny)
        return false;
    s = next;
    return true;
}

// ---------------------------------------------------------------------------------------
// Port names

namespace {

std::mutex dirMutex;
std::optional<std::string> dirSetting;

// The number at the end of a device name, or -1.
long trailingNumber(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    uint64_t v = 0;
    if (!parseNumber(name.substr(prefix.size()), 0, 1u << 20, v))
        return -1;
    return static_cast<long>(v);
}

bool isCharDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// Whether the kernel reports a UART behind an on-board ttyS port.
bool uartPresent(const std::string& devPath, const std::string& sysTypePath) {
    std::ifstream typeFile(sysTypePath);
    if (typeFile) {
        long type = -1;
        if (typeFile >> type)
            return type != PORT_UNKNOWN;
        return false;
    }
    const int fd = ::open(devPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct serial_struct info {};
    const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

} // namespace

void SetPortDirectory(const std::string& dir) {
    std::lock_guard lock(dirMutex);
    dirSetting = dir;
}

void ResetPortDirectory() {
    std::lock_guard lock(dirMutex);
    dirSetting.reset();
}

std::string PortDirectory() {
    std::lock_guard lock(dirMutex);
    if (dirSetting)
        return *dirSetting;
    const char* env = std::getenv("READERDESK_PORT_DIR");
    return env ? std::string(env) : std::string();
}

int ComPortNumber(const std::string& comName) {
    if (comName.size() < 4 || lower(comName.substr(0, 3)) != "com")
        return 0;
    uint64_t n = 0;
    if (!parseNumber(comName.substr(3), 1, 255, n) || comName[3] == '0')
        return 0;
    return static_cast<int>(n);
}

std::vector<std::string> MachineSerialDevices(const std::string& devDir, const std::string& sysClassDir) {
    std::vector<std::pair<long, std::string>> usb, acm, uart;
    if (DIR* d = ::opendir(devDir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            long n;
            if ((n = trailingNumber(name, "ttyUSB")) >= 0)
                usb.emplace_back(n, name);
            else if ((n = trailingNumber(name, "ttyACM")) >= 0)
                acm.emplace_back(n, name);
            else if ((n = trailingNumber(name, "ttyS")) >= 0)
                uart.emplace_back(n, name);
        }
        ::closedir(d);
    }
    std::vector<std::string> out;
    for (auto* family : {&usb, &acm, &uart}) {
        std::sort(family->begin(), family->end());
        for (const auto& [n, name] : *family) {
            const std::string path = devDir + "/" + name;
            if (!isCharDevice(path))
                continue;
            if (family == &uart && !uartPresent(path, sysClassDir + "/" + name + "/type"))
                continue;
            out.push_back(path);
        }
    }
    return out;
}

std::string ResolvePortName(const std::string& comName) {
    const int n = ComPortNumber(comName);
    if (n == 0)
        return "";
    const std::string dir = PortDirectory();
    if (!dir.empty()) {
        const std::string entry = dir + "/COM" + std::to_string(n);
        if (!isCharDevice(entry))
            return "";
        char* real = ::realpath(entry.c_str(), nullptr);
        if (!real)
            return "";
        std::string path = real;
        std::free(real);
        return path;
    }
    const auto devices = MachineSerialDevices();
    return static_cast<std::size_t>(n) <= devices.size() ? devices[n - 1] : "";
}

std::vector<std::pair<std::string, std::string>> ListPorts(int maxNumber) {
    std::vector<std::pair<std::string, std::string>> out;
    if (PortDirectory().empty()) {
        const auto devices = MachineSerialDevices();
        for (int n = 1; n <= maxNumber && static_cast<std::size_t>(n) <= devices.size(); ++n)
            out.emplace_back("COM" + std::to_string(n), devices[n - 1]);
        return out;
    }
    for (int n = 1; n <= maxNumber; ++n) {
        const std::string name = "COM" + std::to_string(n);
        std::string path = ResolvePortName(name);
        if (!path.empty())
            out.emplace_back(name, std::move(path));
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// The POSIX backend

namespace {

struct BaudEntry {
    uint32_t rate;
    speed_t code;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> speedCode(uint32_t rate) {
    for (const auto& e : kBauds)
        if (e.rate == rate)
            return e.code;
    return std::nullopt;
}

uint32_t speedRate(speed_t code) {
    for (const auto& e : kBauds)
        if (e.code == code)
            return e.rate;
    return 0;
}

timespec toTimespec(Clock::duration d) {
    if (d < Clock::duration::zero())
        d = Clock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// A total limit of multiplier x bytes + constant can exceed what the clock's nanoseconds hold
// (a multiplier near the maximum times a few thousand bytes): such a limit is as good as none,
// and is capped instead of wrapping into the past.
Clock::time_point deadlineAfter(Clock::time_point from, uint64_t ms) {
    return from + std::chrono::milliseconds(std::min(ms, kLongestWaitMs));
}

void drainWakeFd(int fd) {
    uint64_t buf[8];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}

class PosixPort final : public PortBackend {
public:
    PosixPort(int fd, std::string device) : fd_(fd), device_(std::move(device)) {}
    ~PosixPort() override {
        // The exclusive flag outlives this descriptor while anyone else keeps the tty open.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }

    bool setTimeouts(const CommTimeouts& t) override {
        std::lock_guard lock(m_);
        timeouts_ = t;
        return true;
    }

    bool setupComm(uint32_t inQueue, uint32_t outQueue) override {
        // The kernel's queues have fixed sizes; the request is only remembered.
        std::lock_guard lock(m_);
        inQueue_ = inQueue;
        outQueue_ = outQueue;
        return true;
    }

    bool getState(LineSettings& s) override {
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0)
            return false;
        s.BaudRate = speedRate(cfgetospeed(&tio));
        switch (tio.c_cflag & CSIZE) {
        case CS5:
            s.ByteSize = 5;
            break;
        case CS6:
            s.ByteSize = 6;
            break;
        case CS7:
            s.ByteSize = 7;
            break;
        default:
            s.ByteSize = 8;
            break;
        }
        if (!(tio.c_cflag & PARENB))
            s.Parity = 'N';
        else if (tio.c_cflag & CMSPAR)
            s.Parity = (tio.c_cflag & PARODD) ? 'M' : 'S';
        else
            s.Parity = (tio.c_cflag & PARODD) ? 'O' : 'E';
        if (!(tio.c_cflag & CSTOPB))
            s.Stop = StopBits::One;
        else
            s.Stop = s.ByteSize == 5 ? StopBits::OnePointFive : StopBits::Two;
        return true;
    }

    bool setState(const LineSettings& s) override {
        const auto speed = speedCode(s.BaudRate);
        if (!speed || s.ByteSize < 5 || s.ByteSize > 8)
            return false;
        // One and a half stop bits exist only with five data bits, two only with more.
        if ((s.Stop == StopBits::OnePointFive) != (s.ByteSize == 5 && s.Stop != StopBits::One))
            return false;
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0)
            return false;
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag |= s.ByteSize == 5 ? CS5 : s.ByteSize == 6 ? CS6 : s.ByteSize == 7 ? CS7 : CS8;
        switch (s.Parity) {
        case 'N':
            break;
        case 'E':
            tio.c_cflag |= PARENB;
            break;
        case 'O':
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 'M':
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 'S':
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return false;
        }
        if (s.Stop != StopBits::One)
            tio.c_cflag |= CSTOPB;
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0)
            return false;
        if (::tcsetattr(fd_, TCSANOW, &tio) != 0)
            return false;
        // tcsetattr succeeds when any part applied: read back what the line really does.
        termios back{};
        if (::tcgetattr(fd_, &back) != 0)
            return false;
        const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
        return (back.c_cflag & mask) == (tio.c_cflag & mask) && cfgetospeed(&back) == *speed &&
               cfgetispeed(&back) == *speed;
    }

    bool purge(uint32_t flags) override {
        constexpr uint32_t all = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
        if (flags & ~all)
            return false;
        // Writes and reads are synchronous here, so an abort discards what the kernel still
        // holds for that direction, like the matching clear.
        const bool tx = flags & (PURGE_TXABORT | PURGE_TXCLEAR);
        const bool rx = flags & (PURGE_RXABORT | PURGE_RXCLEAR);
        if (tx && rx)
            return ::tcflush(fd_, TCIOFLUSH) == 0;
        if (tx)
            return ::tcflush(fd_, TCOFLUSH) == 0;
        if (rx)
            return ::tcflush(fd_, TCIFLUSH) == 0;
        return true;
    }

    bool read(void* buf, uint32_t n, uint32_t* got) override { return readUntilWoken(buf, n, got, -1); }

    bool readUntilWoken(void* buf, uint32_t n, uint32_t* got, int wakeFd) override {
        uint32_t count = 0;
        const bool ok = readImpl(static_cast<uint8_t*>(buf), n, count, wakeFd);
        if (got)
            *got = count;
        return ok;
    }

    bool waitForInput(uint32_t timeoutMs) override {
        const auto deadline = deadlineAfter(Clock::now(), timeoutMs);
        for (;;) {
            const timespec ts = toTimespec(deadline - Clock::now());
            pollfd pfd{fd_, POLLIN, 0};
            const int r = ::ppoll(&pfd, 1, &ts, nullptr);
            if (r < 0 && errno == EINTR)
                continue;
            // A hung-up or broken port says yes: the read that follows finds out.
            return r != 0;
        }
    }

    bool write(const void* buf, uint32_t n, uint32_t* written) override {
        uint32_t count = 0;
        const bool ok = writeImpl(static_cast<const uint8_t*>(buf), n, count);
        if (written)
            *written = count;
        return ok;
    }

private:
    CommTimeouts timeouts() {
        std::lock_guard lock(m_);
        return timeouts_;
    }

    // Reads under the port's read time-outs (see PlanRead): waits in ppoll until the next
    // deadline, the wake descriptor or bytes, and takes what is there.
    bool readImpl(uint8_t* buf, uint32_t n, uint32_t& got, int wakeFd) {
        got = 0;
        if (n == 0)
            return true;
        const ReadPlan plan = PlanRead(timeouts(), n);
        ReadDeadline deadline(plan, Clock::now());

        for (;;) {
            timespec ts{}; // zero: look and return
            timespec* tsp = &ts;
            if (!plan.returnAtOnce) {
                const auto until = deadline.next();
                if (!until) {
                    tsp = nullptr;
                } else {
                    const auto now = Clock::now();
                    if (now >= *until)
                        return true;
                    ts = toTimespec(*until - now);
                }
            }
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            const int r = ::ppoll(fds, wakeFd >= 0 ? 2 : 1, tsp, nullptr);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return got > 0 || PortFailed(errno, device_);
            }
            const short re = fds[0].revents;
            if (re & POLLNVAL)
                return lineFailed(re, 0);
            if (re & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t k = ::read(fd_, buf + got, n - got);
                const int err = k < 0 ? errno : 0;
                if (k > 0) {
                    got += static_cast<uint32_t>(k);
                    if (got == n || plan.returnOnFirstByte)
                        return true;
                    deadline.bytesArrived(Clock::now());
                } else if ((re & (POLLHUP | POLLERR)) || (k < 0 && err != EAGAIN && err != EINTR)) {
                    // Hung up (a 0-byte read after POLLHUP) or broken: nothing more will come.
                    // Bytes already taken still count; the next read fails.
                    return got > 0 || lineFailed(re, err);
                }
            }
            if (wakeFd >= 0 && (fds[1].revents & POLLIN)) {
                drainWakeFd(wakeFd);
                return true;
            }
            if (plan.returnAtOnce || r == 0)
                return true;
        }
    }

    bool writeImpl(const uint8_t* buf, uint32_t n, uint32_t& written) {
        written = 0;
        const CommTimeouts t = timeouts();
        std::optional<Clock::time_point> deadline;
        if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
            const uint64_t ms = uint64_t{t.WriteTotalTimeoutMultiplier} * n + t.WriteTotalTimeoutConstant;
            deadline = deadlineAfter(Clock::now(), ms);
        }
        while (written < n) {
            const ssize_t k = ::write(fd_, buf + written, n - written);
            if (k > 0) {
                written += static_cast<uint32_t>(k);
                continue;
            }
            if (k < 0 && errno == EINTR)
                continue;
            if (k < 0 && errno != EAGAIN) {
                // A hung-up terminal refuses writes with EIO: say which it was.
                const int err = errno;
                pollfd pfd{fd_, 0, 0};
                const timespec now{};
                ::ppoll(&pfd, 1, &now, nullptr);
                return lineFailed(pfd.revents, err);
            }
            timespec ts{};
            timespec* tsp = nullptr;
            if (deadline) {
                const auto now = Clock::now();
                if (now >= *deadline)
                    return PortFailed(ETIMEDOUT, device_);
                ts = toTimespec(*deadline - now);
                tsp = &ts;
            }
            pollfd pfd{fd_, POLLOUT, 0};
            const int r = ::ppoll(&pfd, 1, tsp, nullptr);
            if (r < 0 && errno != EINTR)
                return PortFailed(errno, device_);
            if (r > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return lineFailed(pfd.revents, 0);
        }
        return true;
    }

    // Records why a line that failed (err from the call, 0 when none; revents from polling it)
    // gives nothing: a device that is gone, a hang-up, a descriptor no longer open, or the
    // call's own error. Returns false.
    bool lineFailed(short revents, int err) {
        if (err == ENXIO || err == ENODEV)
            return PortFailed(err, device_);
        if (revents & POLLNVAL)
            return PortFailed(EBADF, device_);
        if (revents & POLLHUP)
            return PortFailed(err != 0 ? err : EIO, device_, kHungUpText);
        return PortFailed(err != 0 ? err : EIO, device_);
    }

    const int fd_;
    const std::string device_;
    std::mutex m_;
    CommTimeouts timeouts_{};
    uint32_t inQueue_ = 0;
    uint32_t outQueue_ = 0;
};

} // namespace

namespace {

thread_local PortError lastPortError;

// Records why an open failed and gives up the descriptor, if one was opened.
std::unique_ptr<PortBackend> openFailed(int err, const std::string& device, int fd = -1) {
    if (fd >= 0)
        ::close(fd);
    PortFailed(err, device);
    return nullptr;
}

} // namespace

PortError LastPortError() {
    return lastPortError;
}

void SetLastPortError(PortError e) {
    lastPortError = std::move(e);
}

std::string DescribePortError(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return "permission denied";
    case EBUSY:
    case EWOULDBLOCK:
        return "held by another program";
    case ENOENT:
        return "no such port";
    case ENOTTY:
        return "not a serial device";
    case EIO:
        return "input/output error";
    case ENXIO:
    case ENODEV:
        return "the device is gone";
    case ETIMEDOUT:
        return "timed out";
    case EBADF:
        return "the port is not open";
    default:
        return std::error_code(err, std::generic_category()).message();
    }
}

bool PortFailed(int err, const std::string& device, const std::string& text) {
    SetLastPortError(PortError{err, text.empty() ? DescribePortError(err) : text, device});
    return false;
}

std::unique_ptr<PortBackend> OpenPosixPort(const std::string& comName) {
    const std::string path = ResolvePortName(comName);
    if (path.empty())
        return openFailed(ENOENT, "");
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return openFailed(errno, path);
    // Exclusive before anything is changed: a port someone holds is never reconfigured.
    // TIOCEXCL is ignored for privileged processes, the lock is not; it also stops a second
    // open from this very process.
    if (!::isatty(fd))
        return openFailed(ENOTTY, path, fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return openFailed(errno, path, fd);
    if (::ioctl(fd, TIOCEXCL) != 0)
        return openFailed(errno, path, fd);
    return std::make_unique<PosixPort>(fd, path);
}

// ---------------------------------------------------------------------------------------
// Handles

namespace {

std::mutex tableMutex;
std::map<PortHandle, std::shared_ptr<PortBackend>> table;
PortHandle nextHandle = 0x100;
PortOpener opener;

std::shared_ptr<PortBackend> lookup(PortHandle h) {
    std::lock_guard lock(tableMutex);
    const auto it = table.find(h);
    return it == table.end() ? nullptr : it->second;
}

} // namespace

void SetPortOpener(PortOpener o) {
    std::lock_guard lock(tableMutex);
    opener = std::move(o);
}

PortHandle OpenPort(const std::string& comName) {
    PortOpener openFn;
    {
        std::lock_guard lock(tableMutex);
        openFn = opener;
    }
    SetLastPortError({});
    std::unique_ptr<PortBackend> backend = openFn ? openFn(comName) : OpenPosixPort(comName);
    if (!backend) {
        if (LastPortError().err == 0)
            SetLastPortError(PortError{ENOENT, "no such port", ""});
        return INVALID_PORT_HANDLE;
    }
    SetLastPortError({});
    std::lock_guard lock(tableMutex);
    // Handles are not reused while the process lives, so a stale one never reaches another port.
    PortHandle h = nextHandle;
    while (h == 0 || h == INVALID_PORT_HANDLE || table.count(h))
        ++h;
    nextHandle = h + 1;
    table.emplace(h, std::move(backend));
    return h;
}

bool ClosePort(PortHandle h) {
    std::shared_ptr<PortBackend> backend;
    {
        std::lock_guard lock(tableMutex);
        const auto it = table.find(h);
        if (it == table.end())
            return false;
        backend = std::move(it->second);
        table.erase(it);
    }
    // A read running on another thread keeps the port alive until it returns.
    return true;
}

bool SetCommTimeouts(PortHandle h, const CommTimeouts& t) {
    auto b = lookup(h);
    return b && b->setTimeouts(t);
}

bool SetupComm(PortHandle h, uint32_t inQueue, uint32_t outQueue) {
    auto b = lookup(h);
    return b && b->setupComm(inQueue, outQueue);
}

bool GetCommState(PortHandle h, LineSettings& s) {
    auto b = lookup(h);
    return b && b->getState(s);
}

bool SetCommState(PortHandle h, const LineSettings& s) {
    auto b = lookup(h);
    return b && b->setState(s);
}

bool PurgeComm(PortHandle h, uint32_t flags) {
    auto b = lookup(h);
    return b && b->purge(flags);
}

bool WaitForInput(PortHandle h, uint32_t timeoutMs) {
    auto b = lookup(h);
    return b && b->waitForInput(timeoutMs);
}

namespace {

// One read or write of a port: the calling thread's cause is cleared first, set when the port
// is not open, and made an input/output error when the backend failed without giving one.
template <class Transfer> bool transfer(PortHandle h, Transfer&& op) {
    if (lastPortError.err != 0)
        SetLastPortError({});
    const auto b = lookup(h);
    if (!b)
        return PortFailed(EBADF);
    const bool ok = op(*b);
    if (!ok && lastPortError.err == 0)
        PortFailed(EIO);
    return ok;
}

} // namespace

bool ReadFile(PortHandle h, void* buf, uint32_t n, uint32_t* got) {
    if (got)
        *got = 0;
    return transfer(h, [&](PortBackend& b) { return b.read(buf, n, got); });
}

bool ReadFileUntilWoken(PortHandle h, void* buf, uint32_t n, uint32_t* got, int wakeFd) {
    if (got)
        *got = 0;
    return transfer(h, [&](PortBackend& b) { return b.readUntilWoken(buf, n, got, wakeFd); });
}

bool WriteFile(PortHandle h, const void* buf, uint32_t n, uint32_t* written) {
    if (written)
        *written = 0;
    return transfer(h, [&](PortBackend& b) { return b.write(buf, n, written); });
}

} // namespace rd

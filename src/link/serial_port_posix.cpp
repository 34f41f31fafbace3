// The POSIX backend of the serial platform layer: a port is a tty (a serial device or a
// pseudo-terminal) opened exclusively, driven with termios and waited on with ppoll; the read
// time-outs are kept by the layer itself (read_plan.h). The COM names map onto the machine's
// serial devices or the entries of a port directory.
#include "serial_port.h"

#include "read_plan.h"
#include "tcp_port.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>

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

// The number at the end of a device name (digits only, at most 2^20), or -1.
long trailingNumber(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.size() - prefix.size() > 10 ||
        name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    long v = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        v = v * 10 + (name[i] - '0');
    }
    return v <= (1L << 20) ? v : -1;
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

// ---------------------------------------------------------------------------------------
// Port names

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
    if (IsTcpPortName(comName))
        return comName;
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

std::unique_ptr<PortBackend> OpenPosixPort(const std::string& comName) {
    if (IsTcpPortName(comName))
        return OpenTcpPort(comName);
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

std::unique_ptr<PortBackend> OpenPlatformPort(const std::string& comName) {
    return OpenPosixPort(comName);
}

} // namespace rd

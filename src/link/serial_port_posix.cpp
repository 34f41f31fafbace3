// The POSIX backend of the serial platform layer: a port is a tty (a serial device or a
// pseudo-terminal) opened exclusively, driven with termios and waited on with ppoll; the read
// time-outs are kept by the layer itself (read_plan.h). The COM names map onto the machine's
// serial devices or the entries of a port directory.
#include "link/serial_port.h"

#include "link/posix_poll.h"
#include "link/tcp_port.h"
#include "link/timed_port.h"
#include "link/uucp_lock.h"

#include <algorithm>
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

class PosixPort final : public TimedPortBackend, private PolledLine {
  public:
    PosixPort(int fd, std::string device, UucpLock lock)
        : PolledLine(fd, POLLIN), device_(std::move(device)), lock_(std::move(lock)) {
        // The driver's counts run from its start: what it had lost before this open is not ours.
        overrunsAtOpen_ = driverOverruns();
    }
    ~PosixPort() override {
        // The exclusive flag outlives this descriptor while anyone else keeps the tty open.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
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

    bool waitForInput(uint32_t timeoutMs) override { return waitPolled(timeoutMs); }

    uint64_t inputOverruns() override {
        const std::optional<uint64_t> now = driverOverruns();
        return now && overrunsAtOpen_ && *now >= *overrunsAtOpen_ ? *now - *overrunsAtOpen_ : 0;
    }

  private:
    // Bytes lost to the UART's overruns and to the tty layer's full buffer, as a serial driver
    // counts them (TIOCGICOUNT); none where the device keeps no such count (a pseudo-terminal,
    // many USB adapters), and the question is not asked again.
    std::optional<uint64_t> driverOverruns() {
#if defined(__linux__) && defined(TIOCGICOUNT)
        if (!icountWorks_)
            return std::nullopt;
        serial_icounter_struct c{};
        if (::ioctl(fd_, TIOCGICOUNT, &c) != 0) {
            icountWorks_ = false;
            return std::nullopt;
        }
        return uint64_t(unsigned(c.overrun)) + uint64_t(unsigned(c.buf_overrun));
#else
        return std::nullopt;
#endif
    }

    PortError readImpl(uint8_t* buf, uint32_t n, uint32_t& got, const WakeSignal* wake) override {
        return readPolled(timeouts(), buf, n, got, wake);
    }

    PortError writeImpl(const uint8_t* buf, uint32_t n, uint32_t& written) override {
        return writePolled(writeDeadline(n), buf, n, written);
    }

    ssize_t readSome(uint8_t* buf, std::size_t n) override {
        return ::read(fd_, buf, n);
    }

    ssize_t writeSome(const uint8_t* buf, std::size_t n) override {
        return ::write(fd_, buf, n);
    }

    // Hung up (a 0-byte read after POLLHUP) or broken.
    bool inputEnded(short revents, ssize_t k, int err) override {
        return (revents & (POLLHUP | POLLERR)) || (k < 0 && err != EAGAIN && err != EINTR);
    }

    // Why the line gives nothing: a device that is gone, a hang-up, a descriptor no longer
    // open, or the call's own error.
    PortError failed(short revents, int err) override {
        if (err == ENXIO || err == ENODEV)
            return PortFailed(err, device_);
        if (revents & POLLNVAL)
            return PortFailed(EBADF, device_);
        if (revents & POLLHUP)
            return PortFailed(err != 0 ? err : EIO, device_, kHungUpText);
        return PortFailed(err != 0 ? err : EIO, device_);
    }

    const std::string device_;
    UucpLock lock_; // removed after the destructor's body, with the port closed
    std::mutex m_;
    uint32_t inQueue_ = 0;
    uint32_t outQueue_ = 0;
    bool icountWorks_ = true;
    std::optional<uint64_t> overrunsAtOpen_;
};

} // namespace

namespace {

// Gives why an open failed and gives up the descriptor, if one was opened. A port held by
// another program names that program's process when its lock file does.
std::unique_ptr<PortBackend> openFailed(PortError& why, int err, const std::string& device, int fd = -1,
                                        int holder = 0) {
    if (fd >= 0)
        ::close(fd);
    if ((err == EBUSY || err == EWOULDBLOCK) && holder == 0 && !device.empty())
        holder = UucpLockHolder(device);
    why = PortFailed(err, device);
    if (holder > 0) {
        why.text += ", PID " + std::to_string(holder);
        why.pid = holder;
    }
    return nullptr;
}

} // namespace

std::unique_ptr<PortBackend> OpenPosixPort(const std::string& comName, PortError& why) {
    if (IsTcpPortName(comName))
        return OpenTcpPort(comName, why);
    const std::string path = ResolvePortName(comName);
    if (path.empty())
        return openFailed(why, ENOENT, "");
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return openFailed(why, errno, path);
    // Exclusive before anything is changed: a port someone holds is never reconfigured.
    // TIOCEXCL is ignored for privileged processes, the lock is not; it also stops a second
    // open from this very process. The lock file is what other serial programs (ser2net,
    // minicom) honour and keep themselves; it is taken once the port is ours among ours.
    if (!::isatty(fd))
        return openFailed(why, ENOTTY, path, fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return openFailed(why, errno, path, fd);
    UucpLockResult uucp = TakeUucpLock(path);
    if (uucp.busy)
        return openFailed(why, EBUSY, path, fd, uucp.holder);
    if (::ioctl(fd, TIOCEXCL) != 0)
        return openFailed(why, errno, path, fd);
    return std::make_unique<PosixPort>(fd, path, std::move(uucp.lock));
}

std::unique_ptr<PortBackend> OpenPlatformPort(const std::string& comName, PortError& why) {
    return OpenPosixPort(comName, why);
}

} // namespace rd

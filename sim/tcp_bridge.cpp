#include "sim/tcp_bridge.h"

#include <cerrno>
#include <string>
#include <system_error>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace rd::sim {

namespace {

// Bytes held for a side that does not take them yet; above this the other side is not read
// (as a serial line would hold its sender back).
constexpr std::size_t kHoldLimit = 64 * 1024;

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), "tcp bridge: " + what);
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Moves what `fd` takes of `out` to it; false when the descriptor is broken.
bool Flush(int fd, std::string& out, bool socket) {
    while (!out.empty()) {
        const ssize_t k = socket ? ::send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT)
                                 : ::write(fd, out.data(), out.size());
        if (k > 0) {
            out.erase(0, static_cast<std::size_t>(k));
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        return k < 0 && errno == EAGAIN;
    }
    return true;
}

} // namespace

TcpBridge::TcpBridge(const std::string& devicePath, uint16_t port) : devicePath_(devicePath) {
    // The device must be there; it is held only while a client is connected.
    {
        const int probe = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0)
            ThrowErrno("open " + devicePath);
        ::close(probe);
    }
    auto fail = [this](const std::string& what) {
        const int e = errno;
        CloseFd(listener_);
        CloseFd(wake_);
        errno = e;
        ThrowErrno(what);
    };
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        fail("socket");
    const int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        fail("bind 127.0.0.1:" + std::to_string(port));
    if (::listen(listener_, 4) != 0)
        fail("listen");
    socklen_t len = sizeof addr;
    if (::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        fail("getsockname");
    port_ = ntohs(addr.sin_port);
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0)
        fail("eventfd");
    thread_ = std::thread([this] { run(); });
}

TcpBridge::~TcpBridge() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t k = ::write(wake_, &one, sizeof one);
    thread_.join();
    CloseFd(listener_);
    CloseFd(device_);
    CloseFd(wake_);
}

int TcpBridge::takeDevice() {
    const int fd = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY ? -EBUSY : -1;
    // The line is held as a serial port is: by one program at a time.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -EBUSY;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

std::string TcpBridge::portName() const {
    return "tcp://127.0.0.1:" + std::to_string(port_);
}

void TcpBridge::run() {
    int client = -1;
    std::string toClient;
    std::string toDevice;
    char buf[16384];
    for (;;) {
        enum { kWake, kListen, kDevice, kClient };
        pollfd fds[4] = {
            {wake_, POLLIN, 0},
            {listener_, POLLIN, 0},
            {device_,
             static_cast<short>((toClient.size() < kHoldLimit ? POLLIN : 0) |
                                (toDevice.empty() ? 0 : POLLOUT)),
             0},
            {client,
             static_cast<short>((toDevice.size() < kHoldLimit ? POLLIN : 0) |
                                (toClient.empty() ? 0 : POLLOUT)),
             0},
        };
        if (device_ < 0)
            fds[kDevice].fd = -1; // no client: the line is left to others
        if (::poll(fds, client >= 0 ? 4 : 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[kWake].revents)
            break;
        if (fds[kListen].revents & POLLIN) {
            int fresh = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fresh >= 0 && device_ < 0) {
                const int fd = takeDevice();
                if (fd == -EBUSY) {
                    CloseFd(fresh); // another program holds the line: this client is refused
                } else if (fd < 0) {
                    CloseFd(fresh);
                    break; // the reader is gone, and so is its server
                } else {
                    device_ = fd;
                }
            }
            if (fresh >= 0) {
                // The newcomer takes over; what was held for the one before is not its.
                CloseFd(client);
                toClient.clear();
                toDevice.clear();
                client = fresh;
                const int one = 1;
                ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                accepted_.fetch_add(1);
                continue;
            }
        }
        if (fds[kDevice].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            const ssize_t k = ::read(device_, buf, sizeof buf);
            if (k > 0) {
                toClient.append(buf, static_cast<std::size_t>(k));
            } else if (k == 0 || (errno != EAGAIN && errno != EINTR)) {
                break; // the reader is gone, and so is its server
            }
        }
        if (client >= 0) {
            const short cl = fds[kClient].revents;
            bool gone = (cl & (POLLERR | POLLNVAL)) != 0;
            if (!gone && (cl & (POLLIN | POLLHUP))) {
                const ssize_t k = ::recv(client, buf, sizeof buf, MSG_DONTWAIT);
                if (k > 0)
                    toDevice.append(buf, static_cast<std::size_t>(k));
                else if (k == 0 || (errno != EAGAIN && errno != EINTR))
                    gone = true;
            }
            if (!gone && !Flush(client, toClient, true))
                gone = true;
            if (gone) {
                CloseFd(client);
                CloseFd(device_); // the line is free again
                toClient.clear();
                toDevice.clear();
            }
        }
        if (device_ >= 0)
            Flush(device_, toDevice, false);
    }
    CloseFd(client);
    // No further clients: the port is closed for good.
    ::shutdown(listener_, SHUT_RDWR);
    CloseFd(listener_);
}

} // namespace rd::sim

// The program's side of a reader served on TCP in the tests: a connection to 127.0.0.1,
// requests written as they are, answer frames cut out of what arrives.
#pragma once

#include "pty_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace rd::sim::testing {

class TcpClient {
  public:
    using Clock = std::chrono::steady_clock;

    // Connects to 127.0.0.1:port; error() is the errno of a connect that failed (0: connected).
    explicit TcpClient(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            error_ = errno;
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~TcpClient() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool ok() const { return fd_ >= 0; }
    int error() const { return error_; }

    void Write(const std::string& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }

    // Reads until `count` answer frames have come, the server ends the connection or the
    // deadline passes; returns what came.
    std::string ReadFrames(size_t count, int timeoutMs = 3000) {
        std::string got;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (FramesIn(got).size() < count && !ended_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
                break;
            }
            char buf[4096];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                ended_ = true;
            } else {
                got.append(buf, static_cast<size_t>(n));
            }
        }
        return got;
    }

    // Whether the server has ended the connection (seen within timeoutMs).
    bool Ended(int timeoutMs = 3000) {
        ReadFrames(1000000, timeoutMs);
        return ended_;
    }

  private:
    int fd_ = -1;
    int error_ = 0;
    bool ended_ = false;
};

} // namespace rd::sim::testing

// What the TCP backends of both platforms have in common (tcp_port_posix.cpp,
// tcp_port_win32.cpp). Internal to the link library.
#pragma once

#include "link/timed_port.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace rd {

// A connection as a port. The line is set on the server: what is given is kept and read back,
// nothing more; the queues are the system's.
class TcpPortBackend : public TimedPortBackend {
  public:
    bool setupComm(uint32_t, uint32_t) override { return true; }
    bool getState(LineSettings& s) override;
    bool setState(const LineSettings& s) override;

  protected:
    // A read found the end of the stream or a broken connection: the port is hung up.
    std::atomic<bool> ended_{false};

  private:
    std::mutex m_;
    LineSettings state_{115200, 8, 'N', StopBits::One};
};

// The device of a connection: "HOST:PORT", the host in brackets when it holds ':'.
std::string TcpDeviceName(const std::string& host, uint16_t port);

// Why a connection could not be made, for people: "connection refused", "connection timed
// out", "host unreachable", "network unreachable", "connection reset", else the system's text.
std::string DescribeTcpError(int err);

} // namespace rd

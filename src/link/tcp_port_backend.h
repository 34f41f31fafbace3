// What the TCP backends of both platforms have in common (tcp_port_posix.cpp,
// tcp_port_win32.cpp). Internal to the link library.
#pragma once

#include "link/timed_port.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

namespace rd {

// A connection as a port. The line is set on the server: what is given is kept and read back,
// nothing more; the queues are the system's.
//
// The end of the input (the server closed or half-closed its sending side, or the connection
// broke) ends the reads: the first read that finds it gives its cause, and every read after it
// fails at once with the same. Writes go on being tried on the socket, which fails them itself
// once it cannot take them: a server that ends its sending side may still read.
class TcpPortBackend : public TimedPortBackend {
  public:
    explicit TcpPortBackend(std::string device) : device_(std::move(device)) {}

    bool setupComm(uint32_t, uint32_t) override { return true; }
    bool getState(LineSettings& s) override;
    bool setState(const LineSettings& s) override;

  protected:
    const std::string& device() const { return device_; }
    // A read found the end of the input: the end of the stream (err 0) or a broken connection
    // (err). Keeps the first cause and returns the one kept.
    PortError endInput(int err);
    // The cause the input ended with; ok() while it goes on.
    PortError inputEndCause();
    // A socket call failed with err: the connection's text for it (DescribeTcpError), but a
    // time-out or an input/output error as any port's.
    PortError socketFailed(int err) const;

  private:
    const std::string device_;
    std::mutex m_;
    LineSettings state_{115200, 8, 'N', StopBits::One};
    PortError inputEnd_;
};

// The device of a connection: "HOST:PORT", the host in brackets when it holds ':'.
std::string TcpDeviceName(const std::string& host, uint16_t port);

// Why a connection could not be made, for people: "connection refused", "connection timed
// out", "host unreachable", "network unreachable", "connection reset", else the system's text.
std::string DescribeTcpError(int err);

} // namespace rd

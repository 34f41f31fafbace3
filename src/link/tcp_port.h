// Readers behind serial device servers: a port name "tcp://HOST:PORT" stands for a TCP
// connection that carries the reader's bytes as they are (raw mode, no telnet commands).
// The connection is a PortBackend like a serial port: reads under the same time-outs, writes
// under the write time-outs, purge, close. Line settings are the server's business: they are
// accepted, remembered and read back, and change nothing on the wire.
#pragma once

#include "link/serial_port.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

namespace rd {

// How long an open waits for the connection to be accepted.
constexpr int kTcpConnectTimeoutMs = 2000;
// The default remote port of a serial device server.
constexpr uint16_t kDefaultTcpPort = 2000;

// Whether the name begins with "tcp://" (in any case): such a name is never a COM name.
bool IsTcpPortName(const std::string& name);

// Splits "tcp://HOST:PORT" into its host and port. HOST is a name or an address, an IPv6
// address in brackets ("tcp://[::1]:2000"); PORT is 1 to 65535. False for anything else.
bool ParseTcpPortName(const std::string& name, std::string& host, uint16_t& port);

// The port name for host and port: "tcp://HOST:PORT", the host in brackets when it holds ':'.
std::string TcpPortName(const std::string& host, uint16_t port);

// The cause of a read once the server has ended its sending side (closed or half-closed the
// connection): nothing more will come, though the server may still read what is written.
inline constexpr int kTcpEndOfStreamErr = EPIPE;
inline constexpr const char* kTcpEndOfStreamText = "the server closed the connection";

// Connects to the address a tcp:// name gives, waiting at most kTcpConnectTimeoutMs, with
// TCP_NODELAY and keep-alive on. nullptr when it cannot, with the cause in why ("connection
// refused", "connection timed out", "unknown host", ...) and "HOST:PORT" as the device.
std::unique_ptr<PortBackend> OpenTcpPort(const std::string& name, PortError& why);

} // namespace rd

#include "link/tcp_port.h"

#include "link/tcp_port_backend.h"

#include <cctype>
#include <cerrno>
#include <string>
#include <system_error>

namespace rd {

namespace {

constexpr char kScheme[] = "tcp://";
constexpr std::size_t kSchemeLength = sizeof kScheme - 1;

} // namespace

bool IsTcpPortName(const std::string& name) {
    if (name.size() < kSchemeLength)
        return false;
    for (std::size_t i = 0; i < kSchemeLength; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != kScheme[i])
            return false;
    return true;
}

bool ParseTcpPortName(const std::string& name, std::string& host, uint16_t& port) {
    if (!IsTcpPortName(name))
        return false;
    const std::string rest = name.substr(kSchemeLength);
    std::string h;
    std::size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return false;
        h = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.find(':');
        if (colon == std::string::npos || rest.find(':', colon + 1) != std::string::npos)
            return false;
        h = rest.substr(0, colon);
    }
    if (h.empty() || h.find_first_of(" \t/[]") != std::string::npos)
        return false;
    const std::string digits = rest.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long p = std::stol(digits);
    if (p < 1 || p > 65535)
        return false;
    host = h;
    port = static_cast<uint16_t>(p);
    return true;
}

std::string TcpPortName(const std::string& host, uint16_t port) {
    return kScheme + TcpDeviceName(host, port);
}

std::string TcpDeviceName(const std::string& host, uint16_t port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string DescribeTcpError(int err) {
    switch (err) {
    case ECONNREFUSED:
        return "connection refused";
    case ETIMEDOUT:
        return "connection timed out";
    case EHOSTUNREACH:
        return "host unreachable";
    case ENETUNREACH:
        return "network unreachable";
    case ECONNRESET:
        return "connection reset";
    default:
        return std::error_code(err, std::generic_category()).message();
    }
}

PortError TcpPortBackend::endInput(int err) {
    std::lock_guard lock(m_);
    if (inputEnd_.ok())
        inputEnd_ =
            err == 0 ? PortFailed(kTcpEndOfStreamErr, device_, kTcpEndOfStreamText) : socketFailed(err);
    return inputEnd_;
}

PortError TcpPortBackend::inputEndCause() {
    std::lock_guard lock(m_);
    return inputEnd_;
}

PortError TcpPortBackend::socketFailed(int err) const {
    if (err == ETIMEDOUT || err == EIO)
        return PortFailed(err, device_);
    return PortFailed(err, device_, DescribeTcpError(err));
}

bool TcpPortBackend::getState(LineSettings& s) {
    std::lock_guard lock(m_);
    s = state_;
    return true;
}

bool TcpPortBackend::setState(const LineSettings& s) {
    std::lock_guard lock(m_);
    state_ = s;
    return true;
}

} // namespace rd

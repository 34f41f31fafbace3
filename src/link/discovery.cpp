#include "link/discovery.h"

#include "link/frames.h"

#include <cerrno>

namespace rd {

const std::array<ReaderRow, 7> kReaderRows = {{
    {"VKR900-15", "VKR900-15 found ", ReaderGroup::Uhf900},
    {"VKR900-12", "VKR900-12 found ", ReaderGroup::Uhf900},
    {"VKR900-153", "VKR900-153 found ", ReaderGroup::Uhf900},
    {"VKR433-16", "VKR433-1 found ", ReaderGroup::Active433},
    {"VKR433-SAW", "VKR433-SAW found ", ReaderGroup::SensorTag},
    {"WG", "WG found ", ReaderGroup::Wiegand},
    {"K7000", "K7000 found ", ReaderGroup::Spare},
}};

void PortVerdict::take(const ProbeOutcome& p) {
    if (p.opened)
        opened = true;
    else
        openError = p.openError;
    if (p.ioError.err != 0)
        ioError = p.ioError;
    if (!p.reply.empty())
        reply = p.reply;
    if (!p.found && !late && !p.reply.empty()) {
        for (const ReaderRow& row : kReaderRows) {
            if (FindStrInBuf(p.reply.data(), static_cast<int>(p.reply.size()),
                             std::string_view(row.identifier))) {
                late = &row;
                break;
            }
        }
    }
}

std::string PortVerdict::line(const std::string& portName) const {
    if (late)
        return portName + ": " + late->identifier + " answered too late (after the " +
               std::to_string(kProbeWindowMs) + " ms of its probe)";
    if (!reply.empty()) {
        std::string text;
        for (uint8_t b : reply)
            if (b >= 0x20 && b < 0x7F && text.size() < std::size_t(kVerdictQuoteChars))
                text += char(b);
        return portName + ": reply without a known identifier: " + text;
    }
    if (opened)
        return portName + ": no reply" + (ioError.err != 0 ? " (" + ioError.text + ")" : std::string());
    switch (openError.err) {
    case 0:
    case ENOENT:
        return {};
    case EBUSY:
    case EWOULDBLOCK:
        return portName + ": busy (held by another program" +
               (openError.pid > 0 ? ", PID " + std::to_string(openError.pid) : std::string()) + ")";
    case EACCES:
    case EPERM: {
        const std::string device = openError.device.empty() ? ResolvePortName(portName) : openError.device;
        return portName + ": permission denied (" + device +
               "); the user needs the group that owns it (often dialout)";
    }
    default:
        return portName + ": cannot be opened (" + openError.text + ")";
    }
}

PortProbeResult ProbePort(Tmy_COM& com, const std::string& portName, const PortProbeHooks& hooks) {
    PortProbeResult result;
    com.CommPort = portName;
    com.CommPortStr = portName + kPortSettings;
    for (const ReaderRow& row : kReaderRows) {
        if (hooks.beforeProbe && !hooks.beforeProbe()) {
            result.cancelled = true;
            return result;
        }
        const ProbeOutcome probe =
            com.check_port(portName, kProbeAddress, kPortSettings, kProbeCommand, row.identifier);
        if (hooks.afterProbe)
            hooks.afterProbe(probe);
        result.verdict.take(probe);
        if (probe.found) {
            result.found = &row;
            return result;
        }
    }
    return result;
}

} // namespace rd

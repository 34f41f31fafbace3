#include "link/discovery.h"

#include "link/frames.h"
#include "link/tcp_port.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

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

namespace {

// How often a wait for an open running on its own thread asks the hooks.
constexpr auto kServeEvery = std::chrono::milliseconds(10);

// An open that may block (a name look-up, a TCP connect), on a thread of its own. Whoever
// waits for it may give up on it: a port that opens after that is closed again by the thread.
struct BackgroundOpen {
    std::mutex m;
    std::condition_variable doneChanged;
    bool done = false;
    bool abandoned = false;
    PortHandle handle = INVALID_PORT_HANDLE;
    PortError why;
};

// Opens portName, asking keepWaiting every 10 ms while the open runs; false from it gives the
// open up (cancelled set). Without keepWaiting the open runs on the calling thread.
PortHandle OpenServed(const std::string& portName, PortError& why, const std::function<bool()>& keepWaiting,
                      bool& cancelled) {
    if (!keepWaiting)
        return OpenPort(portName, why);
    auto open = std::make_shared<BackgroundOpen>();
    std::thread opener([open, portName] {
        PortError e;
        const PortHandle h = OpenPort(portName, e);
        std::lock_guard lock(open->m);
        if (open->abandoned) {
            if (h != INVALID_PORT_HANDLE)
                ClosePort(h);
        } else {
            open->handle = h;
            open->why = std::move(e);
        }
        open->done = true;
        open->doneChanged.notify_all();
    });
    for (;;) {
        {
            std::unique_lock lock(open->m);
            if (open->doneChanged.wait_for(lock, kServeEvery, [&] { return open->done; })) {
                lock.unlock();
                opener.join();
                why = open->why;
                return open->handle;
            }
        }
        if (!keepWaiting()) {
            std::unique_lock lock(open->m);
            if (open->done) {
                lock.unlock();
                opener.join();
                if (open->handle != INVALID_PORT_HANDLE)
                    ClosePort(open->handle);
            } else {
                // Not waited for: the thread closes what it may still open.
                open->abandoned = true;
                opener.detach();
            }
            cancelled = true;
            return INVALID_PORT_HANDLE;
        }
    }
}

} // namespace

PortProbeResult ProbePort(Tmy_COM& com, const std::string& portName, const PortProbeHooks& hooks) {
    PortProbeResult result;
    com.CommPort = portName;
    com.CommPortStr = portName + kPortSettings;
    // One connection for every probe of a TCP port; a serial port is opened for each.
    const bool oneOpen = IsTcpPortName(portName);
    PortHandle h = INVALID_PORT_HANDLE;
    auto giveBack = [&h] {
        if (h != INVALID_PORT_HANDLE)
            ClosePort(h);
        h = INVALID_PORT_HANDLE;
    };
    for (const ReaderRow& row : kReaderRows) {
        if (hooks.beforeProbe && !hooks.beforeProbe()) {
            giveBack();
            result.cancelled = true;
            return result;
        }
        ProbeOutcome outcome;
        if (h == INVALID_PORT_HANDLE) {
            bool cancelled = false;
            h = OpenServed(portName, outcome.openError, hooks.beforeProbe, cancelled);
            if (cancelled) {
                result.cancelled = true;
                return result;
            }
        }
        if (h == INVALID_PORT_HANDLE) {
            // Not there, busy or refused: the other probes would find the same.
            if (hooks.afterProbe)
                hooks.afterProbe(outcome);
            result.verdict.take(outcome);
            break;
        }
        try {
            outcome =
                com.probe_open_port(h, portName, kProbeAddress, kPortSettings, kProbeCommand, row.identifier);
        } catch (...) {
            h = INVALID_PORT_HANDLE; // closed by the probe
            throw;
        }
        if (hooks.afterProbe)
            hooks.afterProbe(outcome);
        result.verdict.take(outcome);
        if (outcome.found) {
            // The port object holds it now, in com.hPORT.
            h = INVALID_PORT_HANDLE;
            result.found = &row;
            return result;
        }
        if (!oneOpen)
            giveBack();
    }
    giveBack();
    return result;
}

} // namespace rd

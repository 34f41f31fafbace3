#include "cli/session.h"

#include "cli/stop_signals.h"

#include "link/frames.h"
#include "protocol/protocol_text.h"

#include <algorithm>

namespace rd::cli {

namespace {

// How long one wait for the answer-ready event lasts at most, so that a stop request or a
// deadline is seen within that time.
constexpr uint32_t kWaitSliceMs = 20;

} // namespace

const char* GroupName(ReaderGroup g) {
    switch (g) {
    case ReaderGroup::Uhf900:
        return "900 MHz";
    case ReaderGroup::Active433:
        return "433 MHz";
    case ReaderGroup::SensorTag:
        return "sensor-tag";
    case ReaderGroup::Wiegand:
        return "Wiegand";
    case ReaderGroup::Spare:
        return "spare";
    }
    return "";
}

Session::Session(const CliOptions& options, Output& out, TrafficLog& log)
    : options_(options), out_(out), log_(log),
      link_({}, [this](const std::string& line) { log_.write(line); }) {}

Session::~Session() = default;

void Session::note(const std::string& text) {
    out_.message(text);
    log_.write(text);
}

std::string Session::probeAnswer() const {
    // Cut as the receiver cuts answers.
    uint8_t frame[kMaxAnswerSize];
    int32_t count = 0;
    int32_t mode = AnswerCutter::Hunting;
    AnswerCutter cutter(frame, count, mode);
    for (uint8_t b : link_.probeReply())
        if (cutter.feed(b))
            return std::string(reinterpret_cast<const char*>(frame), std::size_t(count));
    return {};
}

bool Session::connect(const ReaderWanted& wanted, bool announce) {
    bool cancelled = false;
    bool found = false;
    if (!options_.port.empty()) {
        if (options_.noProbe)
            return openWithoutProbe();
        found = probe(options_.port, wanted, cancelled);
        if (!found && !cancelled)
            return false;
    } else {
        for (int n = 1; n <= kLastPort && !found && !cancelled; ++n) {
            const std::string port = "COM" + std::to_string(n);
            log_.write("Port " + port + " check..");
            found = probe(port, wanted, cancelled);
        }
        if (!found && !cancelled) {
            note("correct devices not found ");
            return false;
        }
    }
    if (cancelled) {
        note("scan cancelled");
        return false;
    }
    if (announce)
        note(row_->message + link_.settingsText());
    else
        log_.write(row_->message + link_.settingsText());
    link_.start();
    return true;
}

bool Session::probe(const std::string& portName, const ReaderWanted& wanted, bool& cancelled) {
    PortProbeHooks hooks;
    hooks.beforeProbe = [] { return StopRequests() == 0; };
    hooks.afterProbe = [this](const ProbeOutcome& p) {
        if (!p.reply.empty())
            log_.write(AnswerTerminalLine(p.reply.data(), static_cast<int>(p.reply.size())));
    };
    PortProbeResult result;
    try {
        result = link_.probe(portName, hooks);
    } catch (const PortSetupError& e) {
        note(portName + ": " + e.what());
        return false;
    }
    if (result.cancelled) {
        cancelled = true;
        return false;
    }
    if (!result.found) {
        std::string line = result.verdict.line(portName);
        if (line.empty() && !options_.port.empty())
            line = portName + ": no such port";
        if (!line.empty())
            note(line);
        return false;
    }
    if (wanted.accepts && !wanted.accepts(result.found->group)) {
        link_.close();
        note(portName + ": " + result.found->identifier + ", not a " + wanted.name);
        return false;
    }
    row_ = result.found;
    return true;
}

bool Session::openWithoutProbe() {
    PortError why;
    try {
        why = link_.open(options_.port);
    } catch (const PortSetupError& e) {
        note(options_.port + ": " + e.what());
        return false;
    }
    if (!why.ok()) {
        PortVerdict v;
        v.openError = why;
        std::string line = v.line(options_.port);
        note(line.empty() ? options_.port + ": no such port" : line);
        return false;
    }
    note(options_.port + ": opened without a probe");
    return true;
}

bool Session::send(const std::string& command) {
    const PortError e = link_.send(options_.addr, proto::Utf8ToUtf16(command));
    if (e.ok())
        return true;
    note(link_.port() + ": write failed: " + e.text);
    return false;
}

std::optional<std::string> Session::takeAnswer(uint32_t waitMs) {
    std::optional<std::string> answer = link_.take(waitMs);
    if (answer)
        log_.write(AnswerTerminalLine(reinterpret_cast<const uint8_t*>(answer->data()), int(answer->size())));
    return answer;
}

WaitEnd Session::pump(Clock::time_point until, const std::function<bool(const std::string&)>& onAnswer,
                      int requestsSeen) {
    for (;;) {
        if (requestsSeen >= 0 && StopRequests() > requestsSeen)
            return WaitEnd::Interrupted;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return WaitEnd::Deadline;
        if (std::optional<std::string> answer =
                takeAnswer(uint32_t(std::min<long long>(left, kWaitSliceMs)))) {
            if (!onAnswer(*answer))
                return WaitEnd::Done;
            continue;
        }
        // Read before a poll that finds the connection lost ends the receiver with its count.
        lostBytes();
        if (link_.connected() && link_.poll().kind == LinkNews::Lost) {
            note(link_.port() + ": connection lost");
            return WaitEnd::Lost;
        }
    }
}

uint64_t Session::lostBytes() {
    lostBytes_ = std::max(lostBytes_, link_.droppedBytes());
    return lostBytes_;
}

uint64_t Session::reportLostBytes() {
    const uint64_t lost = lostBytes();
    if (lost > 0)
        note(link_.port() + ": " + std::to_string(lost) +
             " bytes lost, receive buffer full: the answers they held are missing");
    return lost;
}

} // namespace rd::cli

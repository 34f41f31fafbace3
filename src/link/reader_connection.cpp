#include "link/reader_connection.h"

#include "link/com_a.h"
#include "link/frames.h"
#include "link/tcp_port.h"
#include "protocol/protocol_text.h"

#include <cerrno>
#include <mutex>
#include <thread>
#include <utility>

namespace rd {

namespace {

using Clock = std::chrono::steady_clock;

// The command word that starts an inventory run, and the answer word that confirms its end.
constexpr std::string_view kRunStartWord = "KELM_EPC_INVENTORY_TIME";
constexpr std::string_view kRunEndWord = "STOP_INVENTORY";

bool IsServerClosed(const PortError& e) {
    return e.text == kTcpEndOfStreamText;
}

} // namespace

// One attempt to reopen a lost connection, on a thread of its own with a port object of its
// own: the owner may give up on it (close) without waiting; a port that opens after that is
// closed again.
struct ReaderConnection::Attempt {
    std::mutex m;
    bool done = false;
    bool abandoned = false;
    bool opened = false;
    Tmy_COM com;
    // Echo lines composed on the attempt's thread: (terminal?, line), for the owner to show.
    std::vector<std::pair<bool, std::string>> echoes;
};

std::chrono::milliseconds ReconnectDelay(const std::string& port, int attemptsMade) {
    if (!IsTcpPortName(port))
        return std::chrono::milliseconds(1000);
    static constexpr int kSeconds[] = {1, 2, 4, 8, 16, 30};
    const int i = attemptsMade < 0 ? 0 : attemptsMade >= 6 ? 5 : attemptsMade;
    return std::chrono::seconds(kSeconds[i]);
}

ReaderConnection::ReaderConnection(LineSink sendLog, LineSink terminal)
    : sendLog_(std::move(sendLog)), terminal_(std::move(terminal)) {
    com_.MemoUTIL_SEND = [this](const std::string& line) { echo(false, line); };
    com_.MemoTERMINAL = [this](const std::string& line) { echo(true, line); };
}

ReaderConnection::~ReaderConnection() {
    close();
}

void ReaderConnection::echo(bool terminal, const std::string& line) {
    const LineSink& sink = terminal ? terminal_ : sendLog_;
    if (sink)
        sink(line);
}

PortProbeResult ReaderConnection::probe(const std::string& portName, const PortProbeHooks& hooks) {
    close();
    PortProbeHooks mine = hooks;
    mine.afterProbe = [this, &hooks](const ProbeOutcome& p) {
        lastProbeReply_ = p.reply;
        if (hooks.afterProbe)
            hooks.afterProbe(p);
    };
    const PortProbeResult result = ProbePort(com_, portName, mine);
    if (result.found) {
        // The port object holds it now.
        row_ = result.found;
        state_ = State::Found;
    }
    return result;
}

void ReaderConnection::start() {
    if (state_ != State::Found)
        return;
    startReceiver();
}

PortError ReaderConnection::open(const std::string& portName) {
    close();
    row_ = nullptr;
    manual_ = false;
    const PortError why = com_.create_port(portName, kPortSettings);
    if (!why.ok())
        return why;
    com_.CommPort = portName;
    com_.CommPortStr = portName + kPortSettings;
    manual_ = true;
    startReceiver();
    return {};
}

void ReaderConnection::startReceiver() {
    receiver_ = std::make_unique<TCOM_A>(com_.hPORT, com_.CommPort, 3);
    state_ = State::Connected;
}

void ReaderConnection::stopReceiver() {
    if (receiver_) {
        receiver_->requestStop();
        receiver_.reset(); // joins the thread
    }
}

void ReaderConnection::closePort() {
    if (com_.hPORT != 0 && com_.hPORT != INVALID_PORT_HANDLE)
        ClosePort(com_.hPORT);
    com_.hPORT = 0;
}

bool ReaderConnection::connected() const {
    return state_ == State::Connected && receiver_ != nullptr;
}

uint64_t ReaderConnection::droppedBytes() const {
    return receiver_ ? receiver_->droppedBytes() : 0;
}

uint64_t ReaderConnection::failedReads() const {
    return receiver_ ? receiver_->failedReads() : 0;
}

PortError ReaderConnection::lastReadError() const {
    return receiver_ ? receiver_->lastReadError() : PortError{};
}

PortError ReaderConnection::send(int addr, const std::u16string& text) {
    if (!connected()) {
        // Checked first, so that a command that cannot be framed says so all the same.
        ComposeRequest(addr, 0, text);
        return PortError{ENOTCONN, "not connected", com_.CommPort};
    }
    PortError e = com_.SendStrToPort(receiver_->handle(), addr, text);
    noteSent(addr, text);
    return e;
}

void ReaderConnection::noteSent(int addr, const std::u16string& text) {
    std::string word;
    for (char16_t c : text) {
        if (c == u' ') {
            if (word.empty())
                continue;
            break;
        }
        word += c < 0x80 ? char(c) : '?';
    }
    if (word == kRunStartWord) {
        runUnconfirmed_ = true;
        runAddress_ = addr;
    }
}

void ReaderConnection::noteAnswer(const std::string& answer) {
    if (runUnconfirmed_ && GetAnswerWord(2, answer) == kRunEndWord)
        runUnconfirmed_ = false;
}

std::optional<std::string> ReaderConnection::take(uint32_t waitMs) {
    if (!connected())
        return std::nullopt;
    std::optional<std::string> answer = receiver_->take(waitMs);
    if (!answer)
        return std::nullopt;
    receiver_->release();
    noteAnswer(*answer);
    return answer;
}

LinkNews ReaderConnection::poll() {
    if (state_ == State::Connected && receiver_ && receiver_->lost())
        return onLost();
    if (state_ != State::Lost)
        return {};
    if (attempt_)
        return finishAttempt();
    if (Clock::now() >= nextAttempt_)
        launchAttempt();
    return {};
}

LinkNews ReaderConnection::onLost() {
    const PortError cause = receiver_->lastReadError();
    stopReceiver();
    closePort();
    const std::string& port = com_.CommPort;
    const bool tcp = IsTcpPortName(port);
    const auto now = Clock::now();
    if (tcp && IsServerClosed(cause) && reconnectedAt_ && now - *reconnectedAt_ < kTakenOverWithin) {
        // Accepted again and closed again at once: another client has the port.
        state_ = State::GaveUp;
        return {LinkNews::GaveUp, port + ": another client holds it; press NET to take it back"};
    }
    state_ = State::Lost;
    attemptsMade_ = 0;
    nextAttempt_ = now + ReconnectDelay(port, 0);
    std::string line = port + ": connection lost";
    if (tcp)
        line +=
            " (" +
            (IsServerClosed(cause) || cause.text.empty() ? std::string("closed by the server") : cause.text) +
            ")";
    return {LinkNews::Lost, line};
}

void ReaderConnection::launchAttempt() {
    auto a = std::make_shared<Attempt>();
    a->com.NUM_COMMAND = com_.NUM_COMMAND;
    a->com.CommPort = com_.CommPort;
    a->com.CommPortStr = com_.CommPortStr;
    // The attempt's echo lines wait for the owner.
    a->com.MemoUTIL_SEND = [raw = a.get()](const std::string& line) {
        raw->echoes.emplace_back(false, line);
    };
    a->com.MemoTERMINAL = [raw = a.get()](const std::string& line) { raw->echoes.emplace_back(true, line); };
    const bool manual = manual_;
    const char* identifier = row_ ? row_->identifier : nullptr;
    const std::string port = com_.CommPort;
    nextAttempt_ = Clock::now() + ReconnectDelay(port, attemptsMade_ + 1);
    attempt_ = a;
    attemptThread_ = std::thread([a, manual, identifier, port] {
        bool opened = false;
        try {
            // The same port and the same reader only; a port another program holds does not
            // open (the open is exclusive). A port opened without identification comes back
            // the same way.
            if (manual) {
                opened = a->com.create_port(port, kPortSettings).ok();
            } else if (identifier) {
                opened =
                    a->com.check_port(port, kProbeAddress, kPortSettings, kProbeCommand, identifier).found;
            }
        } catch (const PortSetupError&) {
            opened = false; // the port has been closed again
        }
        std::lock_guard lock(a->m);
        if (a->abandoned && opened) {
            ClosePort(a->com.hPORT);
            opened = false;
        }
        a->opened = opened;
        a->done = true;
    });
}

LinkNews ReaderConnection::finishAttempt() {
    std::shared_ptr<Attempt> a = attempt_;
    {
        std::lock_guard lock(a->m);
        if (!a->done)
            return {};
    }
    attempt_.reset();
    attemptThread_.join(); // done: it is leaving
    for (const auto& [terminal, line] : a->echoes)
        echo(terminal, line);
    com_.NUM_COMMAND = a->com.NUM_COMMAND;
    ++attemptsMade_;
    if (!a->opened)
        return {}; // the next one is due at nextAttempt_
    com_.hPORT = a->com.hPORT;
    com_.TimeOuts = a->com.TimeOuts;
    com_.PortDCB = a->com.PortDCB;
    startReceiver();
    reconnectedAt_ = Clock::now();
    return {LinkNews::Reconnected, com_.CommPort + ": reconnected"};
}

void ReaderConnection::close() {
    if (attempt_) {
        std::unique_lock lock(attempt_->m);
        attempt_->abandoned = true;
        if (attempt_->done) {
            // Finished and not yet collected: its port, if it opened one, is given back here.
            if (attempt_->opened)
                ClosePort(attempt_->com.hPORT);
            attempt_->opened = false;
            lock.unlock();
            attemptThread_.join();
        } else {
            // Not waited for (a connect may take seconds): it closes what it may still open.
            attemptThread_.detach();
        }
    }
    attempt_.reset();
    if (runUnconfirmed_ && connected()) {
        // A reader left running an inventory is told to stop before its port is given up.
        runUnconfirmed_ = false;
        try {
            com_.SendStrToPort(receiver_->handle(), runAddress_, proto::Utf8ToUtf16(proto::EpcStop()));
        } catch (...) {
            // Nothing is left to tell about it.
        }
    }
    runUnconfirmed_ = false;
    stopReceiver();
    closePort();
    state_ = State::Closed;
    row_ = nullptr;
    manual_ = false;
    reconnectedAt_.reset();
    attemptsMade_ = 0;
}

} // namespace rd

#include "bridge/reader_worker.h"

#include "cli/cli_output.h"
#include "link/frames.h"
#include "protocol/protocol_text.h"

#include <cstdio>

namespace rd::bridge {

using Json = nlohmann::ordered_json;
using std::chrono::milliseconds;

namespace {

// How long one wait for an answer lasts at most, so that commands, the broker and a stop
// request are seen within that time.
constexpr uint32_t kSliceMs = 20;
// Answers taken one after the other before the rest of the loop has its turn.
constexpr int kAnswersPerTurn = 512;
// A command's answers: gathered until this long after the latest, or the deadline.
constexpr milliseconds kReplyQuiet{150};
constexpr milliseconds kReplyWait{1000};
// EPC_STOP again every this long until the reader confirms, as the command line does.
constexpr milliseconds kStopRetry{100};
// At the end: the queue handed over, and "offline" acknowledged, within these.
constexpr milliseconds kDrainAtEnd{2000};
constexpr milliseconds kOfflineAck{2000};

std::string CounterText(int32_t counter) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08d", int(counter));
    return buf;
}

} // namespace

ReaderWorker::ReaderWorker(const BridgeContext& ctx, std::string port, std::size_t queueShare)
    : ctx_(ctx), port_(std::move(port)), name_(ReaderName(port_)), topic_(ctx.topicPrefix + "/" + name_),
      queue_(queueShare) {}

ReaderWorker::~ReaderWorker() {
    stop();
    join();
}

void ReaderWorker::start() {
    thread_ = std::thread([this] { run(); });
}

void ReaderWorker::join() {
    if (thread_.joinable())
        thread_.join();
}

bool ReaderWorker::is900() const {
    return link_ && link_->row() && link_->row()->group == ReaderGroup::Uhf900;
}

void ReaderWorker::findReader() {
    PortProbeHooks hooks;
    hooks.beforeProbe = [this] { return !stopping_.load(); };
    PortProbeResult result;
    std::string why;
    try {
        result = link_->probe(port_, hooks);
        why = result.verdict.line(port_);
    } catch (const PortSetupError& e) {
        why = port_ + ": " + e.what();
    }
    ++findAttempts_;
    if (result.found) {
        link_->start();
        found_ = true;
        identifier_ = result.found->identifier;
        ctx_.log->event("reader_online", {{"reader", name_}, {"port", port_}, {"identifier", identifier_}});
        return;
    }
    if (findAttempts_ == 1)
        ctx_.log->event(
            "reader_absent",
            {{"reader", name_}, {"port", port_}, {"why", why.empty() ? port_ + ": no reader" : why}});
    nextFind_ = Clock::now() + ReconnectDelay(port_, findAttempts_);
}

void ReaderWorker::makeClient() {
    mqtt::ClientOptions o;
    o.broker = ctx_.broker;
    o.clientId = ctx_.clientId + "-" + name_;
    o.username = ctx_.options->username;
    o.password = ctx_.password;
    o.cafile = ctx_.options->cafile;
    o.will =
        mqtt::Will{topic_ + "/state", StatePayload("offline", port_, identifier_, IsoTimeNow()), 1, true};
    mqtt::Handlers h;
    h.connected = [this](int code, const std::string& text) {
        if (code == 0) {
            ctx_.log->event("broker_connected", {{"reader", name_}, {"broker", ctx_.broker.url()}});
            return;
        }
        ctx_.log->event("broker_refused", {{"reader", name_}, {"broker", ctx_.broker.url()}, {"why", text}});
        if (mqtt::RefusalIsFinal(code))
            ctx_.fatal(kExitRefused,
                       "the broker " + ctx_.broker.url() + " refused the connection: " + text +
                           (ctx_.options->username.empty() ? std::string(" (no --username given)")
                                                           : " (user " + ctx_.options->username + ")"));
    };
    h.disconnected = [this](bool expected, const std::string& text) {
        if (!expected)
            ctx_.log->event("broker_lost", {{"reader", name_}, {"why", text}});
    };
    h.message = [this](const mqtt::Message& m) {
        std::lock_guard lock(inboxMutex_);
        inbox_.push_back(m.payload);
    };
    h.published = [this](int mid) {
        std::lock_guard lock(ackMutex_);
        if (mid == awaitedMid_) {
            awaitedAcked_ = true;
            ackChanged_.notify_all();
        }
    };
    client_ = std::make_unique<mqtt::Client>(std::move(o), std::move(h));
    client_->subscribe(topic_ + "/cmd", 1);
    if (const std::string why = client_->start(); !why.empty())
        ctx_.fatal(kExitFailure, why);
}

void ReaderWorker::run() {
    link_ = std::make_unique<ReaderConnection>(LineSink([this](const std::string& line) {
                                                   if (ctx_.traffic)
                                                       ctx_.traffic(name_ + " " + line);
                                               }),
                                               LineSink());
    since_ = IsoTimeNow();
    findReader();
    state_ = found_ ? "online" : "lost";
    makeClient();
    if (found_ && ctx_.options->inventory && is900()) {
        std::string why;
        inventoryWanted_ =
            sendText(proto::KelmEpcInventoryTime(ctx_.options->q, ctx_.options->c, ctx_.options->n), why);
    }
    lastBeat_ = Clock::now();
    while (!stopping_) {
        const auto now = Clock::now();
        if (!found_ && now >= nextFind_ && !stopping_) {
            findReader();
            if (found_) {
                setState("online");
                if (ctx_.options->inventory && is900()) {
                    std::string why;
                    inventoryWanted_ = sendText(
                        proto::KelmEpcInventoryTime(ctx_.options->q, ctx_.options->c, ctx_.options->n), why);
                }
            }
        }
        bool took = false;
        if (found_ && link_->connected()) {
            for (int i = 0; i < kAnswersPerTurn; ++i) {
                std::optional<std::string> a = link_->take(i == 0 ? kSliceMs : 0);
                if (!a)
                    break;
                took = true;
                onAnswer(*a);
            }
        } else {
            std::this_thread::sleep_for(milliseconds(kSliceMs));
        }
        if (found_) {
            lostBytes_ = std::max(lostBytes_, link_->droppedBytes());
            if (!took || !link_->connected())
                onNews(link_->poll());
        }
        takeCommands();
        checkPending(Clock::now());
        drain();
        heartbeat(Clock::now());
    }
    finish();
}

void ReaderWorker::onAnswer(const std::string& answer) {
    if (ctx_.traffic)
        ctx_.traffic(name_ + " " +
                     AnswerTerminalLine(reinterpret_cast<const uint8_t*>(answer.data()), int(answer.size())));
    const std::string time = IsoTimeNow();
    if (ctx_.options->answers)
        push("/answers", AnswerPayload(answer, time));
    if (std::optional<TagRead> read = ReadOfAnswer(answer)) {
        ++reads_;
        epcs_.insert(read->epc);
        if (ctx_.options->batchMs > 0) {
            if (batch_.empty()) {
                batch_ = "[";
                batchDue_ = Clock::now() + milliseconds(ctx_.options->batchMs);
            } else {
                batch_ += ',';
            }
            batch_ += TagPayload(*read, time);
        } else {
            push("/tags", TagPayload(*read, time));
        }
    }
    const std::string keyword = GetAnswerWord(2, answer);
    if (keyword == "STOP_INVENTORY")
        stopRun_.end();
    if (!pending_)
        return;
    Pending& p = *pending_;
    if (p.kind == Command::InventoryStop) {
        if (keyword == "STOP_INVENTORY") {
            p.answers.push_back(answer);
            reply(p.idJson, ReplyPayload(p.idJson, p.answers), true);
            pending_.reset();
        }
    } else if (GetAnswerWord(1, answer) == p.counter) {
        p.answers.push_back(answer);
        p.lastAnswer = Clock::now();
        if (p.kind == Command::InventoryStart) {
            reply(p.idJson, ReplyPayload(p.idJson, p.answers), true);
            pending_.reset();
        }
    }
}

void ReaderWorker::onNews(const LinkNews& news) {
    switch (news.kind) {
    case LinkNews::Nothing:
        return;
    case LinkNews::Lost:
        ctx_.log->event("reader_lost", {{"reader", name_}, {"why", news.line}});
        setState("lost");
        return;
    case LinkNews::Reconnected:
        ++reconnects_;
        ctx_.log->event("reader_reconnected", {{"reader", name_}, {"port", port_}});
        setState("online");
        if (inventoryWanted_ && is900()) {
            std::string why;
            sendText(proto::KelmEpcInventoryTime(ctx_.options->q, ctx_.options->c, ctx_.options->n), why);
        }
        return;
    case LinkNews::GaveUp:
        ctx_.log->event("reader_given_up", {{"reader", name_}, {"why", news.line}});
        return;
    }
}

bool ReaderWorker::sendText(const std::string& text, std::string& why) {
    if (!found_ || !link_->connected()) {
        why = port_ + ": not connected";
        return false;
    }
    try {
        const PortError e = link_->send(ctx_.options->addr, proto::Utf8ToUtf16(text));
        if (!e.ok()) {
            why = port_ + ": write failed: " + e.text;
            return false;
        }
    } catch (const CommandTooLong& e) {
        why = e.what();
        return false;
    }
    return true;
}

void ReaderWorker::takeCommands() {
    while (!pending_) {
        std::string payload;
        {
            std::lock_guard lock(inboxMutex_);
            if (inbox_.empty())
                return;
            payload = std::move(inbox_.front());
            inbox_.pop_front();
        }
        runCommand(ParseCommand(payload));
    }
}

void ReaderWorker::runCommand(const Command& c) {
    static const char* const kKinds[] = {"send", "inventory start", "inventory stop", "invalid"};
    ctx_.log->event(
        "command_received",
        {{"reader", name_}, {"id", Json::parse(c.idJson, nullptr, false)}, {"command", kKinds[c.kind]}});
    if (ctx_.options->readOnly) {
        reply(c.idJson, ErrorReplyPayload(c.idJson, "read-only bridge: commands are refused"), false);
        return;
    }
    if (c.kind == Command::Invalid) {
        reply(c.idJson, ErrorReplyPayload(c.idJson, c.error), false);
        return;
    }
    if (c.kind != Command::Send && found_ && !is900()) {
        reply(c.idJson, ErrorReplyPayload(c.idJson, port_ + ": " + identifier_ + " is not a 900 MHz reader"),
              false);
        return;
    }
    std::string text;
    if (c.kind == Command::Send) {
        if (!cli::IsUtf8(c.text)) {
            reply(c.idJson, ErrorReplyPayload(c.idJson, "the command is not UTF-8 text"), false);
            return;
        }
        text = c.text;
    } else if (c.kind == Command::InventoryStart) {
        text = proto::KelmEpcInventoryTime(c.q, c.c, c.n);
    } else {
        text = proto::EpcStop();
    }
    std::string why;
    if (!sendText(text, why)) {
        reply(c.idJson, ErrorReplyPayload(c.idJson, why), false);
        return;
    }
    const auto now = Clock::now();
    Pending p;
    p.kind = c.kind;
    p.idJson = c.idJson;
    p.counter = CounterText(link_->commandCounter());
    p.deadline = now + (c.kind == Command::InventoryStop ? BoundedStop::kGiveUp : kReplyWait);
    if (c.kind == Command::InventoryStart) {
        inventoryWanted_ = true;
    } else if (c.kind == Command::InventoryStop) {
        inventoryWanted_ = false;
        stopRun_.begin(now);
        nextStop_ = now + kStopRetry;
    }
    pending_ = std::move(p);
}

void ReaderWorker::checkPending(Clock::time_point now) {
    if (!pending_)
        return;
    Pending& p = *pending_;
    if (p.kind == Command::InventoryStop && now >= nextStop_ && now < p.deadline) {
        std::string why;
        sendText(proto::EpcStop(), why);
        nextStop_ = now + kStopRetry;
    }
    if (p.kind == Command::Send && p.lastAnswer && now - *p.lastAnswer >= kReplyQuiet) {
        reply(p.idJson, ReplyPayload(p.idJson, p.answers), true);
        pending_.reset();
        return;
    }
    if (now < p.deadline)
        return;
    if (!p.answers.empty())
        reply(p.idJson, ReplyPayload(p.idJson, p.answers), true);
    else if (p.kind == Command::InventoryStop)
        reply(p.idJson, ErrorReplyPayload(p.idJson, "EPC_STOP not confirmed after 3 s"), false);
    else
        reply(p.idJson,
              ErrorReplyPayload(p.idJson, "no answer within " + std::to_string(kReplyWait.count()) + " ms"),
              false);
    if (p.kind == Command::InventoryStop)
        stopRun_.end();
    pending_.reset();
}

void ReaderWorker::reply(const std::string& idJson, const std::string& payload, bool ok) {
    ctx_.log->event("command_replied",
                    {{"reader", name_}, {"id", Json::parse(idJson, nullptr, false)}, {"ok", ok}});
    push("/reply", payload, 1, false);
}

void ReaderWorker::setState(const char* state) {
    if (state_ == state)
        return;
    state_ = state;
    since_ = IsoTimeNow();
    publishState();
}

void ReaderWorker::publishState() {
    const uint64_t connection = client_ ? client_->connection() : 0;
    stateOn_ = 0; // again at the next turn, unless it goes out now
    if (connection != 0 &&
        client_->publish(topic_ + "/state", StatePayload(state_, port_, identifier_, since_), 1, true))
        stateOn_ = connection;
}

bool ReaderWorker::stateIsOut() {
    const uint64_t connection = client_ ? client_->connection() : 0;
    if (connection == 0)
        return false;
    // A new connection: the state first, so that no subscriber sees tags before "online".
    if (stateOn_ != connection)
        publishState();
    return stateOn_ == connection;
}

void ReaderWorker::push(std::string suffix, std::string payload, int qos, bool retain) {
    queue_.push(OutMessage{topic_ + suffix, std::move(payload), qos, retain});
}

void ReaderWorker::flushBatch() {
    if (batch_.empty())
        return;
    push("/tags", batch_ + "]");
    batch_.clear();
}

namespace {
constexpr uint64_t kMaxInFlight = 2000;
} // namespace

void ReaderWorker::drain() {
    if (!batch_.empty() && Clock::now() >= batchDue_)
        flushBatch();
    // The library's own queue is unbounded: messages wait here, in the bounded queue, while
    // the connection has not written what it already holds.
    while (!queue_.empty() && stateIsOut() && client_->inFlight() < kMaxInFlight) {
        const OutMessage& m = queue_.front();
        if (!client_->publish(m.topic, m.payload, m.qos, m.retain))
            break;
        queue_.pop();
    }
    const auto now = Clock::now();
    if (queue_.dropped() > droppedTold_ && now - droppedToldAt_ >= std::chrono::seconds(1)) {
        ctx_.log->event("queue_dropped", {{"reader", name_},
                                          {"dropped", queue_.dropped() - droppedTold_},
                                          {"dropped_total", queue_.dropped()},
                                          {"queue", queue_.size()}});
        droppedTold_ = queue_.dropped();
        droppedToldAt_ = now;
    }
}

void ReaderWorker::heartbeat(Clock::time_point now) {
    const auto period = std::chrono::duration<double>(ctx_.options->heartbeatS);
    if (now - lastBeat_ < period)
        return;
    const double seconds = std::chrono::duration<double>(now - lastBeat_).count();
    Stats s;
    s.readsPerS = seconds > 0 ? double(reads_ - readsAtLastBeat_) / seconds : 0;
    s.distinctEpcs = epcs_.size();
    s.lostBytes = lostBytes_;
    s.reconnects = reconnects_;
    s.queue = queue_.size();
    lastBeat_ = now;
    readsAtLastBeat_ = reads_;
    // Figures of a moment: not kept for a broker that is away.
    if (stateIsOut())
        client_->publish(topic_ + "/stats", StatsPayload(s, IsoTimeNow()), 0, false);
}

void ReaderWorker::finish() {
    // The run stopped as the command line stops it: EPC_STOP now and every 100 ms until the
    // reader confirms, for at most 3 s; answers on the way are published as ever.
    if (found_ && link_->connected() && link_->runUnconfirmed()) {
        const auto first = Clock::now();
        stopRun_.end();
        stopRun_.begin(first);
        auto next = first;
        while (stopRun_.pending() && !stopRun_.expired(Clock::now())) {
            if (Clock::now() >= next) {
                std::string why;
                if (!sendText(proto::EpcStop(), why))
                    break;
                next += kStopRetry;
            }
            if (std::optional<std::string> a = link_->take(kSliceMs))
                onAnswer(*a);
            else if (link_->poll().kind == LinkNews::Lost)
                break;
        }
        ctx_.log->event("inventory_stopped", {{"reader", name_}, {"confirmed", !stopRun_.pending()}});
        stopRun_.end();
    }
    if (pending_) {
        reply(pending_->idJson, ErrorReplyPayload(pending_->idJson, "the bridge is stopping"), false);
        pending_.reset();
    }
    flushBatch();
    const auto drainEnd = Clock::now() + kDrainAtEnd;
    while (!queue_.empty() && client_ && client_->connected() && Clock::now() < drainEnd) {
        drain();
        if (!queue_.empty())
            std::this_thread::sleep_for(milliseconds(kSliceMs));
    }
    if (client_ && client_->connected()) {
        state_ = "offline";
        since_ = IsoTimeNow();
        // The lock is held across the publish so that its acknowledgement cannot come before
        // the mid is known.
        std::unique_lock lock(ackMutex_);
        if (client_->publish(topic_ + "/state", StatePayload(state_, port_, identifier_, since_), 1, true,
                             &awaitedMid_))
            ackChanged_.wait_for(lock, kOfflineAck, [&] { return awaitedAcked_; });
    }
    if (client_)
        client_->disconnect();
    link_->close();
}

} // namespace rd::bridge

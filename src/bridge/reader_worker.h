// One reader of the bridge on a thread of its own: its ReaderConnection (found by the probes,
// reconnected when lost), its own MQTT connection (client id <stem>-<reader>, with a Last Will
// that sets its state "offline"), the queue of its messages while the broker is away, the
// commands of its cmd topic and their replies. Reading goes on whatever the broker does: a
// publish only hands the message to the MQTT library (or to the queue).
#pragma once

#include "bridge/bridge_messages.h"
#include "bridge/bridge_options.h"
#include "bridge/event_log.h"
#include "bridge/publish_queue.h"

#include "link/reader_connection.h"
#include "mqtt/mqtt_client.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace rd::bridge {

// What every reader of one bridge shares.
struct BridgeContext {
    const BridgeOptions* options = nullptr;
    mqtt::BrokerAddress broker;
    std::string password; // never logged
    std::string clientId;
    std::string topicPrefix;
    EventLog* log = nullptr;
    // Every request, answer and message, with the reader's name in front; may be empty.
    std::function<void(const std::string& line)> traffic;
    // Told once the broker refused the connection for good (a wrong password), or the
    // client cannot start: the bridge ends.
    std::function<void(int exitCode, const std::string& message)> fatal;
};

class ReaderWorker {
  public:
    using Clock = std::chrono::steady_clock;

    // queueShare: the messages this reader keeps while the broker is away (its share of --queue).
    ReaderWorker(const BridgeContext& ctx, std::string port, std::size_t queueShare);
    ~ReaderWorker(); // stop() and join
    ReaderWorker(const ReaderWorker&) = delete;
    ReaderWorker& operator=(const ReaderWorker&) = delete;

    void start();
    // Asks the thread to end: the inventory stopped (bounded), the queue handed over while the
    // broker is there (bounded), "offline" published, the connections closed.
    void stop() { stopping_ = true; }
    void join();
    const std::string& name() const { return name_; }

  private:
    struct Pending {
        Command::Kind kind = Command::Send;
        std::string idJson;
        std::string counter; // of the request sent: its answers carry it
        std::vector<std::string> answers;
        Clock::time_point deadline;
        std::optional<Clock::time_point> lastAnswer;
    };

    void run();
    void findReader();
    void makeClient();
    void onAnswer(const std::string& answer);
    void onNews(const LinkNews& news);
    void takeCommands();
    void runCommand(const Command& c);
    void checkPending(Clock::time_point now);
    void reply(const std::string& idJson, const std::string& payload, bool ok);
    bool sendText(const std::string& text, std::string& why);
    void setState(const char* state);
    void publishState();
    // True when a broker connection stands and the state went out on it (publishing it now
    // when it has not).
    bool stateIsOut();
    void push(std::string suffix, std::string payload, int qos = 0, bool retain = false);
    void flushBatch();
    void drain();
    void heartbeat(Clock::time_point now);
    void finish();
    bool is900() const;

    const BridgeContext& ctx_;
    const std::string port_;
    const std::string name_;
    const std::string topic_; // <prefix>/<reader>
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    std::unique_ptr<ReaderConnection> link_;
    std::unique_ptr<mqtt::Client> client_;
    bool found_ = false;
    int findAttempts_ = 0;
    Clock::time_point nextFind_{};
    std::string identifier_;
    std::string state_ = "lost";
    std::string since_;
    // The broker connection the state was last published on (Client::connection()); on any
    // other, the state goes out before the stats or anything queued.
    uint64_t stateOn_ = 0;

    std::mutex inboxMutex_;
    std::deque<std::string> inbox_;
    // The "offline" of the end, acknowledged by the broker (the library tells of every message
    // written, QoS 0 too: only this one is looked for).
    std::mutex ackMutex_;
    std::condition_variable ackChanged_;
    int awaitedMid_ = -1;
    bool awaitedAcked_ = false;

    PublishQueue queue_;
    uint64_t droppedTold_ = 0;
    Clock::time_point droppedToldAt_{};

    // Statistics since the last heartbeat, and totals.
    uint64_t reads_ = 0;
    std::unordered_set<std::string> epcs_;
    uint64_t reconnects_ = 0;
    uint64_t lostBytes_ = 0;
    Clock::time_point lastBeat_{};
    uint64_t readsAtLastBeat_ = 0;

    std::string batch_; // the array of tags being gathered ("" : none)
    Clock::time_point batchDue_{};

    std::optional<Pending> pending_;
    BoundedStop stopRun_;
    Clock::time_point nextStop_{};
    bool inventoryWanted_ = false;
};

} // namespace rd::bridge

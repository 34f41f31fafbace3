// A client of an MQTT broker, on libmosquitto and its own network thread. No Qt.
//
// The client connects in the background and reconnects by itself with a back-off (1 s
// doubling to 30 s by default); it subscribes again to every pattern after each connect.
// Every handler runs on the client's network thread: a caller with a thread of its own
// (a Qt window) hands what it needs over to that thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace mqtt {

// "mqtt://HOST[:PORT]" (1883 unless given) or "mqtts://HOST[:PORT]" (TLS, 8883 unless given).
struct BrokerAddress {
    bool tls = false;
    std::string host;
    int port = 1883;
    std::string url() const; // as it would be written back
};
// The address, or nullopt with the reason in *why.
std::optional<BrokerAddress> ParseBrokerUrl(const std::string& url, std::string* why);

struct Will {
    std::string topic;
    std::string payload;
    int qos = 1;
    bool retain = true;
};

struct ClientOptions {
    BrokerAddress broker;
    std::string clientId; // empty: the library makes one up
    std::string username; // empty: no user name
    std::string password; // only with a user name; never logged
    std::string cafile;   // TLS: the CA certificate(s) that sign the broker's certificate
    int keepAliveS = 30;
    // false: the broker keeps the session (subscriptions, QoS 1 messages and, when it is set
    // up so, QoS 0 ones) while the client is away; needs a client id.
    bool cleanSession = true;
    int reconnectMinS = 1;
    int reconnectMaxS = 30;
    std::optional<Will> will;
};

struct Message {
    std::string topic;
    std::string payload;
    int qos = 0;
    bool retain = false;
};

struct Handlers {
    // After each CONNACK: code 0 is accepted; any other code with the broker's reason.
    std::function<void(int code, const std::string& text)> connected;
    // After a connection ends; `expected` when disconnect() asked for it.
    std::function<void(bool expected, const std::string& text)> disconnected;
    std::function<void(const Message&)> message;
    // A QoS 1/2 message the broker has acknowledged (its id as publish() gave it).
    std::function<void(int mid)> published;
};

// True when the code of a CONNACK means that trying again will not help (a wrong user name
// or password, not authorised, a refused client id).
bool RefusalIsFinal(int connackCode);
// The text of a CONNACK code ("connection refused: not authorised").
std::string ConnackText(int connackCode);

class Client {
  public:
    Client(ClientOptions options, Handlers handlers);
    ~Client(); // disconnect(), then the network thread ends
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Sets up TLS and the will and starts the network thread, which connects and keeps
    // reconnecting. Returns an error text when it cannot even start (a CA file that cannot be
    // read, a bad option); "" otherwise, also while the broker is not reachable yet.
    std::string start();

    // Publishes; false (with the reason in *why) when the message was not handed to the
    // library, for instance while no connection stands (the caller keeps its own queue).
    bool publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                 int* mid = nullptr, std::string* why = nullptr);
    // Subscribes now when connected, and again after every connect.
    void subscribe(const std::string& pattern, int qos);

    // Sends DISCONNECT (no will) and stops the network thread: bounded by a second or so.
    void disconnect();

    bool connected() const;
    // The number of the connection that stands now, counting from 1; 0 while none stands.
    // Each connect gets a new number, and the number changes with the same step as
    // connected(), so a caller can tell "still the connection I published the state on".
    uint64_t connection() const;

    // Messages handed to the library and not yet written to the connection (QoS 0) or not yet
    // acknowledged (QoS 1 and 2). The library's own queue has no bound: a caller that must
    // keep its memory bounded holds its messages back while this is high. A reconnect counts
    // what was in flight as gone.
    uint64_t inFlight() const {
        const uint64_t handed = handed_.load();
        const uint64_t done = done_.load();
        return handed > done ? handed - done : 0;
    }

  private:
    static void onConnect(mosquitto*, void*, int);
    static void onDisconnect(mosquitto*, void*, int);
    static void onMessage(mosquitto*, void*, const mosquitto_message*);
    static void onPublish(mosquitto*, void*, int);

    ClientOptions options_;
    Handlers handlers_;
    mosquitto* mosq_ = nullptr;
    bool started_ = false;
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, int>> subscriptions_;
    bool connected_ = false;
    uint64_t connects_ = 0;
    bool stopping_ = false;
    std::atomic<uint64_t> handed_{0};
    std::atomic<uint64_t> done_{0};
};

} // namespace mqtt

#include "mqtt/mqtt_client.h"

#include <mosquitto.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace mqtt {

namespace {

void InitLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string ErrorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO) {
        return std::strerror(errno);
    }
    return mosquitto_strerror(rc);
}

} // namespace

std::string BrokerAddress::url() const {
    return (tls ? "mqtts://" : "mqtt://") + host + ":" + std::to_string(port);
}

std::optional<BrokerAddress> ParseBrokerUrl(const std::string& url, std::string* why) {
    auto fail = [&](const std::string& text) -> std::optional<BrokerAddress> {
        if (why) {
            *why = text;
        }
        return std::nullopt;
    };
    BrokerAddress a;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        a.tls = true;
        a.port = 8883;
        rest = url.substr(8);
    } else {
        return fail("\"" + url + "\" is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
    }
    if (!rest.empty() && rest.back() == '/') {
        rest.pop_back();
    }
    std::string host;
    std::string port;
    bool hasPort = false;
    if (!rest.empty() && rest.front() == '[') { // [IPv6]:PORT
        const auto close = rest.find(']');
        if (close == std::string::npos) {
            return fail("\"" + url + "\": no ] after the IPv6 address");
        }
        host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            return fail("\"" + url + "\": unexpected text after the address");
        }
        hasPort = !after.empty();
        port = hasPort ? after.substr(1) : std::string();
    } else {
        const auto colon = rest.find(':');
        if (colon != std::string::npos && rest.find(':', colon + 1) != std::string::npos) {
            return fail("\"" + url + "\": write an IPv6 address in brackets: [ADDRESS]:PORT");
        }
        host = rest.substr(0, colon);
        hasPort = colon != std::string::npos;
        port = hasPort ? rest.substr(colon + 1) : std::string();
    }
    if (hasPort) {
        int value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value < 1 ||
            value > 65535) {
            return fail("\"" + url + "\": the port must be a number from 1 to 65535");
        }
        a.port = value;
    }
    if (host.empty() || host.find_first_of("/ ") != std::string::npos) {
        return fail("\"" + url + "\": no host name");
    }
    a.host = host;
    return a;
}

bool RefusalIsFinal(int code) {
    // 1: protocol version, 2: client id, 4: user name or password, 5: not authorised.
    return code == 1 || code == 2 || code == 4 || code == 5;
}

std::string ConnackText(int code) {
    return std::string("connection refused: ") + mosquitto_connack_string(code);
}

Client::Client(ClientOptions options, Handlers handlers)
    : options_(std::move(options)), handlers_(std::move(handlers)) {
    InitLibraryOnce();
    mosq_ = mosquitto_new(options_.clientId.empty() ? nullptr : options_.clientId.c_str(),
                          options_.cleanSession || options_.clientId.empty(), this);
}

Client::~Client() {
    disconnect();
    if (mosq_) {
        mosquitto_destroy(mosq_);
    }
}

std::string Client::start() {
    if (!mosq_) {
        return "cannot make an MQTT client (out of memory, or an invalid client id)";
    }
    if (started_) {
        return {};
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (!options_.username.empty()) {
        const int rc =
            mosquitto_username_pw_set(mosq_, options_.username.c_str(),
                                      options_.password.empty() ? nullptr : options_.password.c_str());
        if (rc != MOSQ_ERR_SUCCESS) {
            return "user name: " + ErrorText(rc);
        }
    }
    if (options_.broker.tls || !options_.cafile.empty()) {
        if (options_.cafile.empty()) {
            const int rc = mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS) {
                return "TLS: " + ErrorText(rc);
            }
        } else {
            const int rc =
                mosquitto_tls_set(mosq_, options_.cafile.c_str(), nullptr, nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS) {
                return "TLS: cannot use the CA file " + options_.cafile + ": " + ErrorText(rc);
            }
        }
    }
    if (options_.will) {
        const Will& w = *options_.will;
        const int rc = mosquitto_will_set(mosq_, w.topic.c_str(), static_cast<int>(w.payload.size()),
                                          w.payload.data(), w.qos, w.retain);
        if (rc != MOSQ_ERR_SUCCESS) {
            return "last will: " + ErrorText(rc);
        }
    }
    mosquitto_connect_callback_set(mosq_, &Client::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &Client::onDisconnect);
    mosquitto_message_callback_set(mosq_, &Client::onMessage);
    mosquitto_publish_callback_set(mosq_, &Client::onPublish);
    mosquitto_reconnect_delay_set(mosq_, static_cast<unsigned>(options_.reconnectMinS),
                                  static_cast<unsigned>(options_.reconnectMaxS), true);
    // A broker that is not there yet is not an error: the network thread keeps trying.
    const int rc = mosquitto_connect_async(mosq_, options_.broker.host.c_str(), options_.broker.port,
                                           options_.keepAliveS);
    if (rc == MOSQ_ERR_INVAL) {
        return "cannot connect to " + options_.broker.url() + ": " + ErrorText(rc);
    }
    const int loop = mosquitto_loop_start(mosq_);
    if (loop != MOSQ_ERR_SUCCESS) {
        return "cannot start the MQTT network thread: " + ErrorText(loop);
    }
    started_ = true;
    if (rc != MOSQ_ERR_SUCCESS && handlers_.disconnected) {
        handlers_.disconnected(false, options_.broker.url() + ": " + ErrorText(rc));
    }
    return {};
}

bool Client::publish(const std::string& topic, const std::string& payload, int qos, bool retain, int* mid,
                     std::string* why) {
    if (!connected()) {
        if (why) {
            *why = "not connected";
        }
        return false;
    }
    const int rc = mosquitto_publish(mosq_, mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (why) {
            *why = ErrorText(rc);
        }
        return false;
    }
    handed_.fetch_add(1);
    return true;
}

void Client::subscribe(const std::string& pattern, int qos) {
    bool now = false;
    {
        std::lock_guard lock(mutex_);
        subscriptions_.emplace_back(pattern, qos);
        now = connected_;
    }
    if (now) {
        mosquitto_subscribe(mosq_, nullptr, pattern.c_str(), qos);
    }
}

void Client::disconnect() {
    if (!started_) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    mosquitto_disconnect(mosq_);
    // The network thread sends DISCONNECT and ends; force it when no connection ever stood.
    mosquitto_loop_stop(mosq_, !connected());
    started_ = false;
    std::lock_guard lock(mutex_);
    connected_ = false;
}

bool Client::connected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

uint64_t Client::connection() const {
    std::lock_guard lock(mutex_);
    return connected_ ? connects_ : 0;
}

void Client::onConnect(mosquitto* m, void* self, int code) {
    auto* c = static_cast<Client*>(self);
    std::vector<std::pair<std::string, int>> subs;
    {
        std::lock_guard lock(c->mutex_);
        c->connected_ = code == 0;
        if (code == 0)
            ++c->connects_;
        subs = c->subscriptions_;
    }
    // What was in flight on the connection before has been written or is gone with it.
    c->done_.store(c->handed_.load());
    if (code == 0) {
        for (const auto& [pattern, qos] : subs) {
            mosquitto_subscribe(m, nullptr, pattern.c_str(), qos);
        }
    }
    if (c->handlers_.connected) {
        c->handlers_.connected(code, code == 0 ? std::string("connected to ") + c->options_.broker.url()
                                               : ConnackText(code));
    }
}

void Client::onDisconnect(mosquitto*, void* self, int rc) {
    auto* c = static_cast<Client*>(self);
    bool expected = false;
    {
        std::lock_guard lock(c->mutex_);
        c->connected_ = false;
        expected = c->stopping_ || rc == 0;
    }
    if (c->handlers_.disconnected) {
        c->handlers_.disconnected(expected, expected ? std::string("disconnected")
                                                     : "connection to " + c->options_.broker.url() +
                                                           " lost: " + ErrorText(rc));
    }
}

void Client::onMessage(mosquitto*, void* self, const mosquitto_message* msg) {
    auto* c = static_cast<Client*>(self);
    if (!c->handlers_.message || !msg) {
        return;
    }
    Message m;
    m.topic = msg->topic ? msg->topic : "";
    if (msg->payload && msg->payloadlen > 0) {
        m.payload.assign(static_cast<const char*>(msg->payload), static_cast<std::size_t>(msg->payloadlen));
    }
    m.qos = msg->qos;
    m.retain = msg->retain;
    c->handlers_.message(m);
}

void Client::onPublish(mosquitto*, void* self, int mid) {
    auto* c = static_cast<Client*>(self);
    c->done_.fetch_add(1);
    if (c->handlers_.published) {
        c->handlers_.published(mid);
    }
}

} // namespace mqtt

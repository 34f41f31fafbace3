#include "mqtt/mqtt_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "support/mosquitto_broker.h"

namespace {

using namespace std::chrono_literals;

TEST(BrokerUrl, ReadsSchemeHostAndPort) {
    struct Case {
        const char* url;
        bool ok;
        bool tls;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"mqtt://broker.site", true, false, "broker.site", 1883},
        {"mqtts://broker.site", true, true, "broker.site", 8883},
        {"mqtt://10.0.0.5:1884/", true, false, "10.0.0.5", 1884},
        {"mqtts://[::1]:9000", true, true, "::1", 9000},
        {"mqtt://[::1]", true, false, "::1", 1883},
        {"tcp://broker:1883", false, false, "", 0},
        {"mqtt://", false, false, "", 0},
        {"mqtt://broker:", false, false, "", 0},
        {"mqtt://broker:70000", false, false, "", 0},
        {"mqtt://broker:18x3", false, false, "", 0},
        {"mqtt://::1:1883", false, false, "", 0},
        {"mqtt://[::1", false, false, "", 0},
    };
    for (const Case& c : cases) {
        std::string why;
        const auto a = mqtt::ParseBrokerUrl(c.url, &why);
        EXPECT_EQ(a.has_value(), c.ok) << c.url << ": " << why;
        if (a && c.ok) {
            EXPECT_EQ(a->tls, c.tls) << c.url;
            EXPECT_EQ(a->host, c.host) << c.url;
            EXPECT_EQ(a->port, c.port) << c.url;
        } else if (!c.ok) {
            EXPECT_NE(why.find(c.url), std::string::npos) << "the reason names the address: " << why;
        }
    }
}

// What a client's handlers saw, to be waited for from the test's thread.
struct Seen {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> connacks;
    int unexpectedDisconnects = 0;
    std::vector<mqtt::Message> messages;
    std::vector<int> published;

    mqtt::Handlers handlers() {
        mqtt::Handlers h;
        h.connected = [this](int code, const std::string&) {
            std::lock_guard lock(mutex);
            connacks.push_back(code);
            changed.notify_all();
        };
        h.disconnected = [this](bool expected, const std::string&) {
            std::lock_guard lock(mutex);
            unexpectedDisconnects += expected ? 0 : 1;
            changed.notify_all();
        };
        h.message = [this](const mqtt::Message& m) {
            std::lock_guard lock(mutex);
            messages.push_back(m);
            changed.notify_all();
        };
        h.published = [this](int mid) {
            std::lock_guard lock(mutex);
            published.push_back(mid);
            changed.notify_all();
        };
        return h;
    }
    template <class Pred> bool waitFor(Pred pred, std::chrono::milliseconds within = 10s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, within, [&] { return pred(); });
    }
};

mqtt::ClientOptions OptionsFor(const testsupport::MosquittoBroker& broker, const std::string& id) {
    mqtt::ClientOptions o;
    o.broker = *mqtt::ParseBrokerUrl(broker.url(), nullptr);
    o.clientId = id;
    return o;
}

class MqttClientTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(broker.start()) << broker.log(); }
    testsupport::MosquittoBroker broker;
};

TEST_F(MqttClientTest, RetainedMessageReachesALateSubscriber) {
    Seen pubSeen;
    mqtt::Client pub(OptionsFor(broker, "pub"), pubSeen.handlers());
    ASSERT_EQ(pub.start(), "");
    ASSERT_TRUE(pubSeen.waitFor([&] { return !pubSeen.connacks.empty(); }));
    std::string why;
    int mid = -1;
    ASSERT_TRUE(pub.publish("site/COM3/state", "{\"state\":\"online\"}", 1, true, &mid, &why)) << why;
    // Acknowledged, and so kept, before the subscriber comes: else it might get it as it goes
    // out, not as a retained message.
    ASSERT_TRUE(pubSeen.waitFor([&] {
        return std::find(pubSeen.published.begin(), pubSeen.published.end(), mid) != pubSeen.published.end();
    }));

    Seen subSeen;
    mqtt::Client sub(OptionsFor(broker, "sub"), subSeen.handlers());
    sub.subscribe("site/+/state", 1);
    ASSERT_EQ(sub.start(), "");
    ASSERT_TRUE(subSeen.waitFor([&] { return !subSeen.messages.empty(); })) << broker.log();
    EXPECT_EQ(subSeen.messages[0].topic, "site/COM3/state");
    EXPECT_EQ(subSeen.messages[0].payload, "{\"state\":\"online\"}");
    EXPECT_TRUE(subSeen.messages[0].retain);
}

TEST_F(MqttClientTest, ReconnectsAndSubscribesAgainAfterTheBrokerRestarts) {
    Seen seen;
    mqtt::Client sub(OptionsFor(broker, "sub"), seen.handlers());
    sub.subscribe("t/#", 0);
    ASSERT_EQ(sub.start(), "");
    ASSERT_TRUE(seen.waitFor([&] { return seen.connacks.size() == 1; }));
    const uint64_t first = sub.connection();
    EXPECT_NE(first, 0u);

    broker.stop();
    ASSERT_TRUE(seen.waitFor([&] { return seen.unexpectedDisconnects == 1; }));
    EXPECT_FALSE(sub.connected());
    EXPECT_EQ(sub.connection(), 0u);
    std::string why;
    EXPECT_FALSE(sub.publish("t/x", "lost", 0, false, nullptr, &why));
    EXPECT_EQ(why, "not connected");

    ASSERT_TRUE(broker.start()) << broker.log();
    ASSERT_TRUE(seen.waitFor([&] { return seen.connacks.size() == 2; }, 20s)) << "no reconnect";
    // A new connection, known as new by its number.
    EXPECT_NE(sub.connection(), 0u);
    EXPECT_NE(sub.connection(), first);

    Seen pubSeen;
    mqtt::Client pub(OptionsFor(broker, "pub"), pubSeen.handlers());
    ASSERT_EQ(pub.start(), "");
    ASSERT_TRUE(pubSeen.waitFor([&] { return !pubSeen.connacks.empty(); }));
    // Retained: it reaches the subscription whether the broker has it by now or only later.
    ASSERT_TRUE(pub.publish("t/x", "after", 1, true));
    ASSERT_TRUE(seen.waitFor([&] { return !seen.messages.empty(); })) << "subscription not restored";
    EXPECT_EQ(seen.messages[0].payload, "after");
}

// A subscriber with a session the broker keeps (persistence on, QoS 0 queued) gets what was
// published while it was away, across a restart of the broker.
TEST(MqttClientSession, AKeptSessionGetsWhatCameWhileItWasAway) {
    testsupport::MosquittoBroker broker;
    broker.addConfig("allow_anonymous true\npersistence true\npersistence_location " + broker.dir() +
                     "/\nqueue_qos0_messages true\n");
    ASSERT_TRUE(broker.start()) << broker.log();
    Seen seen;
    auto options = OptionsFor(broker, "keeper");
    options.cleanSession = false;
    {
        mqtt::Client sub(options, seen.handlers());
        sub.subscribe("t/#", 1);
        ASSERT_EQ(sub.start(), "");
        ASSERT_TRUE(seen.waitFor([&] { return seen.connacks.size() == 1; }));
        sub.disconnect();
    }
    broker.stop();
    ASSERT_TRUE(broker.start()) << broker.log();
    {
        Seen pubSeen;
        mqtt::Client pub(OptionsFor(broker, "pub"), pubSeen.handlers());
        ASSERT_EQ(pub.start(), "");
        ASSERT_TRUE(pubSeen.waitFor([&] { return !pubSeen.connacks.empty(); }));
        ASSERT_TRUE(pub.publish("t/x", "while away", 0, false));
        pub.disconnect();
    }
    mqtt::Client sub(options, seen.handlers());
    ASSERT_EQ(sub.start(), "");
    ASSERT_TRUE(seen.waitFor([&] { return !seen.messages.empty(); })) << broker.log();
    EXPECT_EQ(seen.messages[0].payload, "while away");
}

TEST_F(MqttClientTest, MessagesInFlightAreCountedUntilWritten) {
    Seen seen;
    mqtt::Client pub(OptionsFor(broker, "pub"), seen.handlers());
    ASSERT_EQ(pub.start(), "");
    ASSERT_TRUE(seen.waitFor([&] { return !seen.connacks.empty(); }));
    EXPECT_EQ(pub.inFlight(), 0u);
    // A broker that answers nothing: every QoS 1 message waits for its acknowledgement.
    broker.pause();
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(pub.publish("t/1", "held", 1, false));
    EXPECT_EQ(pub.inFlight(), 10u);
    broker.resume();
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(pub.publish("t/0", std::string(4096, 'x'), 0, false));
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (pub.inFlight() != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(pub.inFlight(), 0u) << "written and acknowledged messages stay counted";
}

TEST(MqttClientAuth, AWrongPasswordIsAFinalRefusal) {
    testsupport::MosquittoBroker withPasswords("allow_anonymous false\n");
    ASSERT_TRUE(withPasswords.addUser("gate", "s3cret"));
    ASSERT_TRUE(withPasswords.start()) << withPasswords.log();
    for (const auto& [password, wantCode] : {std::pair{"wrong", 5}, std::pair{"s3cret", 0}}) {
        Seen seen;
        mqtt::ClientOptions o = OptionsFor(withPasswords, "gate-client");
        o.username = "gate";
        o.password = password;
        mqtt::Client c(o, seen.handlers());
        ASSERT_EQ(c.start(), "");
        ASSERT_TRUE(seen.waitFor([&] { return !seen.connacks.empty(); })) << withPasswords.log();
        EXPECT_EQ(seen.connacks[0], wantCode) << password;
        EXPECT_EQ(mqtt::RefusalIsFinal(seen.connacks[0]), wantCode != 0);
    }
}

} // namespace

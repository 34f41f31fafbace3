// readerdesk-bridge as a process: simulated readers on ptys, a real Mosquitto on a loopback
// port of its own, a subscriber of the test's own watching the topics.
#include "bridge_process.h"

#include "mqtt/mqtt_client.h"
#include "sim/reader_sim.h"
#include "support/mosquitto_broker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace rd::bridge {
namespace {

using testing::BridgeProcess;
using Json = nlohmann::json;
using namespace std::chrono_literals;

// What a subscriber of the test received.
class Watcher {
  public:
    Watcher(const std::string& url, const std::string& pattern, mqtt::ClientOptions extra = {}) {
        extra.broker = *mqtt::ParseBrokerUrl(url, nullptr);
        if (extra.clientId.empty())
            extra.clientId = "watcher";
        mqtt::Handlers h;
        h.connected = [this](int code, const std::string&) {
            std::lock_guard lock(mutex_);
            connected_ = connected_ || code == 0;
            changed_.notify_all();
        };
        h.message = [this](const mqtt::Message& m) {
            std::lock_guard lock(mutex_);
            messages_.push_back(m);
            changed_.notify_all();
        };
        client_ = std::make_unique<mqtt::Client>(extra, h);
        client_->subscribe(pattern, 1);
        EXPECT_EQ(client_->start(), "");
    }
    bool waitConnected() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return connected_; });
    }
    // The payloads on topic, as JSON.
    std::vector<Json> on(const std::string& topic) {
        std::lock_guard lock(mutex_);
        return onLocked(topic);
    }
    // Waits until pred holds for the payloads on topic.
    bool waitFor(const std::string& topic, const std::function<bool(const std::vector<Json>&)>& pred,
                 std::chrono::milliseconds within = 15s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, within, [&] { return pred(onLocked(topic)); });
    }
    // The topic of the first message under prefix, "" when none came.
    std::string firstUnder(const std::string& prefix) {
        std::lock_guard lock(mutex_);
        for (const auto& m : messages_)
            if (m.topic.starts_with(prefix))
                return m.topic;
        return "";
    }
    mqtt::Client& client() { return *client_; }

  private:
    std::vector<Json> onLocked(const std::string& topic) const {
        std::vector<Json> out;
        for (const auto& m : messages_)
            if (m.topic == topic)
                out.push_back(Json::parse(m.payload, nullptr, false));
        return out;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool connected_ = false;
    std::vector<mqtt::Message> messages_;
    std::unique_ptr<mqtt::Client> client_;
};

bool LastStateIs(const std::vector<Json>& states, const char* state) {
    return !states.empty() && states.back().value("state", "") == state;
}

class BridgeProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/readerdesk-bridge-test-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        log_ = dir_ + "/events.jsonl";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    sim::ReaderSim& addReader(int com, std::vector<std::string> epcs = {}) {
        sim::Options o;
        o.portDir = ports_.path();
        o.comNumber = com;
        o.epcs = std::move(epcs);
        if (o.epcs.empty())
            o.tagCount = 0;
        o.cyclePeriodMs = 20;
        sims_.push_back(std::make_unique<sim::ReaderSim>(o));
        return *sims_.back();
    }
    std::vector<std::string> args(const std::string& brokerUrl, std::vector<std::string> more) {
        std::vector<std::string> a = {"--port-dir",     ports_.path(), "--broker",   brokerUrl,
                                      "--topic-prefix", "site",        "--json-log", log_,
                                      "--client-id",    "bridge"};
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }
    bool waitForEvent(const std::function<bool(const Json&)>& pred, int timeoutMs = 10000) {
        return BridgeProcess::WaitForEvent(log_, pred, timeoutMs);
    }
    static std::function<bool(const Json&)> Event(const char* name, const std::string& reader = "") {
        return [=](const Json& e) {
            return e.value("event", "") == name && (reader.empty() || e.value("reader", "") == reader);
        };
    }

    std::string dir_;
    std::string log_;
    sim::TempPortDir ports_;
    std::vector<std::unique_ptr<sim::ReaderSim>> sims_;
};

// Three readers at once, each with its own tags, each online before its first tag; a stop request ends every
// run with EPC_STOP, sets every reader "offline" and exits 0.
TEST_F(BridgeProgram, ServesThreeReadersAtOnceAndStopsThemAllOnSigterm) {
    testsupport::MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log();
    const std::map<std::string, std::vector<std::string>> epcs = {
        {"COM3", {"E2003", "E2004"}}, {"COM4", {"E2005"}}, {"COM5", {"E2006", "E2007", "E2008"}}};
    int com = 3;
    for (const auto& [name, list] : epcs)
        addReader(com++, list);
    Watcher watcher(broker.url(), "site/#");
    ASSERT_TRUE(watcher.waitConnected());
    BridgeProcess bridge(
        args(broker.url(), {"--port", "COM3", "--port", "COM4", "--port", "COM5", "--inventory"}), dir_);
    ASSERT_TRUE(bridge.started());
    for (const auto& [name, list] : epcs) {
        const std::set<std::string> wanted(list.begin(), list.end());
        EXPECT_TRUE(watcher.waitFor("site/" + name + "/tags",
                                    [&](const std::vector<Json>& tags) {
                                        std::set<std::string> seen;
                                        for (const Json& t : tags)
                                            if (t.value("antenna", 0) == 1 && t["signal"].is_number())
                                                seen.insert(t.value("epc", ""));
                                        return seen == wanted;
                                    }))
            << name << "\n"
            << bridge.Stdout();
        // A subscriber learns that a reader is online before it gets its tags.
        EXPECT_EQ(watcher.firstUnder("site/" + name + "/"), "site/" + name + "/state");
        const auto states = watcher.on("site/" + name + "/state");
        ASSERT_FALSE(states.empty()) << name;
        EXPECT_EQ(states.front().value("state", ""), "online");
        EXPECT_EQ(states.front().value("port", ""), name);
        EXPECT_EQ(states.front().value("identifier", ""), "VKR900-15");
    }
    bridge.Signal(SIGTERM);
    EXPECT_EQ(bridge.Wait(), 0) << bridge.Stderr();
    for (std::size_t i = 0; i < sims_.size(); ++i) {
        const auto commands = sims_[i]->commands();
        EXPECT_NE(std::find(commands.begin(), commands.end(), "EPC_STOP"), commands.end()) << i;
        EXPECT_FALSE(sims_[i]->inventoryRunning()) << i;
    }
    for (const auto& [name, list] : epcs)
        EXPECT_TRUE(watcher.waitFor("site/" + name + "/state",
                                    [](const std::vector<Json>& s) { return LastStateIs(s, "offline"); }))
            << name << " " << Json(watcher.on("site/" + name + "/state")).dump();
    EXPECT_TRUE(waitForEvent(Event("stopped")));
}

// The state stays on the broker for a late subscriber; a bridge that is killed leaves it to the
// broker's Last Will to set "offline".
TEST_F(BridgeProgram, AKilledBridgeIsSetOfflineByItsLastWill) {
    testsupport::MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log();
    addReader(3);
    BridgeProcess bridge(args(broker.url(), {"--port", "COM3"}), dir_);
    ASSERT_TRUE(waitForEvent(Event("broker_connected", "COM3"))) << bridge.Stderr();
    ASSERT_TRUE(waitForEvent(Event("reader_online", "COM3")));
    Watcher late(broker.url(), "site/+/state");
    ASSERT_TRUE(late.waitFor("site/COM3/state", [](const auto& s) { return LastStateIs(s, "online"); }))
        << "the state is not retained";
    bridge.Signal(SIGKILL);
    bridge.Wait();
    EXPECT_TRUE(late.waitFor("site/COM3/state", [](const auto& s) { return LastStateIs(s, "offline"); }))
        << broker.log();
    Watcher later(broker.url(), "site/+/state", [] {
        mqtt::ClientOptions o;
        o.clientId = "later";
        return o;
    }());
    EXPECT_TRUE(later.waitFor("site/COM3/state", [](const auto& s) { return LastStateIs(s, "offline"); }))
        << "the will is not retained";
}

// Commands on the cmd topic and their replies, and a read-only bridge that refuses them all.
TEST_F(BridgeProgram, AnswersCommandsAndARead_onlyBridgeRefusesThem) {
    struct Case {
        bool readOnly;
        const char* command;
        bool ok;
        const char* inReply; // in the answers or the error
    };
    const Case cases[] = {
        {false, R"({"id":"7","send":"VERSION"})", true, "VERSION VKR900-15"},
        {false, R"({"id":"8","inventory":"start","q":20,"c":5,"n":15})", true, "START_INVENTORY"},
        {false, R"({"id":"9","inventory":"stop"})", true, "STOP_INVENTORY"},
        {false, R"({"id":"10","inventory":"pause"})", false, "\"start\" or \"stop\""},
        {false, R"(not json)", false, "not a JSON object"},
        {true, R"({"id":"11","send":"VERSION"})", false, "read-only bridge: commands are refused"},
        {true, R"({"id":"12","inventory":"start"})", false, "read-only bridge: commands are refused"},
    };
    testsupport::MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log();
    sim::ReaderSim& reader = addReader(3, {"E2001"});
    Watcher watcher(broker.url(), "site/COM3/#");
    ASSERT_TRUE(watcher.waitConnected());
    for (bool readOnly : {false, true}) {
        std::vector<std::string> extra = {"--port", "COM3"};
        if (readOnly)
            extra.push_back("--read-only");
        std::filesystem::remove(log_);
        const std::size_t statesBefore = watcher.on("site/COM3/state").size();
        BridgeProcess bridge(args(broker.url(), extra), dir_);
        // The bridge subscribes to its commands before it publishes its state: once the state is
        // here, a command reaches it.
        ASSERT_TRUE(watcher.waitFor("site/COM3/state", [&](const auto& s) {
            return s.size() > statesBefore && LastStateIs(s, "online");
        })) << bridge.Stderr();
        const std::size_t requestsBefore = reader.requestCount();
        std::size_t replies = watcher.on("site/COM3/reply").size();
        for (const Case& c : cases) {
            if (c.readOnly != readOnly)
                continue;
            ASSERT_TRUE(watcher.client().publish("site/COM3/cmd", c.command, 1, false));
            ASSERT_TRUE(watcher.waitFor("site/COM3/reply", [&](const auto& r) { return r.size() > replies; }))
                << c.command;
            const Json reply = watcher.on("site/COM3/reply")[replies++];
            const Json sent = Json::parse(c.command, nullptr, false);
            EXPECT_EQ(reply["id"], sent.is_object() ? sent["id"] : Json()) << c.command;
            EXPECT_EQ(reply.value("ok", !c.ok), c.ok) << c.command << " " << reply.dump();
            std::string said = reply.value("error", "");
            for (const Json& a : reply.value("answers", Json::array()))
                said += a.get<std::string>() + "\n";
            EXPECT_NE(said.find(c.inReply), std::string::npos) << c.command << " " << reply.dump();
        }
        if (readOnly) {
            EXPECT_EQ(reader.requestCount(), requestsBefore) << "a read-only bridge sent a command";
        }
        bridge.Signal(SIGINT);
        EXPECT_EQ(bridge.Wait(), 0);
    }
}

// A password file and the environment variable, against a broker with users and an ACL: the
// right one connects, a wrong one ends the bridge with a clear message and exit code 3; the
// password shows in neither standard error nor the json log.
TEST_F(BridgeProgram, TakesThePasswordFromAFileOrTheEnvironmentAndRefusesAWrongOne) {
    testsupport::MosquittoBroker broker("allow_anonymous false\n");
    ASSERT_TRUE(broker.addUser("gate", "Sesame-4711"));
    ASSERT_TRUE(broker.addUser("watch", "watch-pw"));
    {
        std::ofstream acl(broker.dir() + "/acl");
        acl << "user gate\ntopic readwrite site/#\nuser watch\ntopic readwrite site/#\n";
    }
    broker.addConfig("acl_file " + broker.dir() + "/acl\n");
    ASSERT_TRUE(broker.start()) << broker.log();
    addReader(3);
    mqtt::ClientOptions auth;
    auth.username = "watch";
    auth.password = "watch-pw";
    Watcher watcher(broker.url(), "site/+/state", auth);
    ASSERT_TRUE(watcher.waitConnected());

    struct Case {
        const char* name;
        std::optional<std::string> file;
        std::optional<std::string> env;
        int exitCode;
    };
    const Case cases[] = {
        {"right password in a file", "Sesame-4711\n", std::nullopt, 0},
        {"right password in the environment", std::nullopt, "Sesame-4711", 0},
        {"wrong password in a file", "Sesame-4712", std::nullopt, 3},
        {"wrong password in the environment", std::nullopt, "not-Sesame", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(log_);
        std::vector<std::string> extra = {"--port", "COM3", "--username", "gate"};
        if (c.file) {
            std::ofstream(dir_ + "/password") << *c.file;
            extra.insert(extra.end(), {"--password-file", dir_ + "/password"});
        }
        const std::size_t statesBefore = watcher.on("site/COM3/state").size();
        BridgeProcess bridge(args(broker.url(), extra), dir_, c.env);
        if (c.exitCode == 0) {
            EXPECT_TRUE(watcher.waitFor("site/COM3/state", [&](const auto& s) {
                return s.size() > statesBefore && LastStateIs(s, "online");
            })) << broker.log();
            bridge.Signal(SIGTERM);
        }
        EXPECT_EQ(bridge.Wait(), c.exitCode) << bridge.Stderr();
        const std::string err = bridge.Stderr();
        const std::string events = testing::ReadWhole(log_);
        if (c.exitCode == 3) {
            EXPECT_NE(err.find("the broker " + broker.url() + " refused the connection"), std::string::npos)
                << err;
            EXPECT_NE(err.find("user gate"), std::string::npos) << err;
        }
        const std::string password = c.file ? *c.file : *c.env;
        for (const std::string* text : {&err, &events})
            EXPECT_EQ(text->find(password.substr(0, password.find('\n'))), std::string::npos) << *text;
    }
}

// The broker stopped and started again mid-run: the reads taken meanwhile wait in the queue and
// reach the subscriber after it; beyond --queue the oldest are dropped and counted.
TEST_F(BridgeProgram, KeepsReadsWhileTheBrokerIsAwayUpToTheQueue) {
    testsupport::MosquittoBroker broker;
    // The subscriber's session (and what comes for it) survives the broker's restart.
    broker.addConfig("persistence true\npersistence_location " + broker.dir() +
                     "/\nqueue_qos0_messages true\n");
    ASSERT_TRUE(broker.start()) << broker.log();
    sim::ReaderSim& reader = addReader(3);
    mqtt::ClientOptions keep;
    keep.cleanSession = false;
    Watcher watcher(broker.url(), "site/COM3/#", keep);
    ASSERT_TRUE(watcher.waitConnected());
    BridgeProcess bridge(args(broker.url(), {"--port", "COM3", "--queue", "15"}), dir_);
    // The state reaching the watcher shows its subscription in place before the first read.
    ASSERT_TRUE(watcher.waitFor("site/COM3/state", [](const auto& s) { return LastStateIs(s, "online"); }))
        << bridge.Stderr() << testing::ReadWhole(log_);

    auto inject = [&](const std::string& stem, int count) {
        for (int i = 1; i <= count; ++i)
            reader.sendAnswer("INV 1 3000 " + stem + std::to_string(100 + i) + " -50");
    };
    auto epcs = [&] {
        std::vector<std::string> out;
        for (const Json& t : watcher.on("site/COM3/tags"))
            out.push_back(t.value("epc", ""));
        return out;
    };
    inject("A", 5);
    ASSERT_TRUE(watcher.waitFor("site/COM3/tags", [](const auto& t) { return t.size() == 5; }))
        << testing::ReadWhole(log_);

    broker.stop();
    ASSERT_TRUE(waitForEvent(Event("broker_lost")));
    inject("B", 20);
    // All 20 taken while the broker is away: 5 pushed out of a queue of 15.
    auto droppedTotal = [&] {
        uint64_t dropped = 0;
        for (const Json& e : BridgeProcess::Events(log_))
            if (e.value("event", "") == "queue_dropped")
                dropped = e.value("dropped_total", uint64_t(0));
        return dropped;
    };
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (droppedTotal() < 5 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    const bool fiveDropped = droppedTotal() == 5;
    ASSERT_TRUE(fiveDropped) << testing::ReadWhole(log_);
    ASSERT_TRUE(broker.start()) << broker.log();

    std::vector<std::string> wanted = {"A101", "A102", "A103", "A104", "A105"};
    for (int i = 6; i <= 20; ++i)
        wanted.push_back("B" + std::to_string(100 + i));
    EXPECT_TRUE(watcher.waitFor(
        "site/COM3/tags", [&](const auto& t) { return t.size() >= wanted.size(); }, 30s))
        << broker.log();
    std::this_thread::sleep_for(200ms); // nothing more follows
    EXPECT_EQ(epcs(), wanted);
    bridge.Signal(SIGTERM);
    EXPECT_EQ(bridge.Wait(), 0);
}

// A reader unplugged and plugged in again: "lost", then "online" with the reconnect counted, and
// the inventory of --inventory runs again.
TEST_F(BridgeProgram, ALostReaderComesBackWithItsInventory) {
    testsupport::MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log();
    addReader(3, {"E2001"});
    Watcher watcher(broker.url(), "site/COM3/#");
    ASSERT_TRUE(watcher.waitConnected());
    BridgeProcess bridge(args(broker.url(), {"--port", "COM3", "--inventory", "--heartbeat", "0.2"}), dir_);
    ASSERT_TRUE(watcher.waitFor("site/COM3/tags", [](const auto& t) { return !t.empty(); }))
        << bridge.Stdout();
    sims_.back()->hangUp();
    ASSERT_TRUE(watcher.waitFor("site/COM3/state", [](const auto& s) { return LastStateIs(s, "lost"); }))
        << bridge.Stdout();
    sims_.clear();
    sim::ReaderSim& again = addReader(3, {"E2002"});
    EXPECT_TRUE(watcher.waitFor("site/COM3/state", [](const auto& s) { return LastStateIs(s, "online"); }))
        << bridge.Stdout();
    EXPECT_TRUE(watcher.waitFor("site/COM3/tags", [](const auto& t) {
        return !t.empty() && t.back().value("epc", "") == "E2002";
    })) << "the inventory did not start again";
    EXPECT_TRUE(again.inventoryRunning());
    EXPECT_TRUE(watcher.waitFor("site/COM3/stats", [](const auto& s) {
        return !s.empty() && s.back().value("reconnects", 0) == 1 && s.back().value("distinct_epcs", 0) == 2;
    }));
    EXPECT_TRUE(waitForEvent(Event("reader_reconnected", "COM3")));
    bridge.Signal(SIGHUP);
    EXPECT_EQ(bridge.Wait(), 0);
    EXPECT_FALSE(again.inventoryRunning());
}

// --scan finds the readers; --batch-ms gathers the tags into arrays, --answers publishes every
// answer.
TEST_F(BridgeProgram, ScansForReadersBatchesTagsAndPublishesAnswers) {
    testsupport::MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log();
    addReader(2);
    sim::ReaderSim& reader = addReader(5);
    Watcher watcher(broker.url(), "site/#");
    ASSERT_TRUE(watcher.waitConnected());
    BridgeProcess bridge(args(broker.url(), {"--scan", "--batch-ms", "300", "--answers"}), dir_);
    for (const char* name : {"COM2", "COM5"})
        EXPECT_TRUE(watcher.waitFor("site/" + std::string(name) + "/state",
                                    [](const auto& s) { return LastStateIs(s, "online"); }))
            << name << bridge.Stdout();
    for (const char* answer : {"INV 1 3000 E2001 -50", "INV 1 3000 E2002 -51", "OK", "INV 2 3000 E2003 -52"})
        reader.sendAnswer(answer);
    ASSERT_TRUE(watcher.waitFor("site/COM5/tags", [](const auto& t) { return !t.empty(); }));
    std::this_thread::sleep_for(400ms); // a further batch would be out by now
    const auto batches = watcher.on("site/COM5/tags");
    ASSERT_EQ(batches.size(), 1u);
    ASSERT_TRUE(batches[0].is_array()) << batches[0].dump();
    std::vector<std::string> epcs;
    for (const Json& t : batches[0])
        epcs.push_back(t.value("epc", ""));
    EXPECT_EQ(epcs, (std::vector<std::string>{"E2001", "E2002", "E2003"}));
    const auto answers = watcher.on("site/COM5/answers");
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_NE(answers[2].value("answer", "").find(" OK;"), std::string::npos) << answers[2].dump();
    bridge.Signal(SIGTERM);
    EXPECT_EQ(bridge.Wait(), 0);
}

// mqtts:// with a CA made here: the bridge checks the broker's certificate against --cafile.
TEST_F(BridgeProgram, ConnectsOverTlsWithTheGivenCa) {
    const std::string d = dir_;
    const std::string make =
        "cd '" + d +
        "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key "
        "-out ca.crt -days 2 -subj /CN=ReaderDeskTestCA >/dev/null 2>&1"
        " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key "
        "-out server.csr -subj /CN=127.0.0.1 >/dev/null 2>&1"
        " && printf 'subjectAltName=IP:127.0.0.1\\n' > ext.cnf"
        " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt "
        "-days 2 -extfile ext.cnf >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    testsupport::MosquittoBroker broker("allow_anonymous true\ncafile " + d + "/ca.crt\ncertfile " + d +
                                        "/server.crt\nkeyfile " + d + "/server.key\n");
    ASSERT_TRUE(broker.start()) << broker.log();
    const std::string url = "mqtts://127.0.0.1:" + std::to_string(broker.port());
    addReader(3);
    mqtt::ClientOptions tls;
    tls.cafile = d + "/ca.crt";
    Watcher watcher(url, "site/+/state", tls);
    ASSERT_TRUE(watcher.waitConnected()) << broker.log();
    BridgeProcess bridge(args(url, {"--port", "COM3", "--cafile", d + "/ca.crt"}), dir_);
    EXPECT_TRUE(watcher.waitFor("site/COM3/state", [](const auto& s) { return LastStateIs(s, "online"); }))
        << broker.log() << bridge.Stdout();
    bridge.Signal(SIGTERM);
    EXPECT_EQ(bridge.Wait(), 0);
}

} // namespace
} // namespace rd::bridge

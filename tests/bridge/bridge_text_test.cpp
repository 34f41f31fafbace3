// readerdesk-bridge's text work: reader names, times, the payloads, the commands taken, the
// queue of a broker that is away and the command line.
#include "bridge/bridge_messages.h"
#include "bridge/bridge_options.h"
#include "bridge/publish_queue.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

namespace rd::bridge {
namespace {

using Json = nlohmann::json;

TEST(BridgeText, ReaderNamesOfPorts) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM3", "COM3"},
        {"tcp://10.0.0.7:2000", "tcp-10.0.0.7-2000"},
        {"tcp://[::1]:4001", "tcp-1-4001"},
        {"tcp://gate_2.site:2000/", "tcp-gate_2.site-2000"},
        {"--COM 9--", "COM-9"},
    };
    for (const auto& [port, name] : cases)
        EXPECT_EQ(ReaderName(port), name) << port;
}

TEST(BridgeText, TimesCarryMillisecondsAndTheLocalOffset) {
    struct Case {
        const char* tz;
        const char* time; // of 2026-12-10 13:26:00.123 UTC
    };
    const Case cases[] = {
        {"UTC0", "2026-12-10T13:26:00.123+00:00"},
        {"CET-1", "2026-12-10T14:26:00.123+01:00"},
        {"NST3:30", "2026-12-10T09:56:00.123-03:30"},
    };
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    const auto t = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796909160123LL));
    for (const Case& c : cases) {
        ::setenv("TZ", c.tz, 1);
        ::tzset();
        EXPECT_EQ(IsoTime(t), c.time) << c.tz;
    }
    if (before)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

TEST(BridgeText, InventoryAnswersBecomeTagMessages) {
    struct Case {
        const char* answer;
        const char* payload; // "" : not a read
    };
    const Case cases[] = {
        {":00000008 INV 1 3000 E2003412 -52.5;",
         R"({"epc":"E2003412","antenna":1,"signal":-52.5,"time":"T"})"},
        {":00000008 INV 2 3000 E2003412 -71;", R"({"epc":"E2003412","antenna":2,"signal":-71.0,"time":"T"})"},
        {":00000008 INV x 3000 E\xe9 ?;", R"({"epc":"E\u00e9","antenna":null,"signal":null,"time":"T"})"},
        {":00000008 START_INVENTORY;", ""},
        {":00000008 VERSION VKR900-15;", ""},
        {"INV 1 3000 E2 -50", ""},
    };
    for (const Case& c : cases) {
        const auto read = ReadOfAnswer(c.answer);
        ASSERT_EQ(read.has_value(), *c.payload != '\0') << c.answer;
        if (read) {
            EXPECT_EQ(Json::parse(TagPayload(*read, "T")), Json::parse(c.payload)) << c.answer;
        }
    }
}

TEST(BridgeText, CommandsOfTheCmdTopic) {
    struct Case {
        const char* payload;
        Command::Kind kind;
        const char* id;   // as JSON
        const char* text; // Send: the text; InventoryStart: "q c n"; Invalid: part of the error
    };
    const Case cases[] = {
        {R"({"id":"7","send":"VERSION"})", Command::Send, R"("7")", "VERSION"},
        {R"({"id":8,"inventory":"start","q":20,"c":"5","n":15})", Command::InventoryStart, "8", "20 5 15"},
        {R"({"id":"8","inventory":"start","q":7})", Command::InventoryStart, R"("8")", "7 5 15"},
        {R"({"id":"9","inventory":"stop"})", Command::InventoryStop, R"("9")", ""},
        {R"({"send":"VERSION"})", Command::Send, "null", "VERSION"},
        {R"({"id":"1","inventory":"start","q":2.5})", Command::Invalid, R"("1")", "whole number"},
        {R"({"id":"1","inventory":"go"})", Command::Invalid, R"("1")", "\"start\" or \"stop\""},
        {R"({"id":"1","send":""})", Command::Invalid, R"("1")", "command text"},
        {R"({"id":"1"})", Command::Invalid, R"("1")", "no \"send\""},
        {R"(["send"])", Command::Invalid, "null", "not a JSON object"},
        {"{", Command::Invalid, "null", "not a JSON object"},
    };
    for (const Case& c : cases) {
        const Command cmd = ParseCommand(c.payload);
        EXPECT_EQ(cmd.kind, c.kind) << c.payload;
        EXPECT_EQ(cmd.idJson, c.id) << c.payload;
        if (c.kind == Command::Send) {
            EXPECT_EQ(cmd.text, c.text) << c.payload;
        } else if (c.kind == Command::InventoryStart) {
            EXPECT_EQ(cmd.q + " " + cmd.c + " " + cmd.n, c.text) << c.payload;
        } else if (c.kind == Command::Invalid) {
            EXPECT_NE(cmd.error.find(c.text), std::string::npos) << c.payload << ": " << cmd.error;
        }
    }
    // The reply carries the id as it came.
    EXPECT_EQ(Json::parse(ReplyPayload("8", {":00000008 START_INVENTORY;"})),
              Json::parse(R"({"id":8,"ok":true,"answers":[":00000008 START_INVENTORY;"]})"));
    EXPECT_EQ(Json::parse(ErrorReplyPayload(R"("7")", "no")),
              Json::parse(R"({"id":"7","ok":false,"error":"no"})"));
}

TEST(BridgeText, AFullQueueDropsTheOldestAndCountsThem) {
    PublishQueue q(3);
    for (int i = 1; i <= 5; ++i)
        q.push(OutMessage{"t", std::to_string(i)});
    EXPECT_EQ(q.size(), 3u);
    EXPECT_EQ(q.dropped(), 2u);
    std::string left;
    for (; !q.empty(); q.pop())
        left += q.front().payload;
    EXPECT_EQ(left, "345");
}

TEST(BridgeText, CommandLine) {
    struct Case {
        std::vector<std::string> args;
        const char* error; // "" : accepted
    };
    const Case cases[] = {
        {{"--port", "COM3", "--port", "tcp://10.0.0.7:2000", "--queue", "10", "--heartbeat", "0.5"}, ""},
        {{"--scan"}, ""},
        {{}, "no reader"},
        {{"--port", "COM3", "--port", "COM3"}, "given twice"},
        {{"--port", "tcp://host:99999"}, "bad value for --port"},
        {{"--port", "COM3", "--broker", "http://x"}, "--broker"},
        {{"--port", "COM3", "--queue", "0"}, "bad value for --queue"},
        {{"--port", "COM3", "--heartbeat", "-1"}, "bad value for --heartbeat"},
        {{"--port", "COM3", "--topic-prefix", "a/#"}, "bad value for --topic-prefix"},
        {{"--port", "COM3", "--password-file", "/p"}, "needs --username"},
        {{"--port", "COM3", "--colour", "red"}, "unknown option --colour"},
        {{"--port"}, "missing value for --port"},
        // The value after --password is never repeated: it may be the password.
        {{"--port", "COM3", "--password", "Sesame"}, "--password-file FILE or READERDESK_MQTT_PASSWORD"},
    };
    for (const Case& c : cases) {
        const BridgeParse r = ParseBridgeCommandLine(c.args);
        if (*c.error == '\0') {
            EXPECT_EQ(r.error, "") << ::testing::PrintToString(c.args);
        } else {
            EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
        }
        EXPECT_EQ(r.error.find("Sesame"), std::string::npos) << r.error;
    }
    const BridgeParse r =
        ParseBridgeCommandLine({"--port", "COM3", "--port", "tcp://10.0.0.7:2000", "--queue", "10"});
    EXPECT_EQ(r.options.ports, (std::vector<std::string>{"COM3", "tcp://10.0.0.7:2000"}));
    EXPECT_EQ(r.options.queue, 10u);
    EXPECT_NE(std::string(kBridgeUsage).find("3 the broker refused"), std::string::npos);
}

} // namespace
} // namespace rd::bridge

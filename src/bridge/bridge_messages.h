// What readerdesk-bridge publishes and takes: the reader's name in a topic, the times, the JSON
// payloads of each topic and the commands of the cmd topic. No Qt, no broker: plain text.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rd::bridge {

// The name of a reader in its topics: its port with every character outside [A-Za-z0-9_.]
// turned into '-', runs of '-' kept single, '-' at either end dropped ("tcp://10.0.0.7:2000"
// is "tcp-10.0.0.7-2000").
std::string ReaderName(std::string_view port);

// ISO 8601 with the local offset and milliseconds: "2026-12-10T14:26:00.123+01:00".
std::string IsoTime(std::chrono::system_clock::time_point t);
inline std::string IsoTimeNow() {
    return IsoTime(std::chrono::system_clock::now());
}

// "online", "lost" or "offline", with the port, identifier ("" when unknown) and since when.
std::string StatePayload(std::string_view state, std::string_view port, std::string_view identifier,
                         std::string_view since);

// One read of an "INV" answer (":<counter> INV <antenna> <pc> <EPC> <signal>;"); nullopt for
// any other answer. The antenna and signal are null in the JSON when they are not numbers.
struct TagRead {
    std::string epc;
    std::optional<int> antenna;
    std::optional<double> signal;
};
std::optional<TagRead> ReadOfAnswer(std::string_view answer);
// {"epc":…,"antenna":1,"signal":-52.5,"time":…}
std::string TagPayload(const TagRead& read, std::string_view time);
// {"answer":…,"time":…}; the answer's bytes taken as Latin-1.
std::string AnswerPayload(std::string_view answer, std::string_view time);

struct Stats {
    double readsPerS = 0;
    uint64_t distinctEpcs = 0;
    uint64_t lostBytes = 0;
    uint64_t reconnects = 0;
    uint64_t queue = 0;
};
std::string StatsPayload(const Stats& s, std::string_view time);

// A command from the cmd topic.
struct Command {
    enum Kind { Send, InventoryStart, InventoryStop, Invalid };
    Kind kind = Invalid;
    std::string idJson = "null"; // the id as it came (a JSON value), for the reply
    std::string text;            // Send: the command text (UTF-8)
    std::string q = "20", c = "5", n = "15";
    std::string error; // Invalid: why
};
Command ParseCommand(std::string_view payload);

// {"id":…,"ok":true,"answers":[…]} (answers taken as Latin-1) or {"id":…,"ok":false,"error":…}.
std::string ReplyPayload(const std::string& idJson, const std::vector<std::string>& answers);
std::string ErrorReplyPayload(const std::string& idJson, std::string_view error);

} // namespace rd::bridge

#include "bridge/bridge_messages.h"

#include "cli/cli_output.h"
#include "link/frames.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace rd::bridge {

using Json = nlohmann::ordered_json;

namespace {

// Never throws: text that is not UTF-8 (a port name from the command line) is mended.
std::string Dump(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Latin1(std::string_view bytes) {
    return cli::Latin1ToUtf8(bytes);
}

template <class T> std::optional<T> Number(const std::string& text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end)
        return std::nullopt;
    return value;
}

// A start parameter as typed: a string, or a whole number written out.
bool ParameterText(const Json& j, const char* key, std::string& out, std::string& error) {
    if (!j.contains(key))
        return true;
    const Json& v = j[key];
    if (v.is_string())
        out = v.get<std::string>();
    else if (v.is_number_integer())
        out = std::to_string(v.get<int64_t>());
    else {
        error = std::string("\"") + key + "\" must be a whole number";
        return false;
    }
    return true;
}

} // namespace

std::string ReaderName(std::string_view port) {
    std::string name;
    for (char ch : port) {
        const bool keep = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
                          ch == '_' || ch == '.';
        if (keep)
            name += ch;
        else if (!name.empty() && name.back() != '-')
            name += '-';
    }
    while (!name.empty() && name.back() == '-')
        name.pop_back();
    return name;
}

std::string IsoTime(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&secs, &tm);
    const long offsetMin = tm.tm_gmtoff / 60;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, int(ms < 0 ? ms + 1000 : ms),
                  offsetMin < 0 ? '-' : '+', std::labs(offsetMin) / 60, std::labs(offsetMin) % 60);
    return buf;
}

std::string StatePayload(std::string_view state, std::string_view port, std::string_view identifier,
                         std::string_view since) {
    Json j;
    j["state"] = state;
    j["port"] = port;
    j["identifier"] = Latin1(identifier);
    j["since"] = since;
    return Dump(j);
}

std::optional<TagRead> ReadOfAnswer(std::string_view answer) {
    if (GetAnswerWord(2, answer) != "INV")
        return std::nullopt;
    TagRead r;
    r.epc = GetAnswerWord(5, answer);
    r.antenna = Number<int>(GetAnswerWord(3, answer));
    // from_chars for double is in libstdc++ 11 and later.
    r.signal = Number<double>(GetAnswerWord(6, answer));
    if (r.signal && !std::isfinite(*r.signal))
        r.signal.reset();
    return r;
}

std::string TagPayload(const TagRead& read, std::string_view time) {
    Json j;
    j["epc"] = Latin1(read.epc);
    j["antenna"] = read.antenna ? Json(*read.antenna) : Json(nullptr);
    j["signal"] = read.signal ? Json(*read.signal) : Json(nullptr);
    j["time"] = time;
    return Dump(j);
}

std::string AnswerPayload(std::string_view answer, std::string_view time) {
    Json j;
    j["answer"] = Latin1(answer);
    j["time"] = time;
    return Dump(j);
}

std::string StatsPayload(const Stats& s, std::string_view time) {
    Json j;
    j["reads_per_s"] = std::round(s.readsPerS * 10) / 10;
    j["distinct_epcs"] = s.distinctEpcs;
    j["lost_bytes"] = s.lostBytes;
    j["reconnects"] = s.reconnects;
    j["queue"] = s.queue;
    j["time"] = time;
    return Dump(j);
}

Command ParseCommand(std::string_view payload) {
    Command c;
    const Json j = Json::parse(payload, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        c.error = "not a JSON object";
        return c;
    }
    if (j.contains("id"))
        c.idJson = j["id"].dump();
    if (j.contains("send")) {
        if (!j["send"].is_string() || j["send"].get<std::string>().empty()) {
            c.error = "\"send\" must be a command text";
            return c;
        }
        c.kind = Command::Send;
        c.text = j["send"].get<std::string>();
        return c;
    }
    if (j.contains("inventory")) {
        const Json& v = j["inventory"];
        if (v == "stop") {
            c.kind = Command::InventoryStop;
            return c;
        }
        if (v == "start") {
            if (!ParameterText(j, "q", c.q, c.error) || !ParameterText(j, "c", c.c, c.error) ||
                !ParameterText(j, "n", c.n, c.error))
                return c;
            c.kind = Command::InventoryStart;
            return c;
        }
        c.error = "\"inventory\" is \"start\" or \"stop\"";
        return c;
    }
    c.error = "no \"send\" or \"inventory\" in the command";
    return c;
}

std::string ReplyPayload(const std::string& idJson, const std::vector<std::string>& answers) {
    Json j;
    j["id"] = Json::parse(idJson, nullptr, false);
    j["ok"] = true;
    Json list = Json::array();
    for (const std::string& a : answers)
        list.push_back(Latin1(a));
    j["answers"] = std::move(list);
    return Dump(j);
}

std::string ErrorReplyPayload(const std::string& idJson, std::string_view error) {
    Json j;
    j["id"] = Json::parse(idJson, nullptr, false);
    j["ok"] = false;
    j["error"] = error;
    return Dump(j);
}

} // namespace rd::bridge

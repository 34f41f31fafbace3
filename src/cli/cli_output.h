// What readerdesk-cli writes: result lines on standard output (text, or one JSON object a
// line), messages on standard error, and the traffic log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace rd::cli {

// Answer texts hold one character per received byte (Latin-1); terminals and JSON want UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);

// text as the body of a JSON string: quote, backslash and control characters escaped.
std::string JsonEscape(std::string_view utf8);

// One JSON object, its members in the order they are added.
class JsonLine {
  public:
    JsonLine& str(std::string_view key, std::string_view utf8);
    JsonLine& num(std::string_view key, int64_t value);
    JsonLine& real(std::string_view key, double value, int decimals);
    JsonLine& boolean(std::string_view key, bool value);
    std::string text() const { return body_ + "}"; }

  private:
    void key(std::string_view k);
    std::string body_ = "{";
};

// The local date and time, "yyyy-MM-dd hh:mm:ss.zzz".
std::string StampNow();
// The local time of day to the millisecond, "hh:mm:ss.zzz".
std::string TimeOfDayNow();

class Output {
  public:
    explicit Output(bool json) : json_(json) {}
    bool json() const { return json_; }
    // One result line on standard output, flushed at once (a pipe sees it as it happens).
    void line(const std::string& text);
    void line(const JsonLine& j) { line(j.text()); }
    // One message line on standard error.
    void message(const std::string& text);

  private:
    bool json_;
};

// Appends "yyyy-MM-dd hh:mm:ss.zzz line" to a file, flushed per line.
class TrafficLog {
  public:
    TrafficLog() = default;
    ~TrafficLog();
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;
    // false when the file cannot be opened for appending, with the system's reason in why
    // ("No such file or directory", "Permission denied", ...).
    bool open(const std::string& path, std::string& why);
    void write(const std::string& line);

  private:
    std::FILE* file_ = nullptr;
};

} // namespace rd::cli

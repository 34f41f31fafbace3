// What readerdesk-cli writes: result lines on standard output (text, or one JSON object a
// line), messages on standard error, and the traffic log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace rd::cli {

// Answer texts hold one character per received byte (Latin-1); terminals and JSON want UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);

// Answer bytes (Latin-1) as a terminal may be shown them: UTF-8, with every control
// character (C0, DEL, C1) written as "\x1b" and a backslash as "\\", so that what a reader
// sends can never move the cursor, clear the screen or retitle the window.
std::string TerminalText(std::string_view latin1);

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(std::string_view text);
// text with each byte that is not part of a well-formed UTF-8 character written as "\xff",
// to name a word that holds such bytes.
std::string ShowInvalidUtf8(std::string_view text);

// text as the body of a JSON string: quote, backslash and control characters (C0, DEL, C1)
// escaped.
std::string JsonEscape(std::string_view utf8);

// One JSON object, its members in the order they are added.
class JsonLine {
  public:
    JsonLine& str(std::string_view key, std::string_view utf8);
    JsonLine& num(std::string_view key, int64_t value);
    JsonLine& nums(std::string_view key, const std::vector<int64_t>& values); // an array
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
    // Writes one line. The first write that fails (a full disk, /dev/full) is told to
    // onFailure with the system's reason; nothing more is written after it.
    void write(const std::string& line);
    bool failed() const { return failed_; }
    std::function<void(const std::string& why)> onFailure;

  private:
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

} // namespace rd::cli

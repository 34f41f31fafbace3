#include "cli/cli_output.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>
#include <system_error>

namespace rd::cli {

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

std::string JsonEscape(std::string_view utf8) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(utf8.size());
    for (char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (b < 0x20) {
                out += "\\u00";
                out += kHex[b >> 4];
                out += kHex[b & 0xF];
            } else {
                out += ch;
            }
        }
    }
    return out;
}

void JsonLine::key(std::string_view k) {
    if (body_.size() > 1)
        body_ += ',';
    body_ += '"';
    body_ += JsonEscape(k);
    body_ += "\":";
}

JsonLine& JsonLine::str(std::string_view k, std::string_view utf8) {
    key(k);
    body_ += '"';
    body_ += JsonEscape(utf8);
    body_ += '"';
    return *this;
}

JsonLine& JsonLine::num(std::string_view k, int64_t value) {
    key(k);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::real(std::string_view k, double value, int decimals) {
    key(k);
    if (!std::isfinite(value))
        value = 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    body_ += buf;
    return *this;
}

JsonLine& JsonLine::boolean(std::string_view k, bool value) {
    key(k);
    body_ += value ? "true" : "false";
    return *this;
}

namespace {

// The local time now, to the millisecond. The one place that asks the system for the zone.
struct LocalNow {
    std::tm tm{};
    int ms = 0;
};

LocalNow Now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    LocalNow n;
    n.ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    if (n.ms < 0)
        n.ms += 1000;
#ifdef _WIN32
    localtime_s(&n.tm, &seconds);
#else
    localtime_r(&seconds, &n.tm);
#endif
    return n;
}

} // namespace

std::string StampNow() {
    const LocalNow n = Now();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", n.tm.tm_year + 1900, n.tm.tm_mon + 1,
                  n.tm.tm_mday, n.tm.tm_hour, n.tm.tm_min, n.tm.tm_sec, n.ms);
    return buf;
}

std::string TimeOfDayNow() {
    const LocalNow n = Now();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", n.tm.tm_hour, n.tm.tm_min, n.tm.tm_sec, n.ms);
    return buf;
}

void Output::line(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Output::message(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

TrafficLog::~TrafficLog() {
    if (file_)
        std::fclose(file_);
}

bool TrafficLog::open(const std::string& path, std::string& why) {
    errno = 0;
    file_ = std::fopen(path.c_str(), "ab");
    if (file_)
        return true;
    why = std::error_code(errno != 0 ? errno : EIO, std::generic_category()).message();
    return false;
}

void TrafficLog::write(const std::string& line) {
    if (!file_)
        return;
    const std::string text = StampNow() + ' ' + line + '\n';
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

} // namespace rd::cli

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

namespace {

const char kLowerHex[] = "0123456789abcdef";

void AppendEscapedByte(std::string& out, unsigned char b) {
    out += "\\x";
    out += kLowerHex[b >> 4];
    out += kLowerHex[b & 0xF];
}

// The length of the well-formed UTF-8 character at the start of text; 0 when there is none.
std::size_t Utf8CharLength(std::string_view text) {
    const auto b = static_cast<unsigned char>(text[0]);
    if (b < 0x80)
        return 1;
    std::size_t extra = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if ((b & 0xE0) == 0xC0)
        extra = 1, cp = b & 0x1F, least = 0x80;
    else if ((b & 0xF0) == 0xE0)
        extra = 2, cp = b & 0x0F, least = 0x800;
    else if ((b & 0xF8) == 0xF0)
        extra = 3, cp = b & 0x07, least = 0x10000;
    else
        return 0;
    if (text.size() <= extra)
        return 0;
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        if ((c & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < least || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        return 0;
    return extra + 1;
}

} // namespace

std::string TerminalText(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char ch : latin1) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || (b >= 0x7F && b < 0xA0)) {
            AppendEscapedByte(out, b);
        } else if (ch == '\\') {
            out += "\\\\";
        } else if (b < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

bool IsUtf8(std::string_view text) {
    while (!text.empty()) {
        const std::size_t n = Utf8CharLength(text);
        if (n == 0)
            return false;
        text.remove_prefix(n);
    }
    return true;
}

std::string ShowInvalidUtf8(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        const std::size_t n = Utf8CharLength(text);
        if (n == 0) {
            AppendEscapedByte(out, static_cast<unsigned char>(text[0]));
            text.remove_prefix(1);
        } else {
            out += text.substr(0, n);
            text.remove_prefix(n);
        }
    }
    return out;
}

std::string JsonEscape(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char ch = utf8[i];
        const auto b = static_cast<unsigned char>(ch);
        // U+0080 to U+009F, the C1 controls: C2 80 to C2 9F.
        if (b == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
            const auto c1 = static_cast<unsigned char>(utf8[++i]);
            out += "\\u00";
            out += kLowerHex[c1 >> 4];
            out += kLowerHex[c1 & 0xF];
            continue;
        }
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
            if (b < 0x20 || b == 0x7F) {
                out += "\\u00";
                out += kLowerHex[b >> 4];
                out += kLowerHex[b & 0xF];
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

JsonLine& JsonLine::nums(std::string_view k, const std::vector<int64_t>& values) {
    key(k);
    body_ += '[';
    for (std::size_t i = 0; i < values.size(); ++i)
        body_ += (i ? "," : "") + std::to_string(values[i]);
    body_ += ']';
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
    if (!file_ || failed_)
        return;
    const std::string text = StampNow() + ' ' + line + '\n';
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) == text.size() && std::fflush(file_) == 0)
        return;
    failed_ = true;
    if (onFailure)
        onFailure(std::error_code(errno != 0 ? errno : EIO, std::generic_category()).message());
}

} // namespace rd::cli

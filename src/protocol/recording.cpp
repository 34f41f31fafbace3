#include "protocol/recording.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

namespace rd::proto {

namespace {

// A line longer than this is no line of a recording (an answer is at most 1024 bytes, which
// take 3 characters each in hexadecimal).
constexpr std::size_t kMaxLine = 64 * 1024;
constexpr int64_t kDayMs = 24LL * 3600 * 1000;

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool Digits(std::string_view s, std::size_t from, std::size_t count, int& value) {
    if (from + count > s.size())
        return false;
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

// "hh:mm:ss.zzz" at from: the milliseconds of the day, or nothing.
std::optional<int64_t> TimeOfDay(std::string_view s, std::size_t from) {
    int h = 0, m = 0, sec = 0, ms = 0;
    if (!Digits(s, from, 2, h) || s.size() < from + 12 || s[from + 2] != ':' || !Digits(s, from + 3, 2, m) ||
        s[from + 5] != ':' || !Digits(s, from + 6, 2, sec) || s[from + 8] != '.' ||
        !Digits(s, from + 9, 3, ms))
        return std::nullopt;
    if (h > 23 || m > 59 || sec > 59)
        return std::nullopt;
    return ((h * 60LL + m) * 60 + sec) * 1000 + ms;
}

// The stamp in front of a line.
struct Stamp {
    bool dated = false;
    int64_t ms = 0;
    std::size_t bodyAt = 0; // where the text after the stamp and its blank begins
};

// "yyyy-MM-dd hh:mm:ss.zzz " or "hh:mm:ss.zzz " (a line of only the stamp has an empty body).
std::optional<Stamp> StampOf(std::string_view s) {
    int y = 0, mo = 0, d = 0;
    if (Digits(s, 0, 4, y) && s.size() >= 23 && s[4] == '-' && Digits(s, 5, 2, mo) && s[7] == '-' &&
        Digits(s, 8, 2, d) && s[10] == ' ') {
        const std::optional<int64_t> t = TimeOfDay(s, 11);
        if (!t || mo < 1 || mo > 12 || d < 1 || d > 31 || (s.size() > 23 && s[23] != ' '))
            return std::nullopt;
        return Stamp{true, DaysFromCivil(y, mo, d) * kDayMs + *t, std::min<std::size_t>(24, s.size())};
    }
    const std::optional<int64_t> t = TimeOfDay(s, 0);
    if (!t || (s.size() > 12 && s[12] != ' '))
        return std::nullopt;
    return Stamp{false, *t, std::min<std::size_t>(13, s.size())};
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "3A 30 31": bytes written as two hexadecimal digits each, one blank between two.
std::optional<std::string> HexBytes(std::string_view s) {
    if (s.empty() || (s.size() + 1) % 3 != 0)
        return std::nullopt;
    std::string out;
    out.reserve((s.size() + 1) / 3);
    for (std::size_t i = 0; i < s.size(); i += 3) {
        const int hi = HexDigit(s[i]);
        const int lo = HexDigit(s[i + 1]);
        if (hi < 0 || lo < 0 || (i + 2 < s.size() && s[i + 2] != ' '))
            return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return out;
}

// The answer text of readerdesk-cli as shown on a terminal back to its bytes: UTF-8 of
// Latin-1 characters, "\xNN" for a control character and "\\" for a backslash.
std::optional<std::string> TerminalBytes(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '\\') {
            if (i + 1 < s.size() && s[i + 1] == '\\') {
                out.push_back('\\');
                i += 2;
                continue;
            }
            if (i + 3 < s.size() && s[i + 1] == 'x' && HexDigit(s[i + 2]) >= 0 && HexDigit(s[i + 3]) >= 0) {
                out.push_back(static_cast<char>(HexDigit(s[i + 2]) * 16 + HexDigit(s[i + 3])));
                i += 4;
                continue;
            }
            return std::nullopt;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size() &&
                   (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
            out.push_back(
                static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F)));
            i += 2;
        } else {
            return std::nullopt; // not UTF-8, or a character beyond Latin-1
        }
    }
    return out;
}

// A request frame ':' counter ' ' command ';' into line.
bool TakeRequest(std::string_view frame, RecordedLine& line) {
    if (frame.size() < 4 || frame.front() != ':' || frame.back() != ';')
        return false;
    const std::size_t blank = frame.find(' ');
    if (blank == std::string_view::npos || blank < 2)
        return false;
    for (std::size_t i = 1; i < blank; ++i) {
        if (frame[i] < '0' || frame[i] > '9')
            return false;
    }
    line.counter = std::string(frame.substr(1, blank - 1));
    line.command = std::string(frame.substr(blank + 1, frame.size() - blank - 2));
    line.bytes = std::string(frame);
    return true;
}

std::string Shown(std::string_view s) {
    constexpr std::size_t kShown = 40;
    std::string out;
    for (char ch : s.substr(0, kShown)) {
        const auto c = static_cast<unsigned char>(ch);
        out.push_back(c < 0x20 || c == 0x7F ? '?' : ch);
    }
    return s.size() > kShown ? out + "..." : out;
}

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    Recording run() {
        decideForm();
        for (pos_ = 0, number_ = 0; nextLine();)
            take();
        return std::move(rec_);
    }

  private:
    // The next line into line_ (without its CR LF); false at the end.
    bool nextLine() {
        if (pos_ >= text_.size())
            return false;
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos)
            end = text_.size();
        line_ = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        ++number_;
        if (!line_.empty() && line_.back() == '\r')
            line_.remove_suffix(1);
        if (line_.size() > kMaxLine)
            fail("longer than " + std::to_string(kMaxLine) + " characters: not a recording");
        if (line_.find('\0') != std::string_view::npos)
            fail("binary data: not a recording");
        return true;
    }

    [[noreturn]] void fail(const std::string& why) const { throw RecordingError(number_, why); }

    // The first line with a time in front decides: a date too, a traffic log; the time of day
    // alone, monitor output.
    void decideForm() {
        for (pos_ = 0, number_ = 0; nextLine();) {
            if (const std::optional<Stamp> s = StampOf(line_)) {
                rec_.form = s->dated ? RecordingForm::TrafficLog : RecordingForm::Monitor;
                return;
            }
            failOnBrokenStamp();
        }
        number_ = 1;
        fail("neither a traffic log nor monitor output: no line begins with a time");
    }

    // A line that begins with a digit is meant to begin with a time: one that cannot be read
    // is damage, not a message.
    void failOnBrokenStamp() const {
        if (!line_.empty() && line_.front() >= '0' && line_.front() <= '9')
            fail("a time that cannot be read (\"" + Shown(line_) + "\")");
    }

    void take() {
        if (line_.find_first_not_of(" \t") == std::string_view::npos)
            return;
        const std::optional<Stamp> stamp = StampOf(line_);
        const bool traffic = rec_.form == RecordingForm::TrafficLog;
        if (!stamp) {
            failOnBrokenStamp();
            if (traffic)
                fail("no date and time in front (\"" + Shown(line_) + "\")");
            add(RecordedKind::Message, lastMs_, std::string(line_)); // standard error beside the answers
            return;
        }
        if (stamp->dated != traffic)
            fail(traffic ? "a time without a date in a traffic log" : "a date in front in monitor output");
        int64_t ms = stamp->ms;
        if (!traffic) {
            ms += day_ * kDayMs;
            if (any_ && ms < lastMs_ - kDayMs / 2) {
                ++day_;
                ms += kDayMs;
            }
        }
        const std::string_view body = line_.substr(stamp->bodyAt);
        if (traffic)
            takeTraffic(body, ms);
        else
            takeMonitor(body, ms);
    }

    void takeTraffic(std::string_view body, int64_t ms) {
        if (body.substr(0, 3) == ">> ") {
            const std::optional<std::string> bytes = HexBytes(body.substr(3));
            if (!bytes)
                fail("a request whose bytes are not hexadecimal (\"" + Shown(body) + "\")");
            RecordedLine& r = add(RecordedKind::Request, ms, {});
            r.address = static_cast<unsigned char>((*bytes)[0]);
            if (!TakeRequest(std::string_view(*bytes).substr(1), r))
                fail("a request that is not a frame (':' counter, blank, command, ';')");
            return;
        }
        if (body.substr(0, 5) == "<< 00") {
            if (body.size() == 5)
                return; // an empty answer: nothing arrived
            const std::optional<std::string> bytes = body[5] == ' ' ? HexBytes(body.substr(6)) : std::nullopt;
            if (!bytes)
                fail("an answer whose bytes are not hexadecimal (\"" + Shown(body) + "\")");
            add(RecordedKind::Answer, ms, *bytes);
            return;
        }
        add(RecordedKind::Message, ms, std::string(body));
    }

    void takeMonitor(std::string_view body, int64_t ms) {
        std::optional<std::string> bytes =
            !body.empty() && body.front() == ':' ? TerminalBytes(body) : HexBytes(body);
        if (!bytes)
            fail("neither an answer (':' ... ';') nor its bytes in hexadecimal (\"" + Shown(body) + "\")");
        add(RecordedKind::Answer, ms, std::move(*bytes));
    }

    RecordedLine& add(RecordedKind kind, int64_t ms, std::string bytes) {
        RecordedLine& r = rec_.lines.emplace_back();
        r.kind = kind;
        r.line = number_;
        r.ms = ms;
        r.bytes = std::move(bytes);
        lastMs_ = ms;
        any_ = true;
        return r;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int number_ = 0;
    std::string_view line_;
    Recording rec_;
    int64_t lastMs_ = 0;
    int64_t day_ = 0;
    bool any_ = false;
};

} // namespace

RecordingError::RecordingError(int line, const std::string& why)
    : std::runtime_error(line > 0 ? "line " + std::to_string(line) + ": " + why : why), line_(line) {}

Recording ParseRecording(std::string_view text) {
    return Parser(text).run();
}

Recording ReadRecording(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw RecordingError(0, std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw RecordingError(0, std::strerror(errno));
    return ParseRecording(text.str());
}

std::string_view AnswerFrame(std::string_view bytes) {
    const std::size_t colon = bytes.find(':');
    if (colon == std::string_view::npos)
        return {};
    const std::size_t semi = bytes.find(';', colon);
    if (semi == std::string_view::npos)
        return {};
    return bytes.substr(colon, semi - colon + 1);
}

std::string CommandKeyword(std::string_view command) {
    const std::size_t from = command.find_first_not_of(' ');
    if (from == std::string_view::npos)
        return {};
    return std::string(command.substr(from, command.find(' ', from) - from));
}

std::string FrameWord(int n, std::string_view frame) {
    if (frame.size() < 2 || frame.front() != ':' || frame.back() != ';' || n < 1)
        return {};
    const std::string_view inner = frame.substr(1, frame.size() - 2);
    int seen = 0;
    for (std::size_t i = 0; i < inner.size();) {
        while (i < inner.size() && inner[i] == ' ')
            ++i;
        std::size_t end = i;
        while (end < inner.size() && inner[end] != ' ')
            ++end;
        if (end > i && ++seen == n)
            return std::string(inner.substr(i, end - i));
        i = end;
    }
    return {};
}

std::string WithCounter(std::string_view frame, std::string_view counter) {
    if (frame.size() < 2 || frame.front() != ':' || frame.back() != ';' || frame[1] == ' ' || frame[1] == ';')
        return std::string(frame);
    std::size_t end = 1;
    while (end < frame.size() - 1 && frame[end] != ' ')
        ++end;
    return ":" + std::string(counter) + std::string(frame.substr(end));
}

const RecordedLine* IdentifierReply(const Recording& r) {
    for (const RecordedLine& l : r.lines) {
        if (l.kind == RecordedKind::Answer && FrameWord(2, AnswerFrame(l.bytes)) == "VERSION")
            return &l;
    }
    return nullptr;
}

} // namespace rd::proto

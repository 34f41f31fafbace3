#include "app/window/terminal_lines.h"

#include "kit/conv.h"
#include "link/frames.h"

#include <QDateTime>

#include <string>

namespace rd {

namespace {

const QLatin1StringView kAnswerHead("<< 00");
const QLatin1StringView kRequestHead(">>");

// The value of a hex digit, -1 for any other character.
int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

// The bytes of a line of blank-separated hex pairs, from position from on. Read in place:
// a line costs no allocation but its result.
std::string hexBytes(const QString& line, qsizetype from) {
    std::string bytes;
    bytes.reserve(std::size_t((line.size() - from) / 3 + 1));
    for (qsizetype i = from; i + 3 <= line.size(); i += 3) {
        if (line[i] != QLatin1Char(' '))
            break;
        const int high = hexDigit(line[i + 1]);
        const int low = hexDigit(line[i + 2]);
        if (high < 0 || low < 0)
            break;
        bytes.push_back(char(high * 16 + low));
    }
    return bytes;
}

// The counter word of a request or answer text, "" when it has none.
QString counterOf(const std::string& text) {
    const std::string word = GetAnswerWord(1, text);
    return word == "error" ? QString() : QString::fromLatin1(word.data(), qsizetype(word.size()));
}

QString readable(const std::string& bytes) {
    QString text = WidenBytes(bytes);
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('.');
    return text;
}

} // namespace

void RoundTrips::prune(int64_t nowMs) {
    while (!order_.empty() && nowMs - order_.front().first > kWindowMs) {
        auto it = sent_.find(order_.front().second);
        if (it != sent_.end() && it.value() == order_.front().first)
            sent_.erase(it);
        order_.pop_front();
    }
}

void RoundTrips::noteRequest(const QString& counter, int64_t nowMs) {
    prune(nowMs);
    if (counter.isEmpty())
        return;
    sent_.insert(counter, nowMs);
    order_.emplace_back(nowMs, counter);
}

int64_t RoundTrips::since(const QString& counter, int64_t nowMs) {
    prune(nowMs);
    const auto it = sent_.constFind(counter);
    return it == sent_.constEnd() ? -1 : nowMs - it.value();
}

QString TerminalLines::add(const QString& line, int64_t wallMs, int64_t steadyMs) {
    int64_t roundTrip = -1;
    if (line.startsWith(kAnswerHead))
        roundTrip = trips_.since(counterOf(hexBytes(line, kAnswerHead.size())), steadyMs);
    else if (line.startsWith(kRequestHead)) {
        const std::string frame = hexBytes(line, kRequestHead.size());
        if (!frame.empty())
            trips_.noteRequest(counterOf(frame.substr(1)), steadyMs); // after the address byte
    }
    lines_.push_back(line);
    meta_.push_back({wallMs, roundTrip});
    while (maxLines_ > 0 && meta_.size() > std::size_t(maxLines_)) {
        lines_.pop_front();
        meta_.pop_front();
    }
    return show(line, wallMs, roundTrip, switches_);
}

void TerminalLines::clear() {
    lines_.clear();
    meta_.clear();
}

QStringList TerminalLines::shown() const {
    QStringList out;
    out.reserve(qsizetype(meta_.size()));
    for (std::size_t i = 0; i < meta_.size(); ++i)
        out << show(lines_.at(i), meta_[i].wallMs, meta_[i].roundTripMs, switches_);
    return out;
}

QString TerminalLines::show(const QString& line, int64_t wallMs, int64_t roundTripMs,
                            const TerminalSwitches& s) {
    QString out;
    if (s.time)
        out = QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("HH:mm:ss.zzz "));
    const bool answer = line.startsWith(kAnswerHead);
    if (!answer || s.form == TerminalSwitches::Hex)
        out += line;
    else if (s.form == TerminalSwitches::Text)
        out += QStringLiteral("<< ") + readable(hexBytes(line, kAnswerHead.size()));
    else
        out += line + QStringLiteral(" | ") + readable(hexBytes(line, kAnswerHead.size()));
    if (answer && s.roundTrip && roundTripMs >= 0)
        out += QStringLiteral(" +%1 ms").arg(roundTripMs);
    return out;
}

} // namespace rd

#include "link/frames.h"

#include <cstdio>

namespace rd {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

void appendHexByte(std::string& out, uint8_t b) {
    out.push_back(' ');
    out.push_back(kHexDigits[b >> 4]);
    out.push_back(kHexDigits[b & 0x0F]);
}

std::string commandTooLongText(std::size_t length, std::size_t maxLength) {
    return "command too long: " + std::to_string(length) + " characters, at most " +
           std::to_string(maxLength);
}

} // namespace

std::string IntToStr8(int32_t value) {
    // Right-aligned in eight places with blanks, then every blank becomes "0": the sign of a
    // negative number stands after the padding zeros ("000000-5").
    std::string digits = std::to_string(value);
    if (digits.size() < 8)
        digits.insert(0, 8 - digits.size(), '0');
    return digits;
}

std::string GetAnswerWord(int n, std::string_view answer) {
    if (answer.empty() || answer.front() != ':' || answer.back() != ';')
        return "error";
    if (n < 1)
        return "";
    int seen = 0;
    for (std::size_t i = 1; i < answer.size(); ++i) {
        const char prev = answer[i - 1];
        const char c = answer[i];
        if ((prev != ':' && prev != ' ') || c == ':' || c == ' ')
            continue;
        if (++seen != n)
            continue;
        if (c == ';')
            return "";
        std::size_t end = i;
        while (end < answer.size() && answer[end] != ' ' && answer[end] != ';')
            ++end;
        return std::string(answer.substr(i, end - i));
    }
    return "";
}

namespace {

template <typename Char>
bool findNarrowed(const uint8_t* buf, int length, std::basic_string_view<Char> pattern) {
    const std::size_t m = pattern.size();
    // A pattern longer than the counted bytes is never found; a negative count is shorter
    // than any pattern, the empty one included.
    if (length < 0 || m > static_cast<std::size_t>(length))
        return false;
    if (m == 0)
        return true;
    if (buf == nullptr)
        return false;
    const std::size_t last = static_cast<std::size_t>(length) - m;
    for (std::size_t p = 0; p <= last; ++p) {
        std::size_t k = 0;
        while (k < m && buf[p + k] == static_cast<uint8_t>(pattern[k] & 0xFF))
            ++k;
        if (k == m)
            return true;
    }
    return false;
}

} // namespace

bool FindStrInBuf(const uint8_t* buf, int length, std::u16string_view pattern) {
    return findNarrowed(buf, length, pattern);
}

bool FindStrInBuf(const uint8_t* buf, int length, std::string_view pattern) {
    return findNarrowed(buf, length, pattern);
}

CommandTooLong::CommandTooLong(std::size_t length, std::size_t maxLength)
    : std::runtime_error(commandTooLongText(length, maxLength)) {}

std::size_t MaxCommandLength(int32_t counter) {
    // The text part is ":" counter " " command ";" and must fit the block after the address byte.
    const std::size_t textRoom = kFrameBlockSize - 1;
    return textRoom - 3 - IntToStr8(counter).size();
}

RequestFrame ComposeRequest(int addr, int32_t counter, std::u16string_view command) {
    const std::size_t maxLength = MaxCommandLength(counter);
    if (command.size() > maxLength)
        throw CommandTooLong(command.size(), maxLength);

    std::string text;
    text.reserve(command.size() + 12);
    text.push_back(':');
    text += IntToStr8(counter);
    text.push_back(' ');
    for (char16_t ch : command)
        text.push_back(static_cast<char>(ch & 0xFF));
    text.push_back(';');

    RequestFrame frame;
    char addrHex[16];
    std::snprintf(addrHex, sizeof addrHex, "%02X", static_cast<uint32_t>(addr));
    frame.sendLogLine = addrHex + text;

    frame.bytes.reserve(text.size() + 1);
    frame.bytes.push_back(static_cast<uint8_t>(addr & 0xFF));
    frame.bytes.insert(frame.bytes.end(), text.begin(), text.end());

    frame.terminalLine = ">>";
    frame.terminalLine.reserve(2 + 3 * frame.bytes.size());
    for (uint8_t b : frame.bytes)
        appendHexByte(frame.terminalLine, b);
    return frame;
}

std::string AnswerTerminalLine(const uint8_t* bytes, int count) {
    std::string line = "<< 00";
    if (bytes == nullptr || count <= 0)
        return line;
    line.reserve(line.size() + 3 * static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        appendHexByte(line, bytes[i]);
    return line;
}

bool AnswerCutter::feed(uint8_t byte) {
    if (mode_ == Held)
        return false; // nothing is examined while an answer waits to be taken
    if (byte < 16) {
        mode_ = Hunting;
        return false;
    }
    if (mode_ == Hunting) {
        if (byte == ':') {
            buf_[0] = byte;
            count_ = 1;
            mode_ = Collecting;
        }
        return false;
    }
    buf_[count_++] = byte;
    if (byte == ';' || count_ >= kMaxAnswerSize) {
        mode_ = Held;
        return true;
    }
    return false;
}

} // namespace rd

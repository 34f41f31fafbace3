// Wire frames of the reader protocol: request composition, answer cutting and the
// small text helpers the handlers use to take answers apart. Pure code, no I/O.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rd {

// Answer texts and echo lines are byte strings: one char per byte, the byte's value
// being the character code (Latin-1). Command texts come from the window as UTF-16
// and are narrowed to the low 8 bits of each code unit when they are framed.

// Decimal, left-padded with "0" to 8 characters; longer numbers are written whole.
std::string IntToStr8(int32_t value);

// Word n (from 1) of an answer text; "" when there is no such word; "error" when the
// text is not a frame (empty, not starting with ':' or not ending with ';').
std::string GetAnswerWord(int n, std::string_view answer);

// Whether pattern (each character narrowed to its low 8 bits) occurs within the
// first `length` bytes of buf. An empty pattern is found at once.
bool FindStrInBuf(const uint8_t* buf, int length, std::u16string_view pattern);
bool FindStrInBuf(const uint8_t* buf, int length, std::string_view pattern);

// A frame is assembled in a block of this many bytes: the address byte and the text part.
constexpr int kFrameBlockSize = 1001;
constexpr int kMaxAnswerSize = 1024;

// Raised when a command would not fit the frame block; nothing has been sent then.
class CommandTooLong : public std::runtime_error {
  public:
    CommandTooLong(std::size_t length, std::size_t maxLength);
};

struct RequestFrame {
    std::vector<uint8_t> bytes; // address byte, ':', counter, ' ', command, ';'
    std::string sendLogLine;    // "01:00000001 VERSION;"
    std::string terminalLine;   // ">> 01 3A 30 ..."
};

// The longest command text that fits with the given counter value.
std::size_t MaxCommandLength(int32_t counter);

// Compose the request frame for net address addr, counter value (already raised) and
// command text. Throws CommandTooLong when the text part exceeds the frame block.
RequestFrame ComposeRequest(int addr, int32_t counter, std::u16string_view command);

// "<< 00" followed by " XX" for every byte: the terminal line of a received answer.
std::string AnswerTerminalLine(const uint8_t* bytes, int count);

// The answer cutter, fed one byte at a time. It writes into caller-owned storage so
// that the receiver thread can keep its fields (buffer, count, mode) where they belong.
class AnswerCutter {
  public:
    enum Mode : int32_t { Hunting = 0, Collecting = 1, Held = 2 };

    AnswerCutter(uint8_t* buffer, int32_t& count, int32_t& mode) : buf_(buffer), count_(count), mode_(mode) {}

    // Feed one byte; returns true when this byte completed a frame (mode is then Held).
    // Must not be called while Held.
    bool feed(uint8_t byte);
    // The user-interface side has taken the held frame: hunt for the next one.
    void release() { mode_ = Hunting; }

  private:
    uint8_t* buf_;
    int32_t& count_;
    int32_t& mode_;
};

} // namespace rd

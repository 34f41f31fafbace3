// Recorded sessions read back: a traffic log (the window's or readerdesk-cli's --traffic-log:
// "yyyy-MM-dd hh:mm:ss.zzz " before every request ">> 01 3A ...", answer "<< 00 3A ..." and
// message) or the output of readerdesk-cli monitor ("hh:mm:ss.zzz " before every answer, as
// text or as hexadecimal bytes; lines without a time are its messages, when standard error
// went to the same file). The simulator plays them again, the command line tallies them, the
// window shows them. Plain C++, no Qt.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rd::proto {

enum class RecordedKind { Request, Answer, Message };

struct RecordedLine {
    RecordedKind kind = RecordedKind::Message;
    int line = 0; // in the file, from 1
    // The time written in front, in milliseconds since 1970-01-01 00:00 of the clock that wrote
    // it (no time zone). Monitor output has the time of day only: its first day is 1970-01-01,
    // and a time of day more than 12 hours before the line above begins the next day. A
    // message without a time has the time of the line above.
    int64_t ms = 0;
    // Request: the frame ':' through ';' (the net address apart); Answer: the bytes received;
    // Message: the text as written (UTF-8).
    std::string bytes;
    int address = 0;     // Request: the net address
    std::string counter; // Request: the counter digits
    std::string command; // Request: the text between the counter's blank and ';'
};

enum class RecordingForm { TrafficLog, Monitor };

struct Recording {
    RecordingForm form = RecordingForm::TrafficLog;
    std::vector<RecordedLine> lines;
    // Whether the times carry the date (a traffic log) or only the time of day (monitor output).
    bool dated() const { return form == RecordingForm::TrafficLog; }
};

// A file that is no recording or a damaged one: what() is "line N: why" (or, for a file that
// cannot be read, the system's reason); line() is 0 then.
class RecordingError : public std::runtime_error {
  public:
    RecordingError(int line, const std::string& why);
    int line() const { return line_; }

  private:
    int line_;
};

// Reads a recording from its text. Throws RecordingError for the first line that is neither
// of the form the file began with nor blank, and for a file without any line in front of which
// stands a time.
Recording ParseRecording(std::string_view text);
// The same from a file; an unreadable file gives RecordingError with the system's reason.
Recording ReadRecording(const std::string& path);

// The answer frame in received bytes: ':' through the first ';' after it; "" when there is none.
std::string_view AnswerFrame(std::string_view bytes);
// Word n (from 1) of a frame ':' ... ';' split at blanks; "" when there is none.
std::string FrameWord(int n, std::string_view frame);
// The keyword of a request's command text: its first word ("" for a blank text).
std::string CommandKeyword(std::string_view command);
// The frame with word 1 (the counter) replaced; a frame without word 1 as it is.
std::string WithCounter(std::string_view frame, std::string_view counter);

// The first answer whose word 2 is "VERSION": the reply to the identifier probe; nullptr when
// the recording holds none.
const RecordedLine* IdentifierReply(const Recording& r);

} // namespace rd::proto

// One connection of readerdesk-cli to a reader, on the same connection core as the window
// (ReaderConnection): found by the probes (on the port given, or on COM1 to COM20), then
// commands sent and answers taken one at a time. What is said goes to standard error and
// the traffic log.
#pragma once

#include "cli/cli_options.h"
#include "cli/cli_output.h"

#include "link/discovery.h"
#include "link/reader_connection.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace rd::cli {

using Clock = std::chrono::steady_clock;

// The reader kinds a command can work with.
struct ReaderWanted {
    std::function<bool(ReaderGroup)> accepts; // empty: any reader
    const char* name = "";                    // "900 MHz reader", for the messages
};

// How a wait for answers ended.
enum class WaitEnd {
    Deadline,    // the time was up
    Done,        // the answer handler said so
    Interrupted, // a stop request (Ctrl+C) came
    Lost,        // the connection is lost
};

// "900 MHz", "433 MHz", ...
const char* GroupName(ReaderGroup g);

class Session {
  public:
    Session(const CliOptions& options, Output& out, TrafficLog& log);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Finds and connects the reader; false, with the reason said, when there is none.
    // announce: say which reader was found (on standard error).
    bool connect(const ReaderWanted& wanted, bool announce = true);

    // The reader found: its row (nullptr with --no-probe), port and settings text.
    const ReaderRow* row() const { return row_; }
    const std::string& port() const { return link_.port(); }
    const std::string& settings() const { return link_.settingsText(); }
    // The first answer in the reply of the probe that found the reader (":00000001 VERSION
    // VKR900-15;"), without the bytes around it; "" when the reply holds no whole answer.
    std::string probeAnswer() const;

    // Sends one command text (UTF-8, narrowed as the window narrows) to the net address of
    // the options. Throws CommandTooLong when it does not fit a frame. False, with the cause
    // said, when the write failed.
    bool send(const std::string& command);

    // Takes answers until `until`, handing each to onAnswer (false: enough). A stop request
    // beyond the first `requestsSeen` ends the wait (-1: none does).
    WaitEnd pump(Clock::time_point until, const std::function<bool(const std::string&)>& onAnswer,
                 int requestsSeen = 0);

    // A message on standard error and in the traffic log.
    void note(const std::string& text);

    // Bytes the receiver had to drop since the connection was made (its receive buffer was
    // full): the answers they held are missing. Kept when the connection is lost.
    uint64_t lostBytes();
    // lostBytes(), said (standard error and traffic log) when not 0.
    uint64_t reportLostBytes();

  private:
    bool probe(const std::string& portName, const ReaderWanted& wanted, bool& cancelled);
    bool openWithoutProbe();
    std::optional<std::string> takeAnswer(uint32_t waitMs);

    const CliOptions& options_;
    Output& out_;
    TrafficLog& log_;
    ReaderConnection link_;
    const ReaderRow* row_ = nullptr;
    uint64_t lostBytes_ = 0;
};

} // namespace rd::cli

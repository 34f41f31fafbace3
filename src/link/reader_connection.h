// ReaderConnection: the life of one connection to a reader, without a window. It owns the port
// object and the receiver thread: the probes of a port (discovery), an open without them, the
// commands sent and the answers taken, a lost connection and the attempts to bring it back, the
// stop of an inventory left running when it closes. The window and readerdesk-cli are two views
// of it; each polls it from one thread of its own (the owner) and shows what it says.
//
// Threads: the probes run on the owner's thread with their own pacing; a connect that may block
// (a name look-up, a TCP connect) runs on a thread of its own while the owner waits, served by
// the probe hooks; reconnect attempts run on a thread of their own, and their echo lines reach
// the sinks on the owner's thread, at the next poll.
#pragma once

#include "link/discovery.h"
#include "link/my_com.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace rd {

class TCOM_A;

// What a poll found, for the front end to show.
struct LinkNews {
    enum Kind {
        Nothing,
        Lost,        // the connection is lost: nothing is sent; attempts to reopen it follow
        Reconnected, // an attempt succeeded: answers come again
        GaveUp,      // no further attempts (another client holds a TCP port)
    };
    Kind kind = Nothing;
    // "COM3: connection lost", "tcp://HOST:PORT: connection lost (closed by the server)",
    // "COM3: reconnected", "tcp://HOST:PORT: another client holds it; press NET to take it back".
    std::string line;
};

// When a lost connection is tried again, counted from the start of the attempt before (the
// loss for the first): a serial port every second; a TCP port after 1, 2, 4, 8, 16 s, then
// every 30 s.
std::chrono::milliseconds ReconnectDelay(const std::string& port, int attemptsMade);

// A TCP connection the server closes again within this time of accepting it again was taken
// over by another client: no further attempts are made.
inline constexpr std::chrono::seconds kTakenOverWithin{10};

// The end of an inventory run's stop: "EPC_STOP" now and again on every tick until the reader
// confirms, for at most kGiveUp from the first.
class BoundedStop {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kGiveUp{3000};

    // The first "EPC_STOP" went out at now; a further one while pending keeps the first time.
    void begin(Clock::time_point now) {
        if (!pending_)
            since_ = now;
        pending_ = true;
    }
    bool pending() const { return pending_; }
    bool expired(Clock::time_point now) const { return pending_ && now - since_ >= kGiveUp; }
    // Confirmed, given up or failed.
    void end() { pending_ = false; }

  private:
    bool pending_ = false;
    Clock::time_point since_{};
};

class ReaderConnection {
  public:
    // sendLog and terminal receive the echo lines of every command sent (the probes' too),
    // always on the owner's thread (those of a reconnect attempt at the poll after it).
    explicit ReaderConnection(LineSink sendLog = {}, LineSink terminal = {});
    // close().
    ~ReaderConnection();
    ReaderConnection(const ReaderConnection&) = delete;
    ReaderConnection& operator=(const ReaderConnection&) = delete;

    // --- Making the connection ---

    // Ends what there is (close()), then probes portName for each identifier in order
    // (ProbePort: one TCP connection for all of a port's probes, the open beside the caller
    // while hooks.beforeProbe is asked). On a match the port stays open and start() begins the
    // receiving. Throws PortSetupError (the port closed again) as the probes do.
    PortProbeResult probe(const std::string& portName, const PortProbeHooks& hooks = {});
    // Starts the receiver on the port the last probe found.
    void start();
    // Ends what there is, then opens portName with the usual line settings, without probes, and
    // starts the receiver (a reader of any identifier). The cause when it does not open; throws
    // PortSetupError (the port closed again) when it cannot be purged.
    PortError open(const std::string& portName);

    // --- What there is ---

    // The receiver runs.
    bool connected() const;
    // Lost, and attempts to reopen it go on (or have given up).
    bool lost() const { return state_ == State::Lost || state_ == State::GaveUp; }
    bool gaveUp() const { return state_ == State::GaveUp; }
    // Attempts to reopen a lost connection that have ended since the loss.
    int attemptsMade() const { return attemptsMade_; }
    // Made by open(), without identification (it comes back the same way).
    bool manual() const { return manual_; }
    // The row of the reader found (connected or lost); null otherwise.
    const ReaderRow* row() const { return row_; }
    // The port name and its settings text ("COM3: baud=115200 ..."), of the connection there
    // is, or of the last probe.
    const std::string& port() const { return com_.CommPort; }
    const std::string& settingsText() const { return com_.CommPortStr; }
    // The request counter of the last frame composed.
    int32_t commandCounter() const { return com_.NUM_COMMAND; }
    // The reply bytes of the last probe.
    const std::vector<uint8_t>& probeReply() const { return lastProbeReply_; }
    // The receiver's figures, since it started (0 while there is none).
    uint64_t droppedBytes() const;
    uint64_t failedReads() const;
    PortError lastReadError() const;

    // --- Traffic ---

    // Composes and writes one command to the net address addr (echo lines first). Throws
    // CommandTooLong (nothing echoed, written or counted). Without a connection nothing is
    // sent: err ENOTCONN, "not connected". A start of an inventory run and its end are noted.
    PortError send(int addr, const std::u16string& text);
    // The next answer within waitMs, already released to the receiver; none without a
    // connection.
    std::optional<std::string> take(uint32_t waitMs);

    // --- Loss, reconnect and close ---

    // Looks at the receiver and at a reconnect attempt under way; flushes the echo lines of
    // attempts. Call it regularly from the owner's thread (the window's timer, the CLI's wait).
    LinkNews poll();
    // An inventory start went out and the reader has not confirmed its end since.
    bool runUnconfirmed() const { return runUnconfirmed_; }
    // The address of that run's start.
    int runAddress() const { return runAddress_; }
    // Ends the connection: "EPC_STOP" once to the run's address when a run is unconfirmed and
    // the receiver runs, the receiver stopped and joined, the port closed (its lock released),
    // reconnecting ended. The request counter runs on.
    void close();

  private:
    enum class State { Closed, Found, Connected, Lost, GaveUp };
    struct Attempt;

    void echo(bool terminal, const std::string& line);
    void startReceiver();
    void stopReceiver();
    void closePort();
    void noteSent(int addr, const std::u16string& text);
    void noteAnswer(const std::string& answer);
    LinkNews onLost();
    void launchAttempt();
    LinkNews finishAttempt();

    LineSink sendLog_;
    LineSink terminal_;
    Tmy_COM com_;
    std::unique_ptr<TCOM_A> receiver_;
    State state_ = State::Closed;
    bool manual_ = false;
    const ReaderRow* row_ = nullptr;
    std::vector<uint8_t> lastProbeReply_;
    // Inventory runs: started and not confirmed since, to this address.
    bool runUnconfirmed_ = false;
    int runAddress_ = 1;
    // Reconnecting: attempts made since the loss, when the next one is due, the attempt under
    // way, and when the connection was last made again (to tell a take-over).
    int attemptsMade_ = 0;
    std::chrono::steady_clock::time_point nextAttempt_{};
    std::shared_ptr<Attempt> attempt_;
    std::thread attemptThread_;
    std::optional<std::chrono::steady_clock::time_point> reconnectedAt_;
};

} // namespace rd

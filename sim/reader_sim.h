// The reader simulator: one simulated reader on a pseudo-terminal, for the tests, the
// benchmarks and scripts/run.
//
// A ReaderSim creates a pty in raw mode, keeps a descriptor of its slave side open (so the
// program under test may open and close the slave path as often as it likes without the
// master seeing a hang-up), publishes the slave as DIR/COMn (a symlink to /dev/pts/N) and
// answers request frames on its own thread the way one kind of reader does:
//
//   - "VERSION": ":<counter> VERSION <identifier>;" for every identifier, known or not.
//   - 900 MHz kinds ("VKR900-15", "VKR900-12", "VKR900-153"):
//       "KELM_EPC_INVENTORY_TIME q c n" starts inventory cycles. Each cycle is one
//       ":<counter> START_INVENTORY;" and then one ":<counter> INV <antenna> <pc> <EPC> <rssi>;"
//       per tag in the field, until "EPC_STOP", confirmed with ":<counter> STOP_INVENTORY;".
//       <counter> is that of the run's start request, <antenna> is 1, <pc> the tag's protocol
//       control word (four hex digits: the EPC's length in 16-bit words, times 0x800) and
//       <rssi> the tag's signal strength (-50, -53, ... -71, -50, ... by its place in the
//       field). A tag thus answers with the same text in every cycle of a run, as a tag
//       that stays put does. With varySignal the strength moves by 1 from one read of the
//       tag to the next (at most 3 away from its level), so the texts differ from read to
//       read.
//       "SET_ATT_OUT <dB>" sets the output attenuation (answered "OK"): a tag is left out
//       of the cycles while it is above the tag's margin (tagMargins below).
//   - 433 MHz kinds ("VKR433-16", "VKR433-SAW"):
//       "SEND_COP_COLLECTION ..." gives ":<counter> collection_start..;" and, collectionMs
//       later, ":<counter> collection_stop;".
//       "SEND_COP_READ_USER_ID EEEE FEDCBAF0" (words, any spacing) gives
//       ":<counter> UID <record>;" for a tag in sensorTags, ":<counter> NO_ACK;" otherwise.
//       The record (word 3) has, counted from 1: the tag id "EEEE-FEDCBAF0" at 1-13, T as two
//       hex digits at 23-24, H at 25-26, the mf offset (kHz above 430000) as four hex digits
//       at 31-34 and the cf offset at 35-38; it is 40 characters long. The readings drift
//       slowly from read to read (at most 1 per read for T and H).
//   - Everything else: ":<counter> OK;".
// <counter> echoes the counter text of the request that caused the answer (for the test's
// own sendAnswer() and the flood: the counter of the last request, "00000000" before any).
//
// Requests are recorded byte for byte (address byte through ";"). The simulator's thread
// never blocks on the pty: delays and gaps are scheduled, so requests keep being read and
// recorded while an answer waits. All public methods are thread-safe.
// What the reader does lives in ReaderCore (reader_core.h); this class runs it on the pty.
#pragma once

#include "sim/replay.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rd::sim {

class TcpBridge;

// What a simulated reader does, chosen by its identifier.
enum class ReaderGroup {
    Uhf900,    // "VKR900-15", "VKR900-12", "VKR900-153": inventories
    Sensor433, // "VKR433-16", "VKR433-SAW": collections, user-id reads
    Plain,     // "WG", "K7000" and any other text: VERSION and "OK" only
};
ReaderGroup GroupOf(const std::string& identifier);

struct Options {
    std::string identifier = "VKR900-15";
    // Directory in which the pty is published as COM<comNumber>; empty: not published.
    std::string portDir = {};
    int comNumber = 3;
    // The pty also served on this TCP port of 127.0.0.1, as a serial device server does
    // (see tcp_bridge.h); 0: a free port the system chooses; -1: no TCP.
    int tcpPort = -1;

    // Timing and faults of every answer.
    int replyDelayMs = 0;  // from a request to the first byte of its answer
    int splitParts = 1;    // each answer written in this many pieces...
    int splitGapMs = 0;    // ...with this gap between two pieces
    int pauseInsideMs = 0; // one pause of this length in the middle of each answer
    bool crlf = true;      // CR LF after each answer's ";"
    bool garbage = false;  // a few stray bytes (never ':' or ';') before each answer
    bool silent = false;   // records requests, never answers them
    // Close the master once the answer to the N-th request has been written and read by the
    // program (at most 2 s later), as hangUp() does; 0: the port is gone from the start.
    // -1: never.
    int hangUpAfterRequests = -1;

    // 900 MHz kinds: the tags in the field. With epcs empty, tagCount tags with the EPCs
    // 3008000000000001, 3008000000000002, ...
    int tagCount = 3;
    std::vector<std::string> epcs = {};
    // The highest output attenuation, in dB, at which each tag is still read: in a cycle a
    // tag answers only while the attenuation ("SET_ATT_OUT <dB>", 0 until one comes) is at
    // most its margin. Empty: the margins spread evenly from 4 to 18 dB over the tags in
    // field order, rounded to whole dB (one tag: 18). A tag beyond the list gets 18.
    std::vector<int> tagMargins = {};
    // First cycle at once (after replyDelayMs), then one every cyclePeriodMs. Cycles that
    // fall due while 64 KiB of output wait unread are skipped.
    int cyclePeriodMs = 50;
    // The signal strength of a tag moves from read to read (see above).
    bool varySignal = false;
    // The stopConfirmAfter-th "EPC_STOP" (counted since the run began or since the last
    // stop) ends the run; earlier ones are ignored as if lost. The end is confirmed with
    // "STOP_INVENTORY" unless confirmStop is false.
    int stopConfirmAfter = 1;
    bool confirmStop = true;

    // 433 MHz kinds.
    int collectionMs = 200; // from "collection_start.." to "collection_stop"
    std::vector<std::string> sensorTags = {"EEEE-FEDCBAF0", "EEEE-FEDCBAF1", "EEEE-FEDCBAF2"};

    // A recorded session to play instead of the reader's own answers (see replay.h); the
    // answer options above (delay, split, CR LF...) apply to its answers too.
    std::shared_ptr<const proto::Recording> replay = {};
    ReplayOptions replayOptions = {};
};

class ReaderSim {
  public:
    // Creates the pty, publishes it and starts the thread. Throws std::system_error when
    // the pty or the symlink cannot be made.
    explicit ReaderSim(Options options = {});
    // Stops the thread, closes the pty and removes the symlink (if it is still ours).
    ~ReaderSim();
    ReaderSim(const ReaderSim&) = delete;
    ReaderSim& operator=(const ReaderSim&) = delete;

    const Options& options() const;
    std::string slavePath() const; // "/dev/pts/N"
    std::string comName() const;   // "COM<comNumber>"
    std::string portPath() const;  // "<portDir>/COM<comNumber>", or "" when not published
    // "tcp://127.0.0.1:<port>" when the reader is served on TCP, else "".
    std::string tcpPortName() const;

    // Every request frame received so far, in order, byte for byte.
    std::vector<std::vector<uint8_t>> requests() const;
    // The command texts of those requests (the bytes between the counter's blank and ";").
    std::vector<std::string> commands() const;
    size_t requestCount() const;
    // Waits until at least n requests have arrived; false at the deadline.
    bool waitForRequests(size_t n, int timeoutMs) const;

    // Answer frames completely written to the pty, ":" through ";" (the flood's excepted;
    // the latest 100000).
    std::vector<std::string> answers() const;
    // Count of answer frames completely written, the flood's included.
    uint64_t answersSent() const;
    bool waitForAnswersSent(uint64_t n, int timeoutMs) const;

    // Writes bytes as they are, after anything already queued. After a hang-up the two
    // sends do nothing.
    void sendRaw(std::string bytes);
    // Writes ":<counter> " + keywordAndArgs + ";" with the answer options (split, crlf...).
    void sendAnswer(const std::string& keywordAndArgs);

    // Closes the master at once (queued output is dropped) and removes the symlink: the
    // program under test sees what an unplugged adapter looks like. Returns when done.
    void hangUp();
    bool hungUp() const;

    // Flood: inventory answers (cycles of START_INVENTORY and one INV per tag) back to back,
    // as fast as the pty takes them, with the counter of the last request. answersSent()
    // counts them.
    void startFlood();
    void stopFlood();

    bool inventoryRunning() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<TcpBridge> bridge_;
};

// A new private port directory under /tmp (mkdtemp); the caller removes it.
std::string MakeTempPortDir();

// A private port directory that removes itself (and what is left in it) when it goes.
class TempPortDir {
  public:
    TempPortDir();
    ~TempPortDir();
    TempPortDir(const TempPortDir&) = delete;
    TempPortDir& operator=(const TempPortDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

} // namespace rd::sim

// What a simulated reader does, step by step, without a pty, a thread or a clock of its own.
//
// Requests go in with the time they arrived (receive). tick(now) does what is due at that
// time: inventory cycles, the ends of collections, the flood's next batch, answer pieces
// whose delay or gap has passed (written to a Line as far as it takes them) and the
// hang-up after the last request; it returns when it next needs to run. ReaderSim drives
// it from its thread on a pty; the tests drive it with a clock of their own.
//
// Answer timing: a piece's delay (replyDelayMs before an answer's first piece, splitGapMs
// or pauseInsideMs before a later one) starts when the piece is first in line at a tick,
// that is when everything queued before it has been written.
//
// Not thread-safe: ReaderSim calls it with its mutex held.
#pragma once

#include "sim/reader_sim.h"
#include "sim/replay.h"
#include "sim/request_parser.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rd::sim {

using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;

// Where a reader's answers go: the pty's master side, or a buffer in the tests.
class Line {
  public:
    virtual ~Line() = default;
    // Takes up to size bytes and returns how many it took; 0 when it takes none for now.
    virtual size_t write(const char* data, size_t size) = 0;
    // True while bytes written earlier still wait for the program to read them.
    virtual bool unread() = 0;
};

// When tick wants to run again: at `at` at the latest (never, when empty) and, with
// whenWritable, as soon as the line takes more bytes. Bytes from the program call for a
// tick too.
struct NextTick {
    std::optional<SimTime> at;
    bool whenWritable = false;
};

class ReaderCore {
  public:
    explicit ReaderCore(Options options);

    // Bytes from the program: each request completed by them is recorded and answered (the
    // answer queued, an inventory run or a collection started) as of now.
    void receive(const uint8_t* data, size_t size, SimTime now);
    // Does what is due at now, writes it to line, and says when to run again.
    NextTick tick(SimTime now, Line& line);

    // Queue bytes as they are, or ":<counter> " + keywordAndArgs + ";" with the answer
    // options, after anything already queued; nothing after a hang-up.
    void sendRaw(std::string bytes);
    void sendAnswer(const std::string& keywordAndArgs);
    void startFlood();
    void stopFlood();
    // Drops what is queued and stops answering: the line is gone.
    void hangUp();

    const Options& options() const { return opt; }
    bool hungUp() const { return closed; }
    bool inventoryRunning() const { return running; }
    const std::vector<std::vector<uint8_t>>& requests() const { return requestLog; }
    const std::vector<std::string>& commands() const { return commandLog; }
    const std::deque<std::string>& answers() const { return answerLog; }
    uint64_t answersSent() const { return sent; }

  private:
    // One piece of output: written when it is first in the queue and its gap has passed.
    struct Chunk {
        std::string bytes;
        int gapBeforeMs = 0;
        size_t written = 0;
        std::optional<SimTime> due;
        // Offsets just past the ";" of each answer frame in bytes, with the frame's text
        // (empty text: not recorded, as for the flood).
        std::vector<std::pair<size_t, std::string>> frameEnds;
    };

    // Requests.
    void Handle(const Request& req, SimTime now);
    void Answer(const Request& req, SimTime now);
    // What is due at a tick.
    void QueueDueCycle(SimTime now);
    void QueueEndedCollections(SimTime now);
    void QueueFloodBatch();
    void QueueReplay(SimTime now);
    void WriteDue(SimTime now, Line& line);
    void HangUpWhenRead(SimTime now, Line& line);
    NextTick Next(SimTime now) const;
    // Output.
    void Enqueue(Chunk c);
    void QueueAnswer(const std::string& counter, const std::string& text, int delayMs);
    void QueueFrame(const std::string& frame, int delayMs);
    void QueueCycle(const std::string& counter, std::string* out, int* frames);
    std::string TagWords(size_t i);
    std::string UidRecord(const std::string& tag);

    Options opt;
    ReaderGroup group;
    RequestParser parser;

    std::vector<std::vector<uint8_t>> requestLog;
    std::vector<std::string> commandLog;
    std::deque<std::string> answerLog;
    uint64_t sent = 0;
    std::deque<Chunk> queue;
    size_t queuedBytes = 0;
    std::string lastCounter = "00000000";

    bool closed = false;
    bool hangUpWhenDrained = false;
    std::optional<SimTime> drainDeadline;
    bool flooding = false;

    // Inventory run.
    bool running = false;
    std::string runCounter;
    int stopCount = 0;
    SimTime nextCycle;
    std::vector<std::string> epcs;
    // Reads of each tag since the run began (for varySignal).
    std::vector<int> tagReads;
    // The output attenuation, and the highest at which each tag is read.
    int attenuation = 0;
    std::vector<int> margins;

    // Collections in progress: when each ends, and the counter text to answer with.
    std::vector<std::pair<SimTime, std::string>> collections;
    std::map<std::string, int> sensorReads;

    // The recording played instead (opt.replay).
    std::unique_ptr<ReplayPlayer> player;
};

} // namespace rd::sim

// A recorded session played again by the simulator (readerdesk-sim --replay FILE): the reader
// answers as the recording says, with its timing.
//
//   - "VERSION" (the identifier probe) is answered with the recorded identifier reply (the first
//     answer whose word 2 is "VERSION"); without one, with the simulator's identifier.
//   - A request whose command text the recording holds is answered with the answers recorded
//     after it up to the next request, each as long after the request as it was there (divided
//     by the speed). The n-th such request plays the n-th recorded one, and after the last the
//     first again. Word 1 of each answer is the counter of the request that stands in for the
//     recorded one it names; an answer naming no request replayed gets the counter of the
//     request answered. Answers still due from an earlier request are dropped: in the
//     recording, none came after this request either.
//   - Other requests are ignored.
//   - Answers recorded before any request (all of them in monitor output, apart from the
//     identifier reply) play once the identifier probe is answered (or at the first request),
//     with their counters as recorded.
//   - With loop, those, and the answers of an inventory start (those holding a
//     "START_INVENTORY"), start over when they run out, as a reader keeps reading until stopped.
//   - Speed 0: as fast as the line takes them, a batch whenever the line has taken the one before.
// Each request is told to the log function: what answers it.
#pragma once

#include "protocol/recording.h"
#include "sim/request_parser.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rd::sim {

struct ReplayOptions {
    double speed = 1.0; // 0: as fast as the line allows
    bool loop = false;
    std::function<void(const std::string&)> log = {};
};

class ReplayPlayer {
  public:
    using Time = std::chrono::steady_clock::time_point;

    // identifier: for the probe's answer when the recording holds no identifier reply.
    ReplayPlayer(const proto::Recording& recording, ReplayOptions options, const std::string& identifier);

    // A request arrived at now.
    void request(const Request& req, Time now);
    // The answer frames (':' through ';') due at now, in order. lineIdle: everything handed out
    // before has been written (a batch at speed 0 waits for it).
    std::vector<std::string> due(Time now, bool lineIdle);
    // When the next answer falls due; nothing when none waits or (at speed 0) only the line.
    std::optional<Time> next() const;
    // At speed 0: answers wait for the line to take those before.
    bool waitsForLine() const;

    // What the recording holds, for the start-up line.
    std::size_t exchanges() const;
    std::size_t freeAnswers() const { return free_.answers.size(); }
    const std::string& identifierReply() const { return identifier_; }

  private:
    struct Answer {
        int64_t ms; // recorded time
        std::string frame;
    };
    // A recorded request with the answers that followed it.
    struct Exchange {
        int line = 0;
        int64_t ms = 0;
        std::string counter;
        std::vector<Answer> answers;
        bool loops = false;
    };
    // What is playing: answers of an exchange (or the free ones) from a start time on.
    struct Playing {
        const Exchange* from = nullptr;
        Time start;
        std::size_t nextAnswer = 0;
        int64_t round = 0;
        std::string counter; // for answers naming no request replayed; "" keeps theirs
    };

    Time dueTime(const Playing& p) const;
    int64_t roundMs(const Exchange& e) const;
    std::string renumbered(const std::string& frame, const std::string& fallback) const;
    void say(const std::string& text) const;

    ReplayOptions opt_;
    std::string identifier_; // a frame; its counter is replaced
    std::map<std::string, std::vector<Exchange>> byCommand_;
    std::map<std::string, std::size_t> uses_;
    Exchange free_;
    bool freeStarted_ = false;
    std::map<std::string, std::string> counters_; // recorded counter -> the replayed request's
    std::optional<Playing> playing_;
    std::optional<Playing> freePlaying_;
    std::vector<std::string> pendingNow_; // identifier replies, due at once
};

} // namespace rd::sim

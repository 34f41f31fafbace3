#include "sim/replay.h"

#include <algorithm>

namespace rd::sim {

namespace {

// At most this many bytes of answers are handed out by one call, so that a long lag or a
// high speed cannot pile up the whole recording at once.
constexpr std::size_t kBatchBytes = 8192;

} // namespace

ReplayPlayer::ReplayPlayer(const proto::Recording& recording, ReplayOptions options,
                           const std::string& identifier)
    : opt_(std::move(options)) {
    const proto::RecordedLine* reply = proto::IdentifierReply(recording);
    identifier_ =
        reply ? std::string(proto::AnswerFrame(reply->bytes)) : ":00000000 VERSION " + identifier + ";";

    // Where the answers read go: the free ones before any request, then the latest request's.
    std::vector<Exchange>* into = nullptr;
    bool skipping = false; // after a VERSION request: its reply is the identifier's
    for (const proto::RecordedLine& l : recording.lines) {
        if (l.kind == proto::RecordedKind::Request) {
            skipping = proto::CommandKeyword(l.command) == "VERSION";
            if (skipping)
                continue;
            into = &byCommand_[l.command];
            into->push_back(Exchange{l.line, l.ms, l.counter, {}, false});
            continue;
        }
        if (l.kind != proto::RecordedKind::Answer || skipping)
            continue;
        const std::string frame(proto::AnswerFrame(l.bytes));
        if (frame.empty() || proto::FrameWord(2, frame) == "VERSION")
            continue;
        Exchange& e = into ? into->back() : free_;
        if (!into && e.answers.empty())
            e.ms = l.ms;
        e.answers.push_back(Answer{l.ms, frame});
        if (opt_.loop && (!into || proto::FrameWord(2, frame) == "START_INVENTORY"))
            e.loops = true;
    }
}

std::size_t ReplayPlayer::exchanges() const {
    std::size_t n = 0;
    for (const auto& [command, list] : byCommand_)
        n += list.size();
    return n;
}

void ReplayPlayer::say(const std::string& text) const {
    if (opt_.log)
        opt_.log(text);
}

void ReplayPlayer::request(const Request& req, Time now) {
    const std::string shown = "request :" + req.counter + " " + req.command + ";";
    if (!freeStarted_) {
        freeStarted_ = true;
        if (!free_.answers.empty())
            freePlaying_ = Playing{&free_, now, 0, 0, {}};
    }
    if (proto::CommandKeyword(req.command) == "VERSION") {
        pendingNow_.push_back(proto::WithCounter(identifier_, req.counter));
        say(shown + " answered with the recorded identifier reply");
        return;
    }
    const auto it = byCommand_.find(req.command);
    if (it == byCommand_.end()) {
        say(shown + " not in the recording: ignored");
        return;
    }
    const std::size_t k = uses_[req.command]++ % it->second.size();
    const Exchange& e = it->second[k];
    counters_[e.counter] = req.counter;
    playing_.reset();
    if (!e.answers.empty())
        playing_ = Playing{&e, now, 0, 0, req.counter};
    say(shown + " answered as at line " + std::to_string(e.line) + " (" + std::to_string(e.answers.size()) +
        " answers)");
}

int64_t ReplayPlayer::roundMs(const Exchange& e) const {
    // One round: from the first answer to the last, and the gap before the last once more
    // (from the latest answer at an earlier time: the last cycle's length); never 0, so that
    // rounds move on.
    const int64_t first = e.answers.front().ms;
    const int64_t last = e.answers.back().ms;
    int64_t gap = 0;
    for (auto it = e.answers.rbegin(); it != e.answers.rend() && gap == 0; ++it)
        gap = std::max<int64_t>(0, last - it->ms);
    return std::max<int64_t>(1, last - first + gap);
}

ReplayPlayer::Time ReplayPlayer::dueTime(const Playing& p) const {
    const Exchange& e = *p.from;
    const int64_t offset =
        std::max<int64_t>(0, e.answers[p.nextAnswer].ms - e.ms) + (p.round > 0 ? p.round * roundMs(e) : 0);
    if (opt_.speed <= 0)
        return p.start;
    return p.start + std::chrono::duration_cast<Time::duration>(
                         std::chrono::duration<double, std::milli>(double(offset) / opt_.speed));
}

std::string ReplayPlayer::renumbered(const std::string& frame, const std::string& fallback) const {
    const auto it = counters_.find(proto::FrameWord(1, frame));
    if (it != counters_.end())
        return proto::WithCounter(frame, it->second);
    return fallback.empty() ? frame : proto::WithCounter(frame, fallback);
}

std::vector<std::string> ReplayPlayer::due(Time now, bool lineIdle) {
    std::vector<std::string> out = std::move(pendingNow_);
    pendingNow_.clear();
    std::size_t bytes = 0;
    for (std::optional<Playing>* p : {&freePlaying_, &playing_}) {
        while (*p && bytes < kBatchBytes && (opt_.speed <= 0 ? lineIdle : dueTime(**p) <= now)) {
            Playing& play = **p;
            const Exchange& e = *play.from;
            out.push_back(renumbered(e.answers[play.nextAnswer].frame, play.counter));
            bytes += out.back().size();
            if (++play.nextAnswer < e.answers.size())
                continue;
            if (!e.loops) {
                p->reset();
                break;
            }
            play.nextAnswer = 0;
            ++play.round;
        }
    }
    return out;
}

std::optional<ReplayPlayer::Time> ReplayPlayer::next() const {
    if (!pendingNow_.empty())
        return Time{};
    std::optional<Time> at;
    if (opt_.speed <= 0)
        return at;
    for (const std::optional<Playing>* p : {&freePlaying_, &playing_}) {
        if (*p && (!at || dueTime(**p) < *at))
            at = dueTime(**p);
    }
    return at;
}

bool ReplayPlayer::waitsForLine() const {
    return opt_.speed <= 0 && (freePlaying_ || playing_);
}

} // namespace rd::sim

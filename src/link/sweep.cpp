#include "link/sweep.h"

#include "link/frames.h"

#include <algorithm>
#include <charconv>

namespace rd {

namespace {

constexpr int kMaxAttenuation = 999;
constexpr int kMaxCycles = 100000;

std::optional<int> WholeNumber(std::string_view text, int lo, int hi) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end || value < lo || value > hi)
        return std::nullopt;
    return value;
}

} // namespace

SweepSteps ParseSweepSteps(std::string_view text) {
    SweepSteps r;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto apart = [](char c) { return c == ' ' || c == ',' || c == '\t'; };
        while (i < text.size() && apart(text[i]))
            ++i;
        std::size_t j = i;
        while (j < text.size() && !apart(text[j]))
            ++j;
        if (j == i)
            break;
        const std::string_view word = text.substr(i, j - i);
        const std::optional<int> value = WholeNumber(word, 0, kMaxAttenuation);
        if (!value) {
            r.values.clear();
            r.error = "'" + std::string(word) + "' is not a whole number of dB from 0 to " +
                      std::to_string(kMaxAttenuation);
            return r;
        }
        r.values.push_back(*value);
        i = j;
    }
    if (r.values.empty())
        r.error = "no attenuation given";
    return r;
}

std::optional<int> ParseSweepCycles(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return WholeNumber(text, 1, kMaxCycles);
}

Sweep::Do Sweep::start(std::vector<int> steps, int cycles) {
    steps_ = std::move(steps);
    cycles_ = std::max(1, cycles);
    completed_ = 0;
    failure_.clear();
    epcs_.clear();
    index_.clear();
    reads_.clear();
    if (steps_.empty()) {
        state_ = State::Done;
        return Do::Nothing;
    }
    return begin(0);
}

Sweep::Do Sweep::begin(int step) {
    step_ = step;
    started_ = 0;
    state_ = State::Running;
    return Do::Start;
}

Sweep::Do Sweep::answer(std::string_view answer) {
    if (state_ != State::Running)
        return Do::Nothing;
    const std::string keyword = GetAnswerWord(2, answer);
    if (keyword == "START_INVENTORY") {
        if (++started_ <= cycles_)
            return Do::Nothing;
        // The step's cycles are whole: this one is not counted.
        completed_ = step_ + 1;
        state_ = State::Stopping;
        return Do::Stop;
    }
    if (keyword == "STOP_INVENTORY") {
        state_ = State::Failed;
        failure_ = "the reader ended the inventory at " + std::to_string(stepValue(step_)) + " dB";
        return Do::Nothing;
    }
    if (keyword != "INV" || started_ < 1)
        return Do::Nothing;
    const std::string epc = GetAnswerWord(5, answer);
    const auto [it, added] = index_.try_emplace(epc, epcs_.size());
    if (added) {
        epcs_.push_back(epc);
        reads_.emplace_back(steps_.size(), 0);
    }
    ++reads_[it->second][std::size_t(step_)];
    return Do::Nothing;
}

Sweep::Do Sweep::stopEnded(bool confirmed) {
    if (state_ != State::Stopping)
        return Do::Nothing;
    if (!confirmed) {
        state_ = State::Failed;
        failure_ = "the stop at " + std::to_string(stepValue(step_)) + " dB was not confirmed";
        return Do::Nothing;
    }
    if (step_ + 1 < stepCount())
        return begin(step_ + 1);
    state_ = State::Done;
    return Do::Nothing;
}

Sweep::Do Sweep::cancel() {
    const bool running = state_ == State::Running;
    if (active())
        state_ = State::Cancelled;
    return running ? Do::Stop : Do::Nothing;
}

int Sweep::cyclesDone() const {
    return std::clamp(started_ - 1, 0, cycles_);
}

std::optional<int> Sweep::margin(int e) const {
    std::optional<int> best;
    for (int s = 0; s < stepCount(); ++s)
        if (reads(e, s) > 0 && (!best || stepValue(s) > *best))
            best = stepValue(s);
    return best;
}

int Sweep::tagsSeen(int s) const {
    int n = 0;
    for (const auto& row : reads_)
        n += row[std::size_t(s)] > 0;
    return n;
}

uint64_t Sweep::stepReads(int s) const {
    uint64_t n = 0;
    for (const auto& row : reads_)
        n += row[std::size_t(s)];
    return n;
}

std::vector<std::string> Sweep::csvLines() const {
    std::vector<std::string> lines;
    std::string head = "EPC";
    for (int v : steps_)
        head += "," + std::to_string(v) + " dB";
    lines.push_back(head + ",margin dB");
    for (int e = 0; e < int(epcs_.size()); ++e) {
        // EPCs are hexadecimal digits; anything else a reader sends is quoted.
        const std::string& epc = epcs_[std::size_t(e)];
        std::string line = epc.find_first_of(",\"\r\n") == std::string::npos ? epc : [&] {
            std::string q = "\"";
            for (char c : epc)
                q += c == '"' ? std::string("\"\"") : std::string(1, c);
            return q + "\"";
        }();
        for (int s = 0; s < stepCount(); ++s)
            line += "," + std::to_string(reads(e, s));
        const std::optional<int> m = margin(e);
        lines.push_back(line + "," + (m ? std::to_string(*m) : std::string()));
    }
    std::string seen = "tags seen";
    std::string reads = "reads";
    for (int s = 0; s < stepCount(); ++s) {
        seen += "," + std::to_string(tagsSeen(s));
        reads += "," + std::to_string(stepReads(s));
    }
    lines.push_back(seen + ",");
    lines.push_back(reads + ",");
    return lines;
}

} // namespace rd

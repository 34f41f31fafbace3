// An attenuation sweep without a port or a widget: for each attenuation of its list the
// reader is set to it ("SET_ATT_OUT <value>") and runs an inventory of a number of whole
// cycles, which is then stopped and confirmed before the next value. The reads of each
// EPC are kept per step; an EPC's margin is the highest attenuation at which it was still
// read. The window's SWEEP page and `readerdesk-cli sweep` drive it: it says what to do
// next, they do it and tell it what came back.
//
// A step counts the tag answers of its first `cycles` cycles ("START_INVENTORY" begins a
// cycle): the stop is asked for when the cycle after them begins, so that every counted
// cycle is whole, and its answers count for nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rd {

inline constexpr const char* kSweepDefaultSteps = "0 2 4 6 8 10 12 14 16 18 20";
inline constexpr int kSweepDefaultCycles = 10;

// The attenuation values of a sweep, as typed: whole numbers of dB from 0 to 999, apart by
// blanks or commas, in any order. error names the first word that is none ("'x' is not a
// whole number of dB"), or says that there is none at all.
struct SweepSteps {
    std::vector<int> values;
    std::string error;
};
SweepSteps ParseSweepSteps(std::string_view text);
// A cycle count as typed: a whole number from 1 to 100000, or nullopt.
std::optional<int> ParseSweepCycles(std::string_view text);

class Sweep {
  public:
    // What the driver does next.
    enum class Do {
        Nothing,
        Start, // send SET_ATT_OUT with stepValue(step()), then the inventory start
        Stop,  // stop the inventory run; stopEnded() once it is confirmed or given up
    };
    enum class State {
        Idle,      // never started
        Running,   // a step's inventory runs
        Stopping,  // its stop is under way
        Done,      // every step ran
        Cancelled, // ended by STOP
        Failed,    // a stop was not confirmed, or the reader ended a run itself
    };

    // A new sweep: the results of the last one are dropped; Start of the first step.
    Do start(std::vector<int> steps, int cycles);
    // One answer text (":counter KEYWORD ...;").
    Do answer(std::string_view answer);
    // The stop asked for has ended: confirmed by the reader or not.
    Do stopEnded(bool confirmed);
    // STOP: the sweep ends now; Stop when a step's inventory runs (its stop to be confirmed
    // all the same), Nothing otherwise.
    Do cancel();

    State state() const { return state_; }
    bool active() const { return state_ == State::Running || state_ == State::Stopping; }
    // The step under way, or the last one begun (from 0).
    int step() const { return step_; }
    int stepCount() const { return int(steps_.size()); }
    int stepValue(int i) const { return steps_[std::size_t(i)]; }
    int cycles() const { return cycles_; }
    // Whole cycles of the current step counted so far.
    int cyclesDone() const;
    // Why a sweep Failed.
    const std::string& failure() const { return failure_; }

    // The EPCs read, in the order first seen.
    const std::vector<std::string>& epcs() const { return epcs_; }
    // Reads of EPC e in step s.
    uint64_t reads(int e, int s) const { return reads_[std::size_t(e)][std::size_t(s)]; }
    // The highest attenuation at which EPC e was read; nullopt when it was read in no step.
    std::optional<int> margin(int e) const;
    // Distinct EPCs read in step s, and all their reads.
    int tagsSeen(int s) const;
    uint64_t stepReads(int s) const;
    // A step that ran all its cycles.
    bool stepDone(int s) const { return s < completed_; }

    // The results as CSV lines: "EPC,0 dB,2 dB,...,margin dB", then one line per EPC with
    // its reads per step and its margin (empty when never read), then "tags seen,..." and
    // "reads,..." per step.
    std::vector<std::string> csvLines() const;

  private:
    Do begin(int step);

    State state_ = State::Idle;
    std::vector<int> steps_;
    int cycles_ = 0;
    int step_ = 0;
    int started_ = 0;   // cycles begun in this step
    int completed_ = 0; // steps that ran all their cycles
    std::string failure_;
    std::vector<std::string> epcs_;
    std::unordered_map<std::string, std::size_t> index_;
    std::vector<std::vector<uint64_t>> reads_; // [epc][step]
};

} // namespace rd

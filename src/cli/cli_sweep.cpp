// readerdesk-cli sweep: the attenuation sweep of the window's SWEEP page, headless.
#include "cli/cli_commands.h"
#include "cli/inventory_stop.h"
#include "cli/session.h"

#include "link/frames.h"
#include "link/sweep.h"
#include "protocol/protocol_text.h"

#include <algorithm>

namespace rd::cli {

namespace {

// A step whose reader begins no inventory cycle for this long ends the sweep.
constexpr int kCycleSilenceMs = 5000;

std::string Progress(const Sweep& sweep) {
    return "step " + std::to_string(sweep.step() + 1) + " of " + std::to_string(sweep.stepCount()) + ", " +
           std::to_string(sweep.stepValue(sweep.step())) + " dB";
}

std::string RightAligned(const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

void PrintResults(const Sweep& sweep, int shownSteps, Output& out) {
    const int tags = int(sweep.epcs().size());
    if (out.json()) {
        for (int s = 0; s < shownSteps; ++s)
            out.line(JsonLine()
                         .str("type", "step")
                         .num("attenuation_db", sweep.stepValue(s))
                         .boolean("complete", sweep.stepDone(s))
                         .num("tags", sweep.tagsSeen(s))
                         .num("reads", int64_t(sweep.stepReads(s))));
        for (int e = 0; e < tags; ++e) {
            std::vector<int64_t> reads;
            for (int s = 0; s < shownSteps; ++s)
                reads.push_back(int64_t(sweep.reads(e, s)));
            out.line(JsonLine()
                         .str("type", "tag")
                         .str("epc", Latin1ToUtf8(sweep.epcs()[std::size_t(e)]))
                         .nums("reads", reads)
                         .num("margin_db", sweep.margin(e).value_or(-1)));
        }
        return;
    }
    // A table: one row per EPC, one column per step, the margin last.
    std::size_t first = 9; // "tags seen"
    for (const std::string& epc : sweep.epcs())
        first = std::max(first, TerminalText(epc).size());
    std::vector<std::string> head;
    std::size_t width = 0;
    for (int s = 0; s < shownSteps; ++s) {
        head.push_back(std::to_string(sweep.stepValue(s)) + " dB");
        width = std::max(width, head.back().size());
    }
    auto row = [&](std::string name, const std::vector<std::string>& cells, const std::string& last) {
        std::string line = name + std::string(first - std::min(first, name.size()), ' ');
        for (const std::string& c : cells)
            line += "  " + RightAligned(c, width);
        if (!last.empty())
            line += "  " + RightAligned(last, 9);
        out.line(line);
    };
    row("EPC", head, "margin dB");
    for (int e = 0; e < tags; ++e) {
        std::vector<std::string> cells;
        for (int s = 0; s < shownSteps; ++s)
            cells.push_back(std::to_string(sweep.reads(e, s)));
        const std::optional<int> m = sweep.margin(e);
        row(TerminalText(sweep.epcs()[std::size_t(e)]), cells, m ? std::to_string(*m) : "-");
    }
    std::vector<std::string> seen;
    std::vector<std::string> reads;
    for (int s = 0; s < shownSteps; ++s) {
        seen.push_back(std::to_string(sweep.tagsSeen(s)));
        reads.push_back(std::to_string(sweep.stepReads(s)));
    }
    row("tags seen", seen, "");
    row("reads", reads, "");
}

} // namespace

int RunSweep(const CliOptions& o, Output& out, TrafficLog& log) {
    Session s(o, out, log);
    if (!s.connect(k900Reader))
        return kExitNoReader;

    Sweep sweep;
    Sweep::Do next = sweep.start(o.steps, o.cycles);
    bool lost = false;
    std::string why;
    auto stop = [&] {
        const StopEnd end =
            StopInventory(s, [](const std::string& a) { return GetAnswerWord(2, a) == "STOP_INVENTORY"; });
        lost = end == StopEnd::Lost;
        return end == StopEnd::Confirmed;
    };
    while (sweep.active() && !lost) {
        if (next == Sweep::Do::Start) {
            s.note(Progress(sweep));
            s.send(proto::SetAttOut(std::to_string(sweep.stepValue(sweep.step()))));
            s.send(proto::KelmEpcInventoryTime(o.q, o.c, o.n));
        } else if (next == Sweep::Do::Stop) {
            next = sweep.stopEnded(stop());
            continue;
        }
        next = Sweep::Do::Nothing;
        // Until the sweep asks for something, or the reader begins no cycle for a while.
        const WaitEnd w =
            s.pump(Clock::now() + std::chrono::milliseconds(kCycleSilenceMs), [&](const std::string& a) {
                next = sweep.answer(a);
                return next == Sweep::Do::Nothing && sweep.active() &&
                       GetAnswerWord(2, a) != "START_INVENTORY";
            });
        if (w == WaitEnd::Lost) {
            lost = true;
        } else if (w == WaitEnd::Interrupted) {
            s.note("interrupted: stopping the sweep");
            if (sweep.cancel() == Sweep::Do::Stop)
                stop();
        } else if (w == WaitEnd::Deadline) {
            why = "no inventory cycle within " + std::to_string(kCycleSilenceMs / 1000) + " s at " +
                  std::to_string(sweep.stepValue(sweep.step())) + " dB";
            if (sweep.cancel() == Sweep::Do::Stop)
                stop();
        }
    }
    if (lost)
        s.note("no EPC_STOP could be sent: the reader may still be running the inventory");
    else if (!why.empty())
        s.note(why);
    else if (sweep.state() == Sweep::State::Failed)
        s.note(sweep.failure());
    const uint64_t lostBytes = s.reportLostBytes();

    const int shownSteps = sweep.state() == Sweep::State::Idle ? 0 : sweep.step() + 1;
    PrintResults(sweep, shownSteps, out);
    const bool done = sweep.state() == Sweep::State::Done;
    if (!done && !lost && why.empty() && sweep.state() == Sweep::State::Cancelled)
        s.note("the sweep ended at " + Progress(sweep));
    return done && lostBytes == 0 ? kExitOk : kExitNoReader;
}

} // namespace rd::cli

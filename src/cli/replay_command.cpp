#include "cli/replay_command.h"

#include "cli/cli_commands.h"

#include <algorithm>

namespace rd::cli {

RecordedRuns TallyRecording(const proto::Recording& r) {
    RecordedRuns out;
    InventoryTally& tally = out.tally;
    bool inRun = false;
    bool stopSent = false;
    int64_t runStart = 0;
    int64_t lastRead = 0;
    int64_t ms = 0;
    uint64_t runReads = 0;
    auto endRun = [&](int64_t at) {
        ms += std::max<int64_t>(0, at - runStart);
        stopSent = true;
    };
    out.figures.stop = "still running";
    for (const proto::RecordedLine& l : r.lines) {
        if (l.kind == proto::RecordedKind::Request) {
            const std::string command = proto::CommandKeyword(l.command);
            if (command == "KELM_EPC_INVENTORY_TIME" && !inRun) {
                inRun = true;
                stopSent = false;
                runStart = l.ms;
                out.figures.stop = "still running";
            } else if (command == "EPC_STOP" && inRun && !stopSent) {
                endRun(l.ms);
                out.figures.stop = "not confirmed";
            }
            continue;
        }
        if (l.kind != proto::RecordedKind::Answer)
            continue;
        const uint64_t readsBefore = tally.reads();
        const std::string keyword = tally.take(proto::AnswerFrame(l.bytes));
        if (keyword == "START_INVENTORY" || keyword == "INV") {
            if (!inRun) {
                inRun = true;
                stopSent = false;
                runStart = l.ms;
                out.figures.stop = "still running";
            }
            lastRead = l.ms;
            if (!stopSent)
                runReads += tally.reads() - readsBefore;
        } else if (keyword == "STOP_INVENTORY" && inRun) {
            if (!stopSent) {
                endRun(l.ms);
                out.figures.stop = "ended by the reader";
            } else {
                out.figures.stop = "confirmed";
            }
            inRun = false;
        }
    }
    if (inRun && !stopSent)
        endRun(std::max(lastRead, runStart));
    out.figures.seconds = double(ms) / 1000.0;
    out.figures.readsPerSecond = ms > 0 ? double(runReads) * 1000.0 / double(ms) : 0.0;
    return out;
}

int RunReplay(const CliOptions& o, Output& out) {
    proto::Recording recording;
    try {
        recording = proto::ReadRecording(o.recording);
    } catch (const proto::RecordingError& e) {
        out.message("readerdesk-cli: " + o.recording + ": " + e.what());
        return kExitUsage;
    }
    const RecordedRuns runs = TallyRecording(recording);
    PrintInventory(out, runs.tally, runs.figures);
    return kExitOk;
}

} // namespace rd::cli

// The count of a recorded session (readerdesk-cli replay): the same tally as an inventory's,
// and the runs' time as inventory measures it, from recordings of each form.
#include "cli/replay_command.h"

#include <gtest/gtest.h>

#include <string>

namespace rd::cli {
namespace {

// A traffic log line: the time (seconds after 10:00:00), then the request or answer text as
// the program writes it in hexadecimal.
std::string Log(double seconds, const char* head, const std::string& text) {
    const int ms = int(seconds * 1000 + 0.5);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "2026-12-10 10:%02d:%02d.%03d ", ms / 60000, ms / 1000 % 60,
                  ms % 1000);
    std::string line = std::string(stamp) + head;
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : text)
        line += std::string(" ") + kHex[c >> 4] + kHex[c & 15];
    return line + "\n";
}
std::string Request(double s, const std::string& frame) {
    return Log(s, ">> 01", frame);
}
std::string Answer(double s, const std::string& frame) {
    return Log(s, "<< 00", frame);
}

TEST(ReplayTally, CountsAsInventoryAndTimesTheRuns) {
    const std::string cycle = Answer(1.1, ":2 START_INVENTORY;") + Answer(1.1, ":2 INV 1 2000 E1 -50;") +
                              Answer(1.1, ":2 INV 2 2000 E2 -61;");
    struct Case {
        const char* name;
        std::string recording;
        uint64_t tags, reads, cycles;
        double seconds;
        double rate;
        std::string stop;
    } cases[] = {
        {"a run stopped and confirmed; reads after the stop counted, not timed",
         Request(0, ":1 VERSION;") + Answer(0, ":1 VERSION VKR900-15;") +
             Request(1, ":2 KELM_EPC_INVENTORY_TIME 20 5 15;") + cycle + Answer(1.2, ":2 START_INVENTORY;") +
             Answer(1.2, ":2 INV 1 2000 E1 -52;") + Request(1.5, ":3 EPC_STOP;") +
             Answer(1.51, ":2 INV 1 2000 E3 -70;") + Answer(1.6, ":3 STOP_INVENTORY;"),
         3, 4, 2, 0.5, 6.0, "confirmed"},
        {"a stop never confirmed",
         Request(1, ":2 KELM_EPC_INVENTORY_TIME 20 5 15;") + cycle + Request(1.25, ":3 EPC_STOP;") +
             Request(1.35, ":4 EPC_STOP;"),
         2, 2, 1, 0.25, 8.0, "not confirmed"},
        {"the reader ends the run",
         Request(1, ":2 KELM_EPC_INVENTORY_TIME 20 5 15;") + cycle + Answer(1.5, ":2 STOP_INVENTORY;"), 2, 2,
         1, 0.5, 4.0, "ended by the reader"},
        {"two runs: their times add up, the last one's stop is told",
         Request(1, ":2 KELM_EPC_INVENTORY_TIME 20 5 15;") + cycle + Request(1.5, ":3 EPC_STOP;") +
             Answer(1.5, ":3 STOP_INVENTORY;") + Request(3, ":4 KELM_EPC_INVENTORY_TIME 20 5 15;") +
             Answer(3.25, ":4 INV 1 2000 E1 -50;"),
         2, 3, 1, 0.75, 4.0, "still running"},
        {"monitor output: from the first inventory answer to the last",
         "12:00:00.000 :2 INV 1 2000 E1 -50;\n12:00:00.100 :2 START_INVENTORY;\n"
         "12:00:00.500 3A 32 20 49 4E 56 20 31 20 32 30 30 30 20 45 31 20 2D 35 30 3B\n",
         1, 2, 1, 0.5, 4.0, "still running"},
        {"no inventory at all", Request(0, ":1 VERSION;") + Answer(0, ":1 VERSION VKR900-15;"), 0, 0, 0, 0, 0,
         "still running"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RecordedRuns runs = TallyRecording(proto::ParseRecording(c.recording));
        EXPECT_EQ(runs.tally.tags().size(), c.tags);
        EXPECT_EQ(runs.tally.reads(), c.reads);
        EXPECT_EQ(runs.tally.cycles(), c.cycles);
        EXPECT_NEAR(runs.figures.seconds, c.seconds, 1e-9);
        EXPECT_NEAR(runs.figures.readsPerSecond, c.rate, 1e-9);
        EXPECT_EQ(runs.figures.stop, c.stop);
        EXPECT_FALSE(runs.figures.lostBytes.has_value());
    }
}

} // namespace
} // namespace rd::cli

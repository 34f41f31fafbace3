#include "cli/inventory_tally.h"

#include "link/frames.h"

#include <cstdio>

namespace rd::cli {

std::string InventoryTally::take(std::string_view answer) {
    std::string keyword = GetAnswerWord(2, answer);
    if (keyword == "START_INVENTORY") {
        ++cycles_;
    } else if (keyword == "INV") {
        ++reads_;
        std::string epc = GetAnswerWord(5, answer);
        auto [it, added] = index_.try_emplace(epc, tags_.size());
        if (added)
            tags_.push_back(TagCount{epc, 0, {}, {}});
        TagCount& t = tags_[it->second];
        ++t.reads;
        t.antenna = GetAnswerWord(3, answer);
        t.signal = GetAnswerWord(6, answer);
    }
    return keyword;
}

namespace {

std::string Fixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

} // namespace

void PrintInventory(Output& out, const InventoryTally& tally, const RunFigures& f) {
    for (const TagCount& t : tally.tags()) {
        if (out.json()) {
            out.line(JsonLine()
                         .str("type", "tag")
                         .str("epc", Latin1ToUtf8(t.epc))
                         .num("reads", int64_t(t.reads))
                         .str("antenna", Latin1ToUtf8(t.antenna))
                         .str("signal", Latin1ToUtf8(t.signal)));
        } else {
            out.line("EPC " + (t.epc.empty() ? std::string("(none)") : TerminalText(t.epc)) + "  reads " +
                     std::to_string(t.reads) + "  antenna " + TerminalText(t.antenna) + "  signal " +
                     TerminalText(t.signal));
        }
    }
    if (out.json()) {
        JsonLine j;
        j.str("type", "summary")
            .num("tags", int64_t(tally.tags().size()))
            .num("reads", int64_t(tally.reads()))
            .num("cycles", int64_t(tally.cycles()))
            .real("seconds", f.seconds, 3)
            .real("reads_per_s", f.readsPerSecond, 1)
            .str("stop", f.stop);
        if (f.lostBytes)
            j.num("lost_bytes", int64_t(*f.lostBytes));
        out.line(j);
    } else {
        out.line(
            "tags " + std::to_string(tally.tags().size()) + "  reads " + std::to_string(tally.reads()) +
            "  cycles " + std::to_string(tally.cycles()) + "  seconds " + Fixed(f.seconds, 2) + "  reads/s " +
            Fixed(f.readsPerSecond, 1) + "  stop " + f.stop +
            (f.lostBytes.value_or(0) > 0 ? "  lost bytes " + std::to_string(*f.lostBytes) : std::string()));
    }
}

} // namespace rd::cli

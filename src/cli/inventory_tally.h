// The count of an inventory run, from its answers: one entry per distinct EPC (word 5 of
// an "INV" answer) with its reads, antenna (word 3) and last signal (word 6), and the
// cycles begun ("START_INVENTORY" answers); and how inventory and replay print it.
#pragma once

#include "cli/cli_output.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rd::cli {

struct TagCount {
    std::string epc;
    uint64_t reads = 0;
    std::string antenna; // of the latest read
    std::string signal;  // of the latest read
};

class InventoryTally {
  public:
    // Counts one answer text; returns its keyword (word 2).
    std::string take(std::string_view answer);

    // In the order in which they were first seen.
    const std::vector<TagCount>& tags() const { return tags_; }
    uint64_t reads() const { return reads_; }
    uint64_t cycles() const { return cycles_; }

  private:
    std::vector<TagCount> tags_;
    std::unordered_map<std::string, std::size_t> index_;
    uint64_t reads_ = 0;
    uint64_t cycles_ = 0;
};

// The figures of a run beside the tally.
struct RunFigures {
    double seconds = 0;
    double readsPerSecond = 0;
    const char* stop = ""; // "confirmed", "not confirmed", ...
    std::optional<uint64_t> lostBytes = {};
};

// One line per EPC ("EPC ...  reads N  antenna A  signal S", or a "tag" object) and the
// summary ("tags ...  stop ...", or a "summary" object; lost bytes only when known).
void PrintInventory(Output& out, const InventoryTally& tally, const RunFigures& f);

} // namespace rd::cli

#include "cli/inventory_tally.h"

#include "link/frames.h"

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

} // namespace rd::cli

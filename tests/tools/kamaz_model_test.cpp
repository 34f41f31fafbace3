// The vehicle check's state without a window: the run state of START and STOP and the
// countdown of the page timer.
#include "tools/kamaz_model.h"

#include <gtest/gtest.h>

#include <vector>

namespace rd {
namespace {

TEST(KamazModel, TheCountdownRunsFiveToOneAndStartsOver) {
    KamazModel m;
    EXPECT_FALSE(m.running());
    m.start();
    EXPECT_TRUE(m.running());
    EXPECT_EQ(m.countdown(), 5);
    std::vector<int> seen;
    for (int i = 0; i < 11; ++i) {
        m.tick();
        seen.push_back(m.countdown());
    }
    EXPECT_EQ(seen, (std::vector<int>{4, 3, 2, 1, 5, 4, 3, 2, 1, 5, 4}));
    // STOP leaves the count; a new START begins again at 5.
    m.stop();
    EXPECT_FALSE(m.running());
    EXPECT_EQ(m.countdown(), 4);
    m.start();
    EXPECT_EQ(m.countdown(), 5);
}

} // namespace
} // namespace rd

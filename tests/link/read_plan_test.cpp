// The read plan worked out from the read time-outs, and the deadline a read waits for.
// Pure code: the time-outs on a real port are in serial_port_test.
#include "link/read_plan.h"

#include <gtest/gtest.h>

#include <vector>

namespace rd {
namespace {

constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;
constexpr std::optional<uint64_t> kNoTotal;
constexpr std::optional<uint32_t> kNoInterval;

TEST(ReadPlan, EveryModeOfTheTimeouts) {
    const struct {
        const char* mode;
        CommTimeouts t;
        uint32_t n;
        bool atOnce;
        bool firstByte;
        std::optional<uint64_t> totalMs;
        std::optional<uint32_t> intervalMs;
    } rows[] = {
        {"all zero: wait for n", {0, 0, 0, 0, 0}, 10, false, false, kNoTotal, kNoInterval},
        {"what is there", {MAXDWORD, 0, 0, 0, 0}, 10, true, false, kNoTotal, kNoInterval},
        {"first byte", {MAXDWORD, MAXDWORD, 150, 0, 0}, 10, false, true, 150, kNoInterval},
        {"first byte, the receiver's set",
         {MAXDWORD, MAXDWORD, 101, 0, 0},
         100,
         false,
         true,
         101,
         kNoInterval},
        {"first byte needs a constant",
         {MAXDWORD, MAXDWORD, 0, 0, 0},
         2,
         false,
         false,
         2 * uint64_t{MAXDWORD},
         MAXDWORD},
        {"first byte needs a constant below MAXDWORD",
         {MAXDWORD, MAXDWORD, MAXDWORD, 0, 0},
         1,
         false,
         false,
         2 * uint64_t{MAXDWORD},
         MAXDWORD},
        {"interval MAXDWORD with a total", {MAXDWORD, 0, 100, 0, 0}, 10, false, false, 100, MAXDWORD},
        {"interval only", {50, 0, 0, 0, 0}, 10, false, false, kNoTotal, 50},
        {"multiplier and constant", {0, 2, 100, 0, 0}, 50, false, false, 200, kNoInterval},
        {"constant only", {0, 0, 5000, 0, 0}, 10, false, false, 5000, kNoInterval},
        {"multiplier only", {0, 3, 0, 0, 0}, 7, false, false, 21, kNoInterval},
        {"interval and totals", {10, 1, 150, 0, 0}, 10, false, false, 160, 10},
        {"the probe's set", {100, 1, 1, 0, 0}, 500, false, false, 501, 100},
        {"write values play no part", {0, 0, 0, 7, 9}, 10, false, false, kNoTotal, kNoInterval},
        {"largest total that fits",
         {0, MAXDWORD, 0, 0, 0},
         256,
         false,
         false,
         256 * uint64_t{MAXDWORD},
         kNoInterval},
        {"huge total capped", {0, MAXDWORD, 0, 0, 0}, 257, false, false, kLongestWaitMs, kNoInterval},
        {"huge total capped, constant too",
         {0, MAXDWORD, MAXDWORD, 0, 0},
         4096,
         false,
         false,
         kLongestWaitMs,
         kNoInterval},
        {"no bytes asked for", {0, 2, 100, 0, 0}, 0, true, false, kNoTotal, kNoInterval},
        {"no bytes asked for, all zero", {0, 0, 0, 0, 0}, 0, true, false, kNoTotal, kNoInterval},
    };
    for (const auto& r : rows) {
        const ReadPlan p = PlanRead(r.t, r.n);
        EXPECT_EQ(p.returnAtOnce, r.atOnce) << r.mode;
        EXPECT_EQ(p.returnOnFirstByte, r.firstByte) << r.mode;
        EXPECT_EQ(p.totalMs, r.totalMs) << r.mode;
        EXPECT_EQ(p.intervalMs, r.intervalMs) << r.mode;
    }
}

TEST(ReadDeadline, EarliestOfTotalAndIntervalReArmedByBytes) {
    using Clock = ReadDeadline::Clock;
    const auto start = Clock::time_point{} + std::chrono::hours(1);
    constexpr std::optional<int> kNever;
    const struct {
        const char* what;
        ReadPlan plan;
        std::vector<int> bytesAtMs;
        std::optional<int> nextMs;
    } rows[] = {
        {"no limits", {}, {}, kNever},
        {"no limits, bytes came", {}, {5}, kNever},
        {"total only", {false, false, 200, {}}, {}, 200},
        {"total is not moved by bytes", {false, false, 200, {}}, {150}, 200},
        {"interval waits for the first byte", {false, false, {}, 50}, {}, kNever},
        {"interval after the first byte", {false, false, {}, 50}, {30}, 80},
        {"interval after the latest byte", {false, false, {}, 50}, {30, 70}, 120},
        {"both, before any byte: the total", {false, false, 160, 10}, {}, 160},
        {"both, the interval comes first", {false, false, 160, 10}, {40}, 50},
        {"both, the total comes first", {false, false, 160, 10}, {155}, 160},
    };
    for (const auto& r : rows) {
        ReadDeadline d(r.plan, start);
        for (int ms : r.bytesAtMs)
            d.bytesArrived(start + std::chrono::milliseconds(ms));
        const auto next = d.next();
        if (r.nextMs) {
            ASSERT_TRUE(next) << r.what;
            EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(*next - start).count(), *r.nextMs)
                << r.what;
        } else {
            EXPECT_FALSE(next) << r.what;
        }
    }
    // The longest budget lies decades ahead, not wrapped into the past.
    const auto far = ReadDeadline({false, false, kLongestWaitMs, {}}, start).next();
    ASSERT_TRUE(far);
    EXPECT_GT(*far, start + std::chrono::hours(24 * 365 * 30));
}

} // namespace
} // namespace rd

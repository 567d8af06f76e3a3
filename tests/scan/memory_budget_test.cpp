// The budget's default, and batches of events cut to fit it.
#include "scan/memory_budget.h"

#include <gtest/gtest.h>

#include "scan/scan_plan.h"

TEST(MemoryBudget, HalfOfTheSmallerOfTheMachineAndTheJobLimit) {
    const long long gib = 1LL << 30;
    EXPECT_EQ(default_budget(24 * gib, -1), 12 * gib);  // no control-group limit
    EXPECT_EQ(default_budget(24 * gib, 0), 12 * gib);
    EXPECT_EQ(default_budget(24 * gib, 4 * gib), 2 * gib);  // a Slurm job's --mem=4G
    EXPECT_EQ(default_budget(2 * gib, 4 * gib), gib);       // a limit above the machine's memory
}

TEST(ScanPlan, BatchesHoldEventsInOrderWhileTheirBytesFitSharedBytesCountedOnce) {
    auto need = [](long long own, std::map<std::string, long long> shared) {
        return Event_need{own, std::move(shared)};
    };
    const std::vector<Event_need> events = {
        need(10, {{"A", 100}, {"B", 100}}),  // 210
        need(10, {{"A", 100}}),              // +10: A is held already
        need(10, {{"C", 100}}),              // +110 = 330 > 300: a new batch
        need(500, {}),                       // too large alone: a batch of its own
        need(0, {}),
        need(5, {{"C", 100}}),  // C counted again in this batch
    };
    EXPECT_EQ(plan_batches(events, 300), (std::vector<std::size_t>{2, 3, 4, 6}));
    EXPECT_EQ(plan_batches(events, 1000), (std::vector<std::size_t>{6}));
    EXPECT_EQ(plan_batches(events, 0), (std::vector<std::size_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(plan_batches(events, 220), (std::vector<std::size_t>{2, 3, 4, 6}));
    EXPECT_EQ(plan_batches(events, 219), (std::vector<std::size_t>{1, 2, 3, 4, 6}));
    EXPECT_TRUE(plan_batches({}, 300).empty());
}

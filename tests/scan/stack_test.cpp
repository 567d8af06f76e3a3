#include <gtest/gtest.h>

#include <numeric>

#include "scan/correlation_scan.h"

TEST(Stack, GapsMoveoutsAndTheGapFlagsOfTheBlockSpectra) {
    // 0: zero at the start; 3: an isolated zero is data; 5-7: a run of zeros; 9: zero at the
    // last correlation position.
    const std::vector<float> day = {0, 0.5f, 0.3f, 0, -0.2f, 0, 0, 0, 0.4f, 0, 1, 1};
    std::vector<float> values(10);
    std::iota(values.begin(), values.end(), 1.0f);
    std::vector<float> stack(10, 0.0f);
    std::vector<int> count(10, 0);
    add_to_stack(values, day, 0, stack, count);
    const std::vector<int> reached = {0, 1, 1, 1, 1, 0, 0, 0, 1, 0};
    EXPECT_EQ(count, reached);
    EXPECT_EQ(stack, std::vector<float>({0, 2, 3, 4, 5, 0, 0, 0, 9, 0}));
    // The same flags carried by the block spectra; a block starting at 4 with moveout 2 adds
    // positions 4.. into 2...
    const Correlation_plan plan = make_correlation_plan(3);
    const Day_spectra spectra = make_day_spectra(plan, day, 10, 10);
    for (int p = 0; p < 10; ++p)
        EXPECT_EQ(is_gap(spectra, p), reached[p] == 0) << p;
    stack.assign(10, 0.0f);
    count.assign(10, 0);
    add_block_to_stack(values.data(), spectra, 4, 8, 2, stack, count);
    EXPECT_EQ(count, std::vector<int>({0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(stack, std::vector<float>({0, 0, 1, 0, 0, 0, 5, 0, 0, 0}));

    // Moveouts 0 and 10 over full data: the last 10 positions hold the first template alone,
    // unless the correlations reach 10 positions past the stack (a day trace that goes on past
    // midnight), which every position then takes from both.
    for (const int past : {0, 10}) {
        const std::vector<float> full(120, 1.0f);
        stack.assign(100, 0.0f);
        count.assign(100, 0);
        std::vector<float> first(100 + past), second(100 + past);
        std::iota(first.begin(), first.end(), 0.0f);
        std::iota(second.begin(), second.end(), 1000.0f);
        add_to_stack(first, full, 0, stack, count);
        add_to_stack(second, full, 10, stack, count);
        for (int k = 0; k < 100; ++k) {
            const bool both = k < 90 || past == 10;
            EXPECT_EQ(count[k], both ? 2 : 1) << past << " " << k;
            EXPECT_EQ(stack[k], both ? first[k] + second[k + 10] : first[k]) << past << " " << k;
        }
    }
}

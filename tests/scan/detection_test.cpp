#include "scan/detection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

TEST(Detection, CandidatesThinningAndConsoleLines) {
    // W = 100, threshold 0.4: the worked examples, then a tie W - 1 apart.
    const std::vector<std::pair<std::vector<std::pair<int, float>>, std::vector<int>>> cases = {
        {{{100, 0.5f}, {150, 0.8f}, {200, 0.6f}}, {150}},
        {{{100, 0.8f}, {150, 0.6f}, {220, 0.7f}}, {100, 220}},
        {{{100, 0.7f}, {120, 0.5f}, {150, 0.9f}}, {150}},
        {{{200, 0.5f}, {201, 0.5f}}, {201}},
        {{{100, 0.6f}, {200, 0.6f}}, {100, 200}},
        {{{100, 0.6f}, {199, 0.6f}}, {199}}};
    for (const auto& [peaks, expected] : cases) {
        std::vector<float> stack(400, 0.0f);
        for (const auto& [p, value] : peaks)
            stack[p] = value;
        EXPECT_EQ(thin_candidates(stack, find_candidates(stack, 0.4f), 100), expected);
    }
    // Median and MAD 0.0125, threshold 0.1: 300 equals it; the ends never qualify, nor does 1,
    // below its left neighbour.
    std::vector<float> stack(200, 0.0125f);
    stack.resize(400, 0.0f);
    stack[0] = stack[399] = 0.9f;
    stack[1] = 0.3f, stack[120] = 0.5f, stack[152] = 0.3f, stack[300] = 0.1f;
    std::ostringstream out, none;
    EXPECT_EQ(detect(stack, 100, 8.0, out).matches, std::vector<int>({120, 300}));
    EXPECT_EQ(out.str(), "\n\tMAD*8: 0.1\n\t# Matches: 2\n");
    std::vector<float> unreached(100, NAN);
    EXPECT_TRUE(detect(unreached, 10, 8.0, none).matches.empty());
    EXPECT_EQ(none.str(), "\n\tMAD*8: nan\n\t# Matches: 0\n");
}

TEST(Detection, CandidatesAreThePeaksAtOrOverTheThresholdWithTiesAndNotANumbers) {
    // Few distinct values give plateaus (ties qualify on both sides); NaN never qualifies, nor
    // does a position beside one.
    std::mt19937 rng(3);
    std::vector<float> stack(5000);
    for (float& x : stack) {
        const int r = static_cast<int>(rng() % 12);
        x = r == 0 ? NAN : static_cast<float>(r % 6) * 0.125f;
    }
    for (const float threshold : {0.0f, 0.25f, 0.5f, 0.625f, 1.0f, NAN}) {
        std::vector<int> expected;
        for (int c = 1; c + 1 < static_cast<int>(stack.size()); ++c) {
            if (stack[c] >= stack[c - 1] && stack[c] >= stack[c + 1] && stack[c] >= threshold)
                expected.push_back(c);
        }
        EXPECT_EQ(find_candidates(stack, threshold), expected) << threshold;
    }
    EXPECT_TRUE(find_candidates({1.0f, 2.0f}, 0.0f).empty());
}

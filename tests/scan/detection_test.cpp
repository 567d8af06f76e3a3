#include "scan/detection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

namespace {

using Positions = std::vector<int>;

// Matches of a zero stack with the given peaks, W = 100 and threshold 0.4.
Positions matches_of(const std::map<int, float>& peaks) {
    std::vector<float> stack(400, 0.0f);
    for (const auto& [p, value] : peaks) {
        stack[p] = value;
    }
    return thin_candidates(stack, find_candidates(stack, 0.4f), 100);
}

}  // namespace

TEST(Detection, ThinsForwardsWithTiesToTheLater) {
    EXPECT_EQ(matches_of({{100, 0.5f}, {150, 0.8f}, {200, 0.6f}}), Positions({150}));
    EXPECT_EQ(matches_of({{100, 0.8f}, {150, 0.6f}, {220, 0.7f}}), Positions({100, 220}));
    EXPECT_EQ(matches_of({{100, 0.7f}, {120, 0.5f}, {150, 0.9f}}), Positions({150}));
    EXPECT_EQ(matches_of({{200, 0.5f}, {201, 0.5f}}), Positions({201}));
    EXPECT_EQ(matches_of({{100, 0.6f}, {200, 0.6f}}), Positions({100, 200}));
    EXPECT_EQ(matches_of({{100, 0.6f}, {199, 0.6f}}), Positions({199}));
    EXPECT_EQ(matches_of({{200, 0.5f}, {201, 0.5f}, {202, 0.5f}, {290, 0.5f}}), Positions({290}));

    std::vector<float> stack(400, 0.0f);
    stack[100] = 0.7f;
    stack[120] = 0.5f;
    stack[150] = 0.9f;
    thin_candidates(stack, {100, 120, 150}, 100);
    EXPECT_EQ(stack[120], 0.0f);  // zeroed by 100 before 100 lost to 150, and not restored
    EXPECT_EQ(stack[100], 0.0f);

    // Candidates: inner local maxima at or above the threshold; NaN fails every test.
    std::vector<float> s = {0.9f, 0.1f, 0.4f, 0.1f, 0.39f, 0.2f, 0.6f, 0.6f, 0.3f, 0.95f};
    EXPECT_EQ(find_candidates(s, 0.4f), Positions({2, 6, 7}));
    s[3] = std::nanf("");
    EXPECT_EQ(find_candidates(s, 0.4f), Positions({6, 7}));
    EXPECT_TRUE(find_candidates(s, std::nanf("")).empty());
}

TEST(Detection, PrintsThresholdAndMatchCount) {
    std::vector<float> stack(400);
    const float pattern[4] = {0.0f, 0.0125f, 0.0f, -0.0125f};  // median 0, MAD 0.0125
    for (std::size_t i = 0; i < stack.size(); ++i) {
        stack[i] = pattern[i % 4];
    }
    stack[100] = 0.5f;
    stack[152] = 0.3f;
    stack[300] = 0.2f;
    std::ostringstream out;
    const Detection found = detect(stack, 100, 8.0, out);
    EXPECT_EQ(out.str(), "\n\tMAD*8: 0.1\n\t# Matches: 2\n");
    EXPECT_EQ(found.mad_value, 0.0125f);
    EXPECT_EQ(found.matches, Positions({100, 300}));

    std::vector<float> unreached(100, std::nanf(""));
    std::ostringstream none;
    EXPECT_TRUE(detect(unreached, 10, 8.0, none).matches.empty());
    EXPECT_EQ(none.str(), "\n\tMAD*8: nan\n\t# Matches: 0\n");
}

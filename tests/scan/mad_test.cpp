#include "scan/mad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

TEST(Mad, UpperMiddleWithoutScaleAndNotANumberLeftOut) {
    const float nan = std::nanf("");
    EXPECT_EQ(mad({1, 2, 3, 4}), 1.0f);
    EXPECT_EQ(mad({3, 1, 2}), 1.0f);
    EXPECT_EQ(mad({5}), 0.0f);
    EXPECT_EQ(mad({1, 1, 1, 10}), 0.0f);
    EXPECT_EQ(mad({nan, 1, 2, nan, 3, 4, nan}), 1.0f);
    EXPECT_TRUE(std::isnan(mad({nan, nan})));
    EXPECT_TRUE(std::isnan(mad({})));

    // Against a full sort, on values the argument must keep unchanged.
    std::mt19937 rng(7);
    std::normal_distribution<float> normal(0.0f, 0.3f);
    std::vector<float> v(1001);
    for (float& x : v) {
        x = normal(rng);
    }
    const std::vector<float> before = v;
    std::vector<float> sorted = v;
    std::sort(sorted.begin(), sorted.end());
    const float median = sorted[500];
    for (float& x : sorted) {
        x = std::fabs(x - median);
    }
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(mad(v), sorted[500]);
    EXPECT_EQ(v, before);
}

#include "scan/mad.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Mad, UpperMiddleRawValueArgumentKeptNotANumberLeftOut) {
    const std::vector<float> v = {3, 1, 2};
    EXPECT_EQ(mad(v), 1.0f);
    EXPECT_EQ(v, std::vector<float>({3, 1, 2}));
    EXPECT_EQ(mad({1, 2, 3, 4}), 1.0f);
    EXPECT_EQ(mad({5}), 0.0f);
    EXPECT_EQ(mad({1, 1, 1, 10}), 0.0f);
    // NaN left out; for even counts the upper middle, not an average: median 4, MAD 3.
    EXPECT_EQ(mad({NAN, 8, 1, NAN, 4, 2, NAN}), 3.0f);
    EXPECT_TRUE(std::isnan(mad({NAN, NAN})));
}

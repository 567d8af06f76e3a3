#include "dsp/interp1.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

std::vector<float> wiggle(int count) {
    std::vector<float> y(count);
    for (int i = 0; i < count; ++i) {
        y[i] = static_cast<float>(std::sin(0.7 * i) * 10.0 + (i % 3));
    }
    return y;
}

}  // namespace

TEST(Interp1Test, SampleCounts) {
    const std::vector<float> y = wiggle(10);
    EXPECT_EQ(interp1(0.0f, 100.0f, y, 0.0f, 10.0f, 100.0f).size(), 1000u);
    EXPECT_EQ(interp1(0.0f, 10.0f, y, 0.0f, 1.0f, 20.0f).size(), 20u);
    Sample_span span{7, 9};
    EXPECT_TRUE(interp1(0.0f, 10.0f, y, 3.0f, 3.0f, 20.0f, &span).empty());
    EXPECT_EQ(span.first, 0);
    EXPECT_EQ(span.end, 0);
    EXPECT_TRUE(interp1(0.0f, 10.0f, y, 3.0f, 1.0f, 20.0f).empty());
}

TEST(Interp1Test, EqualRatesReproduceAndZeroTail) {
    const std::vector<float> y = wiggle(50);
    Sample_span span;
    const std::vector<float> out = interp1(5.0f, 10.0f, y, 5.0f, 12.0f, 10.0f, &span);
    ASSERT_EQ(out.size(), 70u);
    for (int j = 0; j < 49; ++j) {
        EXPECT_NEAR(out[j], y[j], 1e-4f) << j;
    }
    for (int j = 50; j < 70; ++j) {
        EXPECT_EQ(out[j], 0.0f) << j;
    }
    EXPECT_EQ(span.first, 0);
    EXPECT_GE(span.end, 49);
    EXPECT_LE(span.end, 50);
}

TEST(Interp1Test, MidpointsAndDecimation) {
    const std::vector<float> y = wiggle(40);
    const std::vector<float> up = interp1(0.0f, 10.0f, y, 0.0f, 3.5f, 20.0f);
    ASSERT_EQ(up.size(), 70u);
    for (int j = 1; j < 70; j += 2) {
        EXPECT_NEAR(up[j], 0.5f * (y[j / 2] + y[j / 2 + 1]), 1e-4f) << j;
    }

    // 100 -> 20 per second keeps every fifth sample, with no smoothing.
    std::vector<float> fast(500);
    for (int i = 0; i < 500; ++i) {
        fast[i] = (i % 2 == 0 ? 1.0f : -1.0f) * static_cast<float>(i);
    }
    const std::vector<float> slow = interp1(0.0f, 100.0f, fast, 0.0f, 4.9f, 20.0f);
    ASSERT_EQ(slow.size(), 98u);
    for (int j = 0; j < 98; ++j) {
        EXPECT_NEAR(slow[j], fast[5 * j], 1e-3f * (1 + 5 * j)) << j;
    }
}

TEST(Interp1Test, OutsideTheInputIsZero) {
    // Window starts 2 s before the input and ends 2 s after it.
    const std::vector<float> y = wiggle(30);  // 10 per second, times 2.0 .. 4.9
    Sample_span span;
    const std::vector<float> out = interp1(2.0f, 10.0f, y, 0.0f, 7.0f, 20.0f, &span);
    ASSERT_EQ(out.size(), 140u);
    EXPECT_EQ(span.first, 40);
    EXPECT_GE(span.end, 97);
    EXPECT_LE(span.end, 98);
    for (int j = 0; j < 140; ++j) {
        if (j < span.first || j >= span.end) {
            EXPECT_EQ(out[j], 0.0f) << j;
            continue;
        }
        // Independent double-precision linear interpolation.
        const double pos = (j / 20.0 - 2.0) * 10.0;
        const int i = static_cast<int>(std::floor(pos + 1e-9));
        const double expect = y[i] + (pos - i) * (static_cast<double>(y[i + 1]) - y[i]);
        EXPECT_NEAR(out[j], expect, 1e-3) << j;
    }

    for (int size = 0; size <= 1; ++size) {
        const std::vector<float> tiny(size, 5.0f);
        const std::vector<float> res = interp1(1.0f, 10.0f, tiny, 0.0f, 3.0f, 10.0f, &span);
        ASSERT_EQ(res.size(), 30u);
        for (float v : res) {
            EXPECT_EQ(v, 0.0f);
        }
        EXPECT_EQ(span.first, 0);
        EXPECT_EQ(span.end, 0);
    }
}

TEST(Interp1Test, HighRateLateInTheDayStaysFinite) {
    // At 500 per second neighbouring sample times past 80000 s round to the same float.
    const std::vector<float> y = wiggle(5000);
    Sample_span span;
    const std::vector<float> out = interp1(80000.0f, 500.0f, y, 80000.0f, 80009.0f, 500.0f, &span);
    ASSERT_EQ(out.size(), 4500u);
    EXPECT_EQ(span.first, 0);
    EXPECT_EQ(span.end, 4500);
    for (float v : out) {
        ASSERT_TRUE(std::isfinite(v));
        ASSERT_LE(std::fabs(v), 12.0f);
    }
}

#include "dsp/interp1.h"

#include <gtest/gtest.h>

#include <cmath>

static std::vector<float> wiggle(int count) {
    std::vector<float> y(count);
    for (int i = 0; i < count; ++i)
        y[i] = static_cast<float>(std::sin(0.7 * i) * 10.0 + (i % 3));
    return y;
}

TEST(Interp1Test, UpAndDownSamplingLateHighRatesAndTheCoveredSpan) {
    const std::vector<float> y = wiggle(500);
    Sample_span span{7, 9};
    EXPECT_TRUE(interp1(0.0f, 10.0f, y, 3.0f, 3.0f, 20.0f, &span).empty());
    EXPECT_EQ(span.first + span.end, 0);
    // 100 -> 20 per second keeps every fifth sample, unsmoothed.
    const std::vector<float> down = interp1(0.0f, 100.0f, y, 0.0f, 4.9f, 20.0f);
    ASSERT_EQ(down.size(), 98u);
    for (int j = 0; j < 98; ++j)
        EXPECT_EQ(down[j], y[5 * j]) << j;
    // Late in the day (floats step by 8 ms) no sample repeats or skips: on the input's grid the
    // output is the input, half a sample off it the midpoints.
    for (const double rate : {250.0, 1000.0, 2000.0}) {
        const double t0 = 86400.0 - 600 / rate;
        EXPECT_EQ(interp1(t0, rate, y, t0, t0 + 499.5 / rate, rate),
                  std::vector<float>(y.begin(), y.begin() + 499))
            << rate;
        const std::vector<float> mid = interp1(t0, rate, y, t0 + 0.5 / rate, t0 + 499 / rate, rate);
        ASSERT_EQ(mid.size(), 498u) << rate;
        for (int j = 0; j < 498; ++j)
            ASSERT_NEAR(mid[j], 0.5 * (double(y[j]) + y[j + 1]), 1e-5) << rate << " " << j;
    }
    // Zero outside the input (30 samples at 10/s from 2.0 s) and the span it covers.
    const std::vector<float> out = interp1(2.0f, 10.0f, wiggle(30), 0.0f, 7.0f, 20.0f, &span);
    ASSERT_EQ(out.size(), 140u);
    ASSERT_EQ(span.first, 40);
    ASSERT_EQ(span.end, 98);
    for (int j = 0; j < 140; ++j) {
        const double pos = (j / 20.0 - 2.0) * 10.0;
        const int i = static_cast<int>(std::floor(pos + 1e-9));
        const bool inside = j >= span.first && j < span.end;
        EXPECT_NEAR(out[j], inside ? y[i] + (pos - i) * (double(y[i + 1]) - y[i]) : 0.0, 1e-5) << j;
    }
    for (const std::vector<float>& tiny : {std::vector<float>{}, std::vector<float>{5.0f}})
        EXPECT_EQ(interp1(1.0f, 10.0f, tiny, 0.0f, 3.0f, 10.0f, &span), std::vector<float>(30));
}

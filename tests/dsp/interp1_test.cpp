#include "dsp/interp1.h"
#include "support/float_bits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

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
    ASSERT_EQ(std::make_tuple(out.size(), span.first, span.end), std::make_tuple(140ul, 40, 98));
    for (int j = 0; j < 140; ++j) {
        const double pos = (j / 20.0 - 2.0) * 10.0;
        const int i = static_cast<int>(std::floor(pos + 1e-9));
        const bool inside = j >= span.first && j < span.end;
        EXPECT_NEAR(out[j], inside ? y[i] + (pos - i) * (double(y[i + 1]) - y[i]) : 0.0, 1e-5) << j;
    }
    for (const std::vector<float>& tiny : {std::vector<float>{}, std::vector<float>{5.0f}})
        EXPECT_EQ(interp1(1.0f, 10.0f, tiny, 0.0f, 3.0f, 10.0f, &span), std::vector<float>(30));
}

TEST(Interp1Test, SameGridGivesTheGeneralStepsBitsAndSpan) {
    // Values with both zeros, a NaN and an infinity; windows that start before the input and end
    // past it, or lie inside it.
    std::vector<float> y = wiggle(700);
    y[3] = -0.0f, y[4] = 0.0f, y[5] = -0.0f, y[100] = NAN, y[200] = INFINITY, y[201] = -1e30f;
    for (const double rate : {100.0, 1000.0}) {
        for (const int from : {-50, 0, 1, 37, 650}) {
            for (const int length : {1, 20, 699, 800}) {
                const double t0 = 86000.0, start = t0 + from / rate;
                Sample_span same, general;
                const std::vector<float> a =
                    interp1(t0, rate, y, start, start + (length + 0.5) / rate, rate, &same);
                // A third of a millionth of a sample off the grid: still snapped onto it, by the
                // general steps.
                const double off = start + 3e-7 / rate;
                const std::vector<float> b =
                    interp1(t0, rate, y, off, off + (length + 0.5) / rate, rate, &general);
                ASSERT_EQ(float_bits(a), float_bits(b)) << rate << " " << from << " " << length;
                EXPECT_EQ(std::tie(same.first, same.end), std::tie(general.first, general.end));
            }
        }
    }
}

// The FFT correlation against the normalized correlation coefficient summed directly in double.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

#include "scan/correlation_scan.h"

namespace {

// Largest difference of the FFT correlation from templ[0..m) against every window of day
// summed directly in double (0 for a window without variance), and where it is.
std::pair<double, size_t> error(const std::vector<float>& day, const std::vector<float>& templ,
                                int m) {
    const std::vector<float> fft = correlate(day, templ, m, static_cast<int>(day.size()));
    const size_t positions = day.size() - m + 1;
    double mean = 0.0, t_norm = 0.0;
    for (int j = 0; j < m; ++j)
        mean += templ[j] / double(m);
    for (int j = 0; j < m; ++j)
        t_norm += (templ[j] - mean) * (templ[j] - mean);
    std::pair<double, size_t> worst{fft.size() == positions ? 0.0 : INFINITY, 0};
    for (size_t p = 0; p < std::min(fft.size(), positions); ++p) {
        double w_mean = 0.0, num = 0.0, w_norm = 0.0;
        for (int j = 0; j < m; ++j)
            w_mean += day[p + j] / double(m);
        for (int j = 0; j < m; ++j) {
            num += (templ[j] - mean) * (day[p + j] - w_mean);
            w_norm += (day[p + j] - w_mean) * (day[p + j] - w_mean);
        }
        const double want = w_norm > 0.0 ? num / std::sqrt(t_norm * w_norm) : 0.0;
        if (!(std::fabs(fft[p] - want) <= worst.first))
            worst = {std::fabs(fft[p] - want), p};
    }
    return worst;
}

// Band-limited noise of about 300 counts: a two-pole resonator driven by normal deviates.
std::vector<float> noise_day(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    std::vector<float> day(n);
    double y1 = 0.0, y2 = 0.0;
    for (float& x : day) {
        const double y = normal(rng) + 1.8 * y1 - 0.9 * y2;
        y2 = std::exchange(y1, y);
        x = static_cast<float>(70.0 * y);
    }
    return day;
}

}  // namespace

TEST(Correlation, MatchesDirectSumsOnNoiseGapsFlatStretchesAndShortTemplates) {
    // Several blocks; a gap of zeros, a flat stretch of 5s and an isolated zero.
    const int n = (1 << 17) + 777, m = 200;
    std::vector<float> day = noise_day(n, 1);
    std::fill(day.begin() + 40000, day.begin() + 43000, 0.0f);
    std::fill(day.begin() + 70000, day.begin() + 70700, 5.0f);
    day[90000] = 0.0f;
    const std::vector<float> own(day.begin() + 12345, day.begin() + 12345 + m);
    for (const auto& templ : {own, noise_day(m, 2)}) {
        for (const int used : {m, 150, 1}) {  // short templates keep their own length
            const auto [difference, where] = error(day, templ, used);
            EXPECT_LT(difference, 1e-5) << "m " << used << " at " << where;
        }
    }
    const std::vector<float> r = correlate(day, own, m, n);
    EXPECT_NEAR(r[12345], 1.0f, 1e-6);
    EXPECT_EQ(*std::max_element(r.begin() + 40000, r.begin() + 43000 - m + 1), 0.0f);  // gap
    EXPECT_EQ(*std::min_element(r.begin() + 70000, r.begin() + 70700 - m + 1), 0.0f);  // flat
    EXPECT_EQ(correlate(day, own, m, 100).size(), 100u);
    EXPECT_TRUE(correlate(day, own, m + 1, n).empty());
    EXPECT_EQ(correlate(day, std::vector<float>(m, 3.0f), m, n), std::vector<float>(n - m + 1));
    // A template longer than a sixteenth of the trace: one block holds it.
    const std::vector<float> short_day(day.begin(), day.begin() + 50001);
    const auto [difference, where] =
        error(short_day, std::vector<float>(day.begin() + 20000, day.begin() + 40000), 20000);
    EXPECT_LT(difference, 1e-5) << "at " << where;

    // Flatness is relative to the data: values near 1e-10 correlate alike; variations within
    // float rounding of a large offset are flat, an offset above real variations is not.
    std::vector<float> small_day(day), small(own), offset(own), nearly_flat(m);
    for (float& x : small_day)
        x *= 1e-12f;
    for (int j = 0; j < m; ++j) {
        small[j] *= 1e-12f;
        offset[j] += 20000.0f;
        nearly_flat[j] = 1e6f + (j % 3 == 0 ? 0.0625f : 0.0f);
    }
    EXPECT_LT(error(small_day, small, m).first, 1e-5);
    EXPECT_NEAR(correlate(day, offset, m, n)[12345], 1.0f, 1e-4);
    EXPECT_LT(error(day, offset, m).first, 1e-3);
    EXPECT_EQ(correlate(day, nearly_flat, m, n), std::vector<float>(n - m + 1));
}

TEST(Correlation, EveryValueIsAccurateRelativeToItsOwnWindow) {
    // Spikes of 1e8 and 1e11 times the noise, a loud stretch (1e4) then a quiet one (1e-4), and
    // filter ringing in a gap (1e-6): block-wide rounding would swamp the quiet windows.
    const int n = (1 << 18) + 333, m = 200;
    std::vector<float> day = noise_day(n, 5);
    day[30000] = 3e10f;
    day[60000] = -3e13f;
    for (int i = 120000; i < 140000; ++i)
        day[i] *= i < 126000 ? 1e4f : 1e-4f;
    for (int i = 200000; i < 206000; ++i)
        day[i] *= 1e-6f;
    const std::vector<float> own(day.begin() + 127000, day.begin() + 127000 + m);
    for (const auto& templ : {own, noise_day(m, 6)}) {
        const auto [difference, where] = error(day, templ, m);
        EXPECT_LT(difference, 1e-4) << "at " << where;
    }
    EXPECT_NEAR(correlate(day, own, m, n)[127000], 1.0f, 1e-6);
}

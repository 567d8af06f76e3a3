// Late in a day at high rates the conditioned samples are where they belong: the same waveform
// recorded early and late in the day gives the same window and the same correlation.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "acquire/get_data.h"
#include "support/mseed_writer.h"

namespace {

// The normalized correlation coefficient of a with b (same length), in double.
double coefficient(const float* a, const float* b, int m) {
    double ma = 0.0, mb = 0.0;
    for (int j = 0; j < m; ++j) {
        ma += a[j];
        mb += b[j];
    }
    ma /= m;
    mb /= m;
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (int j = 0; j < m; ++j) {
        ab += (a[j] - ma) * (b[j] - mb);
        aa += (a[j] - ma) * (a[j] - ma);
        bb += (b[j] - mb) * (b[j] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

}  // namespace

TEST(HighRate, IdenticalRepeatsEarlyAndLateInTheDayCorrelateAlike) {
    for (const int fs : {250, 1000}) {
        Template_file control;
        control.sample_rate = fs;
        control.freq_low = 2.0;
        control.freq_high = 100.0;
        // 60 s of noise with a 50 Hz wavelet in the middle, recorded from 10 s before each
        // window: once at 1000 s, once at 80000 s (where float times step by 8 ms).
        std::mt19937 random(11);
        std::normal_distribution<double> noise(0.0, 100.0);
        std::vector<float> samples(static_cast<size_t>(80 * fs));
        for (size_t i = 0; i < samples.size(); ++i) {
            const double t = static_cast<double>(i) / fs - 40.0;
            const double envelope = t > 0 ? t * std::exp(-t) : 0.0;
            samples[i] = static_cast<float>(
                std::round(noise(random) + 5000 * envelope * std::sin(2 * M_PI * 50 * t)));
        }
        std::vector<std::vector<float>> windows;
        for (const int start : {1000, 80000}) {
            Decoded_day day;
            day.found = true;
            day.starttime = static_cast<double>(day_start_us(2013, 45, start - 10));
            day.samprate = fs;
            day.samples = samples;
            std::ostringstream text;
            windows.push_back(
                condition_window(day, 2013, 45, static_cast<float>(start), 60 * fs, control, text));
            ASSERT_EQ(windows.back().size(), static_cast<size_t>(60 * fs)) << fs;
        }
        // A 5-second template around the wavelet, from the early window; its value against the
        // late window at the same place is the early one's, 1.
        const int m = 5 * fs, at = 29 * fs;
        const double early = coefficient(&windows[0][at], &windows[0][at], m);
        const double late = coefficient(&windows[0][at], &windows[1][at], m);
        EXPECT_NEAR(late, early, 1e-3) << fs << " samples per second";
        double largest = 0.0, difference = 0.0;
        for (int i = 0; i < 60 * fs; ++i) {
            largest = std::max(largest, std::fabs(double(windows[0][i])));
            difference = std::max(difference, std::fabs(double(windows[1][i]) - windows[0][i]));
        }
        EXPECT_LT(difference, 1e-4 * largest) << fs << " samples per second";
    }
}

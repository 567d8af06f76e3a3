// Late in a day at high rates the conditioned samples are where they belong: the same waveform
// recorded early and late in the day gives the same window.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "acquire/get_data.h"
#include "support/mseed_writer.h"

TEST(HighRate, IdenticalRepeatsEarlyAndLateInTheDayGiveTheSameWindow) {
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
            long long non_finite = 0;
            day.segments.push_back(judge_segment(
                {static_cast<double>(day_start_us(2013, 45, start - 10)), double(fs), samples},
                non_finite));
            std::ostringstream text;
            windows.push_back(
                condition_window(day, 2013, 45, static_cast<float>(start), 60 * fs, control, text)
                    .samples);
            ASSERT_EQ(windows.back().size(), static_cast<size_t>(60 * fs)) << fs;
        }
        // Late samples are the early ones: no shift, no float rounding of the sample times that
        // would change a correlation.
        double largest = 0.0, difference = 0.0;
        for (int i = 0; i < 60 * fs; ++i) {
            largest = std::max(largest, std::fabs(double(windows[0][i])));
            difference = std::max(difference, std::fabs(double(windows[1][i]) - windows[0][i]));
        }
        EXPECT_LT(difference, 1e-4 * largest) << fs << " samples per second";
    }
}

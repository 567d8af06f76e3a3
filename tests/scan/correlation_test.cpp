// The FFT correlation against the image library's normalized correlation coefficient.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>

#include "scan/correlation_scan.h"
#include "scan/fft_correlation.h"

namespace {

// The image library's values for templ[0..m) over the whole day.
std::vector<float> reference(const std::vector<float>& day, const std::vector<float>& templ,
                             int m) {
    const cv::Mat day_image(1, static_cast<int>(day.size()), CV_32F,
                            const_cast<float*>(day.data()));
    const cv::Mat templ_image(1, m, CV_32F, const_cast<float*>(templ.data()));
    cv::Mat result;
    cv::matchTemplate(day_image, templ_image, result, cv::TM_CCOEFF_NORMED);
    return std::vector<float>(result.begin<float>(), result.end<float>());
}

// Largest difference between a and b, and where it is.
std::pair<double, size_t> largest_difference(const std::vector<float>& a,
                                             const std::vector<float>& b) {
    std::pair<double, size_t> worst{a.size() == b.size() ? 0.0 : INFINITY, 0};
    for (size_t p = 0; p < std::min(a.size(), b.size()); ++p) {
        const double d = std::fabs(double(a[p]) - b[p]);
        if (!(d <= worst.first)) {
            worst = {d, p};
        }
    }
    return worst;
}

// The normalized correlation coefficient of templ[0..m) with every window of day, summed
// directly in double precision (0 for a window without variance).
std::vector<double> direct(const std::vector<float>& day, const std::vector<float>& templ, int m) {
    double mean = 0.0;
    for (int j = 0; j < m; ++j)
        mean += templ[j];
    mean /= m;
    std::vector<double> t(m);
    double t_norm = 0.0;
    for (int j = 0; j < m; ++j) {
        t[j] = templ[j] - mean;
        t_norm += t[j] * t[j];
    }
    std::vector<double> r(day.size() - m + 1);
    for (size_t p = 0; p < r.size(); ++p) {
        double w_mean = 0.0;
        for (int j = 0; j < m; ++j)
            w_mean += day[p + j];
        w_mean /= m;
        double num = 0.0, w_norm = 0.0;
        for (int j = 0; j < m; ++j) {
            const double d = day[p + j] - w_mean;
            num += t[j] * d;
            w_norm += d * d;
        }
        r[p] = w_norm > 0.0 ? num / std::sqrt(t_norm * w_norm) : 0.0;
    }
    return r;
}

// Band-limited noise of about 300 counts: a two-pole resonator driven by normal deviates.
std::vector<float> noise_day(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    std::vector<float> day(n);
    double y1 = 0.0, y2 = 0.0;
    for (float& x : day) {
        const double y = normal(rng) + 1.8 * y1 - 0.9 * y2;
        y2 = y1;
        y1 = y;
        x = static_cast<float>(70.0 * y);
    }
    return day;
}

}  // namespace

TEST(Correlation, MatchesTheImageLibraryOnNoiseGapsFlatStretchesAndShortTemplates) {
    // Several blocks of positions; a gap of zeros and a flat stretch of 5s in the middle, and an
    // isolated zero.
    const int n = (1 << 17) + 777, m = 200;
    std::vector<float> day = noise_day(n, 1);
    std::fill(day.begin() + 40000, day.begin() + 43000, 0.0f);
    std::fill(day.begin() + 70000, day.begin() + 70700, 5.0f);
    day[90000] = 0.0f;
    const std::vector<float> own(day.begin() + 12345, day.begin() + 12345 + m);
    const std::vector<float> other = noise_day(m, 2);
    for (const auto* templ : {&own, &other}) {
        for (const int used : {m, 150, 1}) {  // short templates keep their own length
            const std::vector<float> fft = correlate(day, *templ, used, n);
            std::vector<float> expected = reference(day, *templ, used);
            if (used == 1) {
                expected.assign(expected.size(), 0.0f);  // no variance: 0, not the library's 1
            }
            const auto [difference, where] = largest_difference(fft, expected);
            EXPECT_LT(difference, 1e-5) << "m " << used << " at " << where;
        }
    }
    EXPECT_NEAR(correlate(day, own, m, n)[12345], 1.0f, 1e-6);
    EXPECT_EQ(correlate(day, own, m, 100).size(), 100u);
    EXPECT_TRUE(correlate(day, own, m + 1, n).empty());
    // Inside the gap and the flat stretch every window is flat: exactly 0.
    const std::vector<float> r = correlate(day, own, m, n);
    EXPECT_EQ(*std::max_element(r.begin() + 40000, r.begin() + 43000 - m + 1), 0.0f);
    EXPECT_EQ(*std::min_element(r.begin() + 70000, r.begin() + 70700 - m + 1), 0.0f);
    EXPECT_EQ(correlate(day, std::vector<float>(m, 3.0f), m, n), std::vector<float>(n - m + 1));

    // A template longer than a sixteenth of the trace: one block of the smallest size of factors
    // 2, 3, 5 and 7 (a multiple of 4) that holds the trace, not a power of two beyond it.
    EXPECT_EQ(fft_size(m, n), 4096);
    EXPECT_EQ(fft_size(20000, 50000), 50000);
    EXPECT_EQ(fft_size(20000, 50001), 50176);
    EXPECT_EQ(fft_size(20000), 1 << 19);
    EXPECT_EQ(fast_size(1), 4);
    EXPECT_EQ(fast_size(2128000), 2143260);
    const std::vector<float> short_day(day.begin(), day.begin() + 50001);
    const std::vector<float> long_template(day.begin() + 20000, day.begin() + 40000);
    const std::vector<float> whole = correlate(short_day, long_template, 20000, 50001);
    const auto [difference, where] =
        largest_difference(whole, reference(short_day, long_template, 20000));
    EXPECT_LT(difference, 1e-5) << "at " << where;
    EXPECT_NEAR(whole[20000], 1.0f, 1e-6);
}

TEST(Correlation, FlatnessIsRelativeToTheDataMagnitude) {
    const int n = 50000, m = 300;
    const std::vector<float> day = noise_day(n, 3);
    const std::vector<float> templ(day.begin() + 2000, day.begin() + 2000 + m);
    const std::vector<float> unscaled = correlate(day, templ, m, n);
    // Physical units: the same values around 1e-10 correlate the same.
    std::vector<float> small_day(day), small_templ(templ);
    for (float& x : small_day)
        x *= 1e-12f;
    for (float& x : small_templ)
        x *= 1e-12f;
    EXPECT_LT(largest_difference(correlate(small_day, small_templ, m, n), unscaled).first, 1e-6);
    // An offset far above the variations: a shape still, not a constant (nor 1 everywhere);
    // variations within float rounding of the offset are flat.
    std::vector<float> offset(templ), nearly_flat(m);
    for (int j = 0; j < m; ++j) {
        offset[j] += 20000.0f;
        nearly_flat[j] = 1e6f + (j % 3 == 0 ? 0.0625f : 0.0f);
    }
    const std::vector<float> with_offset = correlate(day, offset, m, n);
    EXPECT_LT(largest_difference(with_offset, unscaled).first, 1e-3);
    EXPECT_NEAR(with_offset[2000], 1.0f, 1e-4);
    EXPECT_EQ(correlate(day, nearly_flat, m, n), std::vector<float>(n - m + 1));
}

TEST(Correlation, EveryValueIsAccurateRelativeToItsOwnWindow) {
    // Beside spikes of 1e8 and 1e11 times the noise, a loud stretch (an earthquake 1e4 times the
    // noise) with a quiet one (1e-4) right after it, and a stretch of filter ringing in a gap
    // (1e-6), the transforms' rounding, which follows the energy of the whole block, would swamp
    // the quiet windows.
    const int n = (1 << 18) + 333, m = 200;
    std::vector<float> day = noise_day(n, 5);
    day[30000] = 3e10f;
    day[60000] = -3e13f;
    for (int i = 120000; i < 126000; ++i)
        day[i] *= 1e4f;
    for (int i = 126000; i < 140000; ++i)
        day[i] *= 1e-4f;
    for (int i = 200000; i < 206000; ++i)
        day[i] *= 1e-6f;
    const std::vector<float> own(day.begin() + 127000, day.begin() + 127000 + m);
    const std::vector<float> other = noise_day(m, 6);
    for (const auto* templ : {&own, &other}) {
        const std::vector<float> fft = correlate(day, *templ, m, n);
        const std::vector<double> want = direct(day, *templ, m);
        ASSERT_EQ(fft.size(), want.size());
        double worst = 0.0;
        size_t where = 0;
        for (size_t p = 0; p < want.size(); ++p) {
            if (!(std::fabs(fft[p] - want[p]) <= worst)) {
                worst = std::fabs(fft[p] - want[p]);
                where = p;
            }
        }
        EXPECT_LT(worst, 1e-4) << "at " << where << ": " << fft[where] << " for " << want[where];
    }
    EXPECT_NEAR(correlate(day, own, m, n)[127000], 1.0f, 1e-6);
}

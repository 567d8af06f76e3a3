// The FFT correlation against the image library's normalized correlation coefficient.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>

#include "scan/correlation_scan.h"

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

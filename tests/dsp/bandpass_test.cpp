#include "dsp/bandpass.h"

#include "dsp/butterworth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace {

const double pi = 3.141592653589793;

struct Band {
    double low, high, fs;
};
// A usual band and the low ones that once overflowed through the float feedback.
const Band bands[] = {{1, 10, 100}, {0.5, 1, 100}, {0.2, 1, 100}, {1, 2, 200}, {0.5, 2, 250}};

// The same zero-phase filtering as bandpass in long double throughout, with nothing rounded to
// float, from the same designed coefficients.
std::vector<long double> reference(const std::vector<float>& x, const Band& band) {
    const double w1 = 2 * band.low / band.fs, w2 = 2 * band.high / band.fs;
    double* a = ComputeDenCoeffs(3, w1, w2);
    double* b = ComputeNumCoeffs(3, w1, w2, a);
    long double mean = 0;
    for (float v : x)
        mean += v;
    mean /= x.size();
    std::vector<long double> y(x.begin(), x.end());
    for (long double& v : y)
        v -= mean;
    long double z[7] = {0};  // carried from the forward pass into the backward one
    for (int pass = 0; pass < 2; ++pass) {
        for (long double& v : y) {
            const long double in = v;
            v = b[0] * in + z[0];
            for (int k = 1; k <= 6; ++k)
                z[k - 1] = (b[k] * in + z[k]) - a[k] * v;
        }
        std::reverse(y.begin(), y.end());
    }
    std::free(a);
    std::free(b);
    return y;
}

}  // namespace

TEST(BandpassTest, ZeroPhaseButterworthAtUsualAndLowBands) {
    for (const Band& band : bands) {
        ASSERT_TRUE(bandpass_is_stable(band.low, band.high, 3, band.fs)) << band.low;
        // Off centre, so a reversed output shows; long enough for the low bands to die out.
        std::vector<float> x(20001, 0.0f);
        x[8000] = 1.0f;
        bandpass(x, band.low, band.high, 3, band.fs);
        ASSERT_EQ(x.size(), 20001u);
        for (int k = 1; k <= 6000; ++k)
            ASSERT_NEAR(x[8000 - k], x[8000 + k], 1e-5 * x[8000]) << band.low << " lag " << k;
        // Two passes square the magnitude: 1 at the prewarped centre, 1/2 at the corners.
        const double centre = band.fs / pi *
                              std::atan(std::sqrt(std::tan(pi * band.low / band.fs) *
                                                  std::tan(pi * band.high / band.fs)));
        for (double f : {centre, band.low, band.high}) {
            double response = 0.0;
            for (int k = -8000; k <= 8000; ++k)
                response += x[8000 + k] * std::cos(2 * pi * f * k / band.fs);
            EXPECT_NEAR(response, f == centre ? 1.0 : 0.5, 2e-3) << band.low << ": " << f << " Hz";
        }

        // Noise in counts with a strong tone in the band and a step near the end, where the
        // state carried into the backward pass matters most. The stored samples are the only
        // rounding: float rounding fed back through the recursion was off by 2e-4 of the peak
        // at 1-10 Hz and overflowed at the low bands.
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 1000.0);
        std::vector<float> trace(40000);
        for (size_t i = 0; i < trace.size(); ++i)
            trace[i] = std::round(noise(random) + (i > 39000 ? 5000.0 : 0.0) +
                                  3000 * std::sin(2 * pi * centre * i / band.fs));
        const std::vector<long double> want = reference(trace, band);
        bandpass(trace, band.low, band.high, 3, band.fs);
        long double peak = 0, error = 0;
        for (size_t i = 0; i < trace.size(); ++i) {
            peak = std::max(peak, std::fabs(want[i]));
            error = std::max(error, std::fabs(trace[i] - want[i]));
        }
        EXPECT_LT(error, 1e-5 * peak) << band.low << "-" << band.high << " at " << band.fs;
    }
}

TEST(BandpassTest, DegenerateInputAndBandsThatCannotBeFiltered) {
    std::vector<float> constant(1000, 3.7f);
    bandpass(constant, 1.0, 10.0, 3, 100.0);
    EXPECT_EQ(constant, std::vector<float>(1000, 0.0f));
    std::vector<float> empty;
    bandpass(empty, 1.0, 10.0, 3, 100.0);
    EXPECT_TRUE(empty.empty());
    std::vector<float> trace = {1.0f, 2.0f};
    EXPECT_THROW(bandpass(trace, 1.0, 10.0, 0, 100.0), std::invalid_argument);
    EXPECT_EQ(trace, (std::vector<float>{1.0f, 2.0f}));

    // Corners out of order or range, and designs that rounding has broken: the poles of
    // 0.1-0.2 Hz at 100/s leave the unit circle; those of 61.7-61.76 Hz at 1000/s too, while
    // the response still looks right at every frequency checked; 0.021-0.42 Hz at 100/s keeps
    // its poles but its response is no longer the Butterworth one.
    EXPECT_TRUE(bandpass_is_stable(2.0, 10.0, 3, 100.0));
    EXPECT_TRUE(bandpass_is_stable(0.5, 3.0, 3, 10.0));
    const Band refused[] = {{10, 1, 100},      {1, 50, 100},        {0, 10, 100},
                            {1, 10, 0},        {0.1, 0.2, 100},     {0.5, 1, 1000},
                            {0.01, 0.02, 100}, {61.7, 61.76, 1000}, {0.021, 0.42, 100}};
    for (const Band& band : refused)
        EXPECT_FALSE(bandpass_is_stable(band.low, band.high, 3, band.fs))
            << band.low << "-" << band.high << " at " << band.fs;
    EXPECT_FALSE(bandpass_is_stable(1.0, 10.0, 0, 100.0));
}

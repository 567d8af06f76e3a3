#include "dsp/bandpass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "dsp/butterworth.h"

namespace {

constexpr double pi = 3.141592653589793;

// Direct-form recursion y[i] = sum b[k] x[i-k] - sum a[k] y[i-k] from rest, outputs rounded
// to float.
std::vector<float> direct_filter(const double* b, const double* a, int order,
                                 const std::vector<float>& x) {
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        double acc = 0.0;
        for (int k = 0; k <= order && k <= static_cast<int>(i); ++k) {
            acc += b[k] * x[i - k];
            if (k > 0) {
                acc -= a[k] * y[i - k];
            }
        }
        y[i] = static_cast<float>(acc);
    }
    return y;
}

// Forward-backward filtering whose backward pass starts from rest.
std::vector<float> restarted_reference(std::vector<float> x, double f_low, double f_high,
                                       double fs) {
    double mean = 0.0;
    for (float v : x) {
        mean += v;
    }
    mean /= static_cast<double>(x.size());
    for (float& v : x) {
        v = static_cast<float>(v - mean);
    }
    double* a = ComputeDenCoeffs(3, 2 * f_low / fs, 2 * f_high / fs);
    double* b = ComputeNumCoeffs(3, 2 * f_low / fs, 2 * f_high / fs, a);
    std::vector<float> y = direct_filter(b, a, 6, x);
    std::reverse(y.begin(), y.end());
    y = direct_filter(b, a, 6, y);
    std::reverse(y.begin(), y.end());
    std::free(a);
    std::free(b);
    return y;
}

std::vector<float> sine(std::size_t count, double freq, double fs, double amplitude) {
    std::vector<float> x(count);
    for (std::size_t i = 0; i < count; ++i) {
        x[i] = static_cast<float>(amplitude * std::sin(2 * pi * freq * i / fs + 0.3));
    }
    return x;
}

// Least-squares gain of out against in over [from, to): the zero-phase steady-state gain.
double gain(const std::vector<float>& out, const std::vector<float>& in, std::size_t from,
            std::size_t to) {
    double cross = 0.0;
    double power = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        cross += static_cast<double>(out[i]) * in[i];
        power += static_cast<double>(in[i]) * in[i];
    }
    return cross / power;
}

}  // namespace

TEST(BandpassTest, DegenerateInputs) {
    std::vector<float> empty;
    bandpass(empty, 1.0, 10.0, 3, 100.0);
    EXPECT_TRUE(empty.empty());

    std::vector<float> single = {42.5f};
    bandpass(single, 1.0, 10.0, 3, 100.0);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0], 0.0f);

    std::vector<float> constant(1000, 3.7f);
    bandpass(constant, 1.0, 10.0, 3, 100.0);
    ASSERT_EQ(constant.size(), 1000u);
    for (float v : constant) {
        ASSERT_EQ(v, 0.0f);
    }

    std::vector<float> trace = {1.0f, 2.0f};
    EXPECT_THROW(bandpass(trace, 1.0, 10.0, 0, 100.0), std::invalid_argument);
}

TEST(BandpassTest, ImpulseResponseIsSymmetric) {
    const std::size_t count = 8001;
    const std::size_t middle = 4000;
    std::vector<float> x(count, 0.0f);
    x[middle] = 1.0f;
    bandpass(x, 1.0, 10.0, 3, 100.0);
    ASSERT_EQ(x.size(), count);
    const float peak = x[middle];
    EXPECT_GT(peak, 0.05f);
    // Each pass rounds its outputs to float and the recursion amplifies that rounding, so the
    // two sides agree to a few parts in 1e5 of the peak (about 1e-13 in double).
    for (std::size_t k = 1; k <= 1500; ++k) {
        ASSERT_NEAR(x[middle - k], x[middle + k], 2e-4f * peak) << "lag " << k;
    }
}

TEST(BandpassTest, BackwardPassCarriesForwardState) {
    const double fs = 100.0;
    std::vector<float> x(3000);
    unsigned state = 12345u;
    for (float& v : x) {
        state = state * 1103515245u + 12345u;
        v = static_cast<float>((state >> 8) % 2001) / 1000.0f - 1.0f;
    }
    const std::vector<float> restarted = restarted_reference(x, 1.0, 10.0, fs);
    bandpass(x, 1.0, 10.0, 3, fs);
    ASSERT_EQ(x.size(), restarted.size());

    double rms = 0.0;
    for (float v : restarted) {
        rms += static_cast<double>(v) * v;
    }
    rms = std::sqrt(rms / restarted.size());
    // Far from the end both agree up to float rounding (amplified by the recursion to about
    // 2e-4 of the rms); the last samples differ visibly.
    for (std::size_t i = 0; i < 1000; ++i) {
        ASSERT_NEAR(x[i], restarted[i], 1e-3 * rms) << i;
    }
    double tail = 0.0;
    for (std::size_t i = x.size() - 20; i < x.size(); ++i) {
        tail = std::max(tail, std::fabs(static_cast<double>(x[i]) - restarted[i]));
    }
    EXPECT_GT(tail, 0.05 * rms);
}

TEST(BandpassTest, GainAtCentreAndCorner) {
    const double fs = 100.0;
    const double centre =
        fs / pi * std::atan(std::sqrt(std::tan(pi * 1.0 / fs) * std::tan(pi * 10.0 / fs)));
    const double freqs[] = {centre, 1.0, 10.0};
    const double expected[] = {1.0, 0.5, 0.5};  // squared magnitude: two passes
    for (int f = 0; f < 3; ++f) {
        const std::vector<float> in = sine(6000, freqs[f], fs, 2.0);
        std::vector<float> out = in;
        bandpass(out, 1.0, 10.0, 3, fs);
        EXPECT_NEAR(gain(out, in, 1500, 4500), expected[f], 2e-3) << freqs[f] << " Hz";
    }
}

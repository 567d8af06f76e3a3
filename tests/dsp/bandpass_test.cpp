#include "dsp/bandpass.h"
#include "support/float_bits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numeric>
#include <random>
#include <stdexcept>

namespace {

const double pi = 3.141592653589793;

struct Band {
    double low, high, fs;
};
// Usual bands and low ones (tremor, long-period, volcanic) at several rates.
const Band bands[] = {{2, 10, 100},     {0.5, 1, 100}, {0.1, 0.2, 40}, {0.1, 0.2, 1000},
                      {0.05, 0.5, 100}, {0.5, 1, 200}, {0.5, 2, 500}};

// Ideal zero-phase response of the 6-pole Butterworth band-pass, corners prewarped.
double ideal_squared(const Band& band, double f) {
    const double lo = std::tan(pi * band.low / band.fs), hi = std::tan(pi * band.high / band.fs);
    const double t = std::tan(pi * f / band.fs);
    const double x = (t * t - lo * hi) / (t * (hi - lo));
    return 1.0 / (1.0 + std::pow(x, 6));
}

using Complex = std::complex<long double>;

// The causal band-pass from zero state in long double: zeros (1 - z^-2)^3, then one complex
// first-order recursion per bilinear-mapped analog pole.
void causal(std::vector<long double>& x, const Band& band) {
    const long double lo = std::tan(pi * band.low / band.fs),
                      hi = std::tan(pi * band.high / band.fs);
    std::vector<Complex> poles;
    for (int k = 0; k < 3; ++k) {
        const Complex p = std::polar(1.0L, static_cast<long double>(pi) * (2 * k + 4) / 6);
        const Complex half = p * (hi - lo) / 2.0L, root = std::sqrt(half * half - lo * hi);
        for (const Complex& s : {half + root, half - root})
            poles.push_back((1.0L + s) / (1.0L - s));
    }
    const Complex e = std::polar(1.0L, -2.0L * std::atan(std::sqrt(lo * hi)));
    Complex h = std::pow(1.0L - e * e, 3);
    for (const Complex& z : poles)
        h /= 1.0L - z * e;
    std::vector<Complex> y(x.begin(), x.end());
    for (int pass = 0; pass < 3; ++pass)
        for (size_t i = y.size(); i-- > 2;)
            y[i] -= y[i - 2];
    for (const Complex& z : poles) {
        Complex state = 0;
        for (Complex& v : y)
            v = state = v + z * state;
    }
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = y[i].real() / std::abs(h);
}

}  // namespace

TEST(BandpassTest, IdealResponseAndALongDoubleReferenceAtUsualAndLowBands) {
    for (const Band& band : bands) {
        // An impulse with room for the slowest pole (time constant ~1 / (pi × min corner)).
        const double slowest = std::min(band.low, band.high - band.low);
        const int half = static_cast<int>(40.0 / (pi * slowest) * band.fs);
        std::vector<float> x(4 * half + 1, 0.0f);
        const int c = 2 * half;
        x[c] = 1.0f;
        bandpass(x, band.low, band.high, 3, band.fs);
        // Its spectrum from a tenth of the low corner to ten times the high one (or Nyquist).
        for (double f = band.low / 10; f < std::min(10 * band.high, band.fs / 2); f *= 1.07) {
            double response = 0.0;
            for (int k = -half; k <= half; ++k)
                response += x[c + k] * std::cos(2 * pi * f * k / band.fs);
            ASSERT_NEAR(response, ideal_squared(band, f), 1e-4)
                << band.low << "-" << band.high << " at " << band.fs << ": " << f << " Hz";
        }
        // Noise, a tone in the band and a step near the end, where the carried state matters.
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 1000.0);
        const double tone = std::sqrt(band.low * band.high);
        std::vector<float> trace(40000);
        for (size_t i = 0; i < trace.size(); ++i)
            trace[i] = std::round(noise(random) + (i > 39000 ? 5000.0 : 0.0) +
                                  3000 * std::sin(2 * pi * tone * i / band.fs));
        // The backward pass continues the causal filter over the mean-free trace followed by
        // the reversed forward output.
        const size_t n = trace.size();
        const long double mean = std::accumulate(trace.begin(), trace.end(), 0.0L) / n;
        std::vector<long double> both(trace.begin(), trace.end());
        for (long double& v : both)
            v -= mean;
        std::vector<long double> forward(both);
        causal(forward, band);
        both.insert(both.end(), forward.rbegin(), forward.rend());
        causal(both, band);
        bandpass(trace, band.low, band.high, 3, band.fs);
        long double top = 0, error = 0;
        for (size_t i = 0; i < n; ++i) {
            const long double want = both[2 * n - 1 - i];
            top = std::max(top, std::fabs(want));
            error = std::max(error, std::fabs(trace[i] - want));
        }
        EXPECT_LT(error, 1e-5 * top) << band.low << "-" << band.high << " at " << band.fs;
    }
}

TEST(BandpassTest, DegenerateInputAndBandsThatCannotBeHeld) {
    std::vector<float> constant(1000, 3.7f);
    bandpass(constant, 1.0, 10.0, 3, 100.0);
    EXPECT_EQ(constant, std::vector<float>(1000, 0.0f));
    std::vector<float> empty;
    bandpass(empty, 1.0, 10.0, 3, 100.0);
    EXPECT_TRUE(empty.empty());
    std::vector<float> trace = {1.0f, 2.0f};
    EXPECT_THROW(bandpass(trace, 1.0, 10.0, 0, 100.0), std::invalid_argument);
    EXPECT_EQ(trace, (std::vector<float>{1.0f, 2.0f}));
    // Band, whether it is held: narrow, very low and near-Nyquist ones are; corners out of order
    // or range are not, nor those too far below the rate for double precision to place poles.
    const std::pair<Band, bool> cases[] = {
        {{0.001, 0.002, 1000}, true}, {{10, 10.001, 100}, true},   {{1, 49.99, 100}, true},
        {{0.5, 3, 10}, true},         {{10, 1, 100}, false},       {{1, 50, 100}, false},
        {{0, 10, 100}, false},        {{1e-4, 2e-4, 1000}, false}, {{1, 10, 0}, false}};
    for (const auto& [band, held] : cases)
        EXPECT_EQ(bandpass_is_stable(band.low, band.high, 3, band.fs), held)
            << band.low << "-" << band.high << " at " << band.fs;
    EXPECT_FALSE(bandpass_is_stable(1.0, 10.0, 0, 100.0));
}

TEST(BandpassTest, TwoTracesTogetherGetTheBitsOfEachAlone) {
    // Unequal lengths either way round (the longer's rest runs alone), a trace of one sample, a
    // spike, zero runs, and orders other than the usual 3, which are filtered one by one.
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 100.0f);
    const auto trace = [&](std::size_t n) {
        std::vector<float> t(n);
        for (float& x : t)
            x = noise(rng);
        if (n > 600) {
            std::fill(t.begin() + 200, t.begin() + 500, 0.0f);
            t[n / 2] = 1e8f;
        }
        return t;
    };
    const std::pair<std::size_t, std::size_t> lengths[] = {
        {5000, 5000}, {7001, 3000}, {2500, 6003}, {1, 900}, {900, 1}};
    for (const int n : {3, 2})
        for (const auto& [na, nb] : lengths) {
            std::vector<float> a = trace(na), b = trace(nb), alone_a = a, alone_b = b;
            bandpass(alone_a, 2.0, 10.0, n, 100.0);
            bandpass(alone_b, 2.0, 10.0, n, 100.0);
            bandpass_two(a, b, 2.0, 10.0, n, 100.0);
            EXPECT_EQ(float_bits(a), float_bits(alone_a)) << n << " " << na << " " << nb;
            EXPECT_EQ(float_bits(b), float_bits(alone_b)) << n << " " << na << " " << nb;
        }
}

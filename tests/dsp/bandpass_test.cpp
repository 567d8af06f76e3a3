#include "dsp/bandpass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>

namespace {

const double pi = 3.141592653589793;

struct Band {
    double low, high, fs;
};
// The example's band, a usual one, and low bands of tremor, long-period and volcanic studies
// that the filter must hold at every rate.
const Band bands[] = {{2, 10, 100},   {1, 10, 100},     {0.5, 1, 100},
                      {0.1, 0.2, 40}, {0.1, 0.2, 1000}, {0.05, 0.5, 100},
                      {0.2, 1, 200},  {0.5, 1, 200},    {0.5, 2, 500}};

// The ideal zero-phase response (both passes) of the 6-pole Butterworth band-pass at f Hz, from
// the analog prototype with corners prewarped for the bilinear transform.
double ideal_squared(const Band& band, double f) {
    const double lo = std::tan(pi * band.low / band.fs), hi = std::tan(pi * band.high / band.fs);
    const double t = std::tan(pi * f / band.fs);
    const double x = (t * t - lo * hi) / (t * (hi - lo));
    return 1.0 / (1.0 + std::pow(x, 6));
}

using Complex = std::complex<long double>;

// The causal 6-pole band-pass from zero state in long double, realised independently of the
// filter under test: zeros (1 - z^-2)^3 as a moving difference, then one first-order complex
// recursion per pole, the poles being the bilinear images of the analog band-pass poles.
std::vector<long double> causal(const std::vector<long double>& x, const Band& band) {
    const long double lo = std::tan(pi * band.low / band.fs),
                      hi = std::tan(pi * band.high / band.fs);
    std::vector<Complex> poles;
    for (int k = 0; k < 3; ++k) {
        const Complex p = std::polar(1.0L, static_cast<long double>(pi) * (2 * k + 4) / 6);
        const Complex half = p * (hi - lo) / 2.0L, root = std::sqrt(half * half - lo * hi);
        for (const Complex& s : {half + root, half - root})
            poles.push_back((1.0L + s) / (1.0L - s));
    }
    // Unit gain at the prewarped centre.
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
    std::vector<long double> out(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        out[i] = y[i].real() / std::abs(h);
    return out;
}

}  // namespace

TEST(BandpassTest, ZeroPhaseIdealResponseAtUsualAndLowBands) {
    for (const Band& band : bands) {
        ASSERT_TRUE(bandpass_is_stable(band.low, band.high, 3, band.fs))
            << band.low << "-" << band.high << " at " << band.fs;
        // An impulse with room on each side for the response to die out: many times the slowest
        // pole's time constant, which is about 1 / (pi × the smaller of the low corner and the
        // bandwidth).
        const double slowest = std::min(band.low, band.high - band.low);
        const int half = static_cast<int>(40.0 / (pi * slowest) * band.fs);
        std::vector<float> x(4 * half + 1, 0.0f);
        const int c = 2 * half;
        x[c] = 1.0f;
        bandpass(x, band.low, band.high, 3, band.fs);
        ASSERT_EQ(x.size(), 4u * half + 1);
        double peak = 0.0;
        for (int k = 1; k <= half; ++k)
            peak = std::max(peak, std::fabs(double(x[c - k]) - x[c + k]));
        EXPECT_LT(peak, 1e-6 * x[c]) << band.low << "-" << band.high << ": not symmetric";
        // Its spectrum is the squared Butterworth magnitude from a tenth of the low corner to
        // ten times the high one (or Nyquist).
        for (double f = band.low / 10; f < std::min(10 * band.high, band.fs / 2); f *= 1.07) {
            double response = 0.0;
            for (int k = -half; k <= half; ++k)
                response += x[c + k] * std::cos(2 * pi * f * k / band.fs);
            ASSERT_NEAR(response, ideal_squared(band, f), 1e-4)
                << band.low << "-" << band.high << " at " << band.fs << ": " << f << " Hz";
        }
    }
}

TEST(BandpassTest, MatchesALongDoubleReferenceWithTheForwardStateCarriedBackwards) {
    for (const Band& band : bands) {
        // Noise in counts with a strong tone in the band and a step near the end, where the
        // state carried into the backward pass matters most.
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 1000.0);
        const double tone = std::sqrt(band.low * band.high);
        std::vector<float> trace(40000);
        for (size_t i = 0; i < trace.size(); ++i)
            trace[i] = std::round(noise(random) + (i > 39000 ? 5000.0 : 0.0) +
                                  3000 * std::sin(2 * pi * tone * i / band.fs));
        // The backward pass starts from the forward pass's state: it continues the causal
        // filter run over the mean-free trace followed by the reversed forward output.
        const size_t n = trace.size();
        long double mean = 0;
        for (float v : trace)
            mean += v;
        mean /= n;
        std::vector<long double> both(2 * n);
        for (size_t i = 0; i < n; ++i)
            both[i] = trace[i] - mean;
        const std::vector<long double> forward =
            causal(std::vector<long double>(both.begin(), both.begin() + n), band);
        std::reverse_copy(forward.begin(), forward.end(), both.begin() + n);
        const std::vector<long double> backward = causal(both, band);

        bandpass(trace, band.low, band.high, 3, band.fs);
        long double peak = 0, error = 0;
        for (size_t i = 0; i < n; ++i) {
            const long double want = backward[2 * n - 1 - i];
            peak = std::max(peak, std::fabs(want));
            error = std::max(error, std::fabs(trace[i] - want));
        }
        EXPECT_LT(error, 1e-5 * peak) << band.low << "-" << band.high << " at " << band.fs;
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

    // Narrow, very low and near-Nyquist bands are held; corners out of order or range are not,
    // nor corners so far below the rate (a ten-millionth) that double precision cannot place
    // the poles.
    const Band held[] = {{0.1, 0.2, 100},     {0.5, 1, 1000},     {0.01, 0.02, 100},
                         {61.7, 61.76, 1000}, {0.021, 0.42, 100}, {0.001, 0.002, 1000},
                         {10, 10.001, 100},   {1, 49.99, 100},    {0.5, 3, 10}};
    for (const Band& band : held)
        EXPECT_TRUE(bandpass_is_stable(band.low, band.high, 3, band.fs))
            << band.low << "-" << band.high << " at " << band.fs;
    const Band refused[] = {{10, 1, 100}, {1, 50, 100},       {0, 10, 100},
                            {1, 10, 0},   {1e-4, 2e-4, 1000}, {1e-6, 1e-5, 100}};
    for (const Band& band : refused)
        EXPECT_FALSE(bandpass_is_stable(band.low, band.high, 3, band.fs))
            << band.low << "-" << band.high << " at " << band.fs;
    EXPECT_FALSE(bandpass_is_stable(1.0, 10.0, 0, 100.0));
}

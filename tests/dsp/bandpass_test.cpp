#include "dsp/bandpass.h"

#include "dsp/butterworth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

TEST(BandpassTest, ImpulseConstantAndOrder) {
    const double pi = 3.141592653589793;
    std::vector<float> x(8001, 0.0f);
    x[3000] = 1.0f;  // off centre, so a reversed output shows
    bandpass(x, 1.0, 10.0, 3, 100.0);
    ASSERT_EQ(x.size(), 8001u);
    // Float rounding in each pass, amplified by the recursion, bounds the symmetry.
    for (int k = 1; k <= 1500; ++k) {
        ASSERT_NEAR(x[3000 - k], x[3000 + k], 2e-4f * x[3000]) << "lag " << k;
    }
    // Two passes square the magnitude: 1 at the prewarped centre, 1/2 at the corners.
    const double centre = 100 / pi * std::atan(std::sqrt(std::tan(pi / 100) * std::tan(pi / 10)));
    for (double f : {centre, 1.0, 10.0}) {
        double response = 0.0;
        for (int k = -2500; k <= 2500; ++k) {
            response += x[3000 + k] * std::cos(2 * pi * f * k / 100);
        }
        EXPECT_NEAR(response, f == centre ? 1.0 : 0.5, 2e-3) << f << " Hz";
    }
    std::vector<float> constant(1000, 3.7f);
    bandpass(constant, 1.0, 10.0, 3, 100.0);
    EXPECT_EQ(constant, std::vector<float>(1000, 0.0f));
    std::vector<float> trace = {1.0f, 2.0f};
    EXPECT_THROW(bandpass(trace, 1.0, 10.0, 0, 100.0), std::invalid_argument);
    EXPECT_EQ(trace, (std::vector<float>{1.0f, 2.0f}));
}

// The backward pass starts from the state the forward pass left: against a backward pass
// restarted from zero, the end of the output differs and the difference dies out towards the
// beginning.
TEST(BandpassTest, BackwardPassCarriesTheForwardState) {
    std::vector<float> x(4000);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = std::sin(0.3f * i) + (i > 3900 ? 5.0f : 0.0f);
    std::vector<float> restarted = x;
    double* a = ComputeDenCoeffs(3, 0.02, 0.2);
    double* b = ComputeNumCoeffs(3, 0.02, 0.2, a);
    double mean = 0.0;
    for (float v : restarted)
        mean += v / restarted.size();
    for (float& v : restarted)
        v = static_cast<float>(v - mean);
    for (int pass = 0; pass < 2; ++pass) {
        double z[7] = {0};
        for (float& v : restarted) {
            const double in = v;
            v = static_cast<float>(b[0] * in + z[0]);
            for (int k = 1; k <= 6; ++k)
                z[k - 1] = (b[k] * in + z[k]) - a[k] * double(v);
        }
        std::reverse(restarted.begin(), restarted.end());
    }
    free(a);
    free(b);
    bandpass(x, 1.0, 10.0, 3, 100.0);
    EXPECT_GT(std::fabs(x.back() - restarted.back()), 0.1) << x.back() << " " << restarted.back();
    for (size_t i = 0; i < 1000; ++i)
        ASSERT_NEAR(x[i], restarted[i], 1e-3) << i;
}

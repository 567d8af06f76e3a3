#include "dsp/butterworth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>

TEST(ButterworthTest, KnownBandsAndResponse) {
    const double pi = 3.141592653589793;
    // f1, f2, then reference order-6 designs: gain of b = gain (1 - z^-2)^3, and a1..a6.
    const double ref[2][9] = {{0.02, 0.2, 0.0138200739, -4.78290878, 9.63126604, -10.4939778,
                               6.54436315, -2.21613085, 0.317425477},
                              {0.1, 0.4, 0.0495329964, -3.30291642, 4.95322220, -4.44607963,
                               2.56463809, -0.880287261, 0.137761301}};
    const double shape[7] = {1, 0, -3, 0, 3, 0, -1};
    for (const auto& r : ref) {
        double* a = ComputeDenCoeffs(3, r[0], r[1]);
        double* b = a != nullptr ? ComputeNumCoeffs(3, r[0], r[1], a) : nullptr;
        ASSERT_NE(b, nullptr);
        for (int k = 0; k < 7; ++k) {
            const double a_ref = k == 0 ? 1.0 : r[k + 2];
            EXPECT_NEAR(a[k], a_ref, 1e-8 * std::max(1.0, std::fabs(a_ref))) << r[0] << " a" << k;
            EXPECT_NEAR(b[k], r[2] * shape[k], 1e-8) << r[0] << " b" << k;
        }
        // |B/A| on the unit circle: 1 at the prewarped centre, half power at both corners.
        const double centre =
            2 * std::atan(std::sqrt(std::tan(pi * r[0] / 2) * std::tan(pi * r[1] / 2)));
        for (double w : {centre, pi * r[0], pi * r[1]}) {
            std::complex<double> num = 0.0;
            std::complex<double> den = 0.0;
            for (int k = 0; k <= 6; ++k) {
                num += b[k] * std::polar(1.0, -k * w);
                den += a[k] * std::polar(1.0, -k * w);
            }
            EXPECT_NEAR(std::abs(num / den), w == centre ? 1.0 : std::sqrt(0.5), 1e-9) << w;
        }
        std::free(a);
        std::free(b);
    }
}

#include "dsp/butterworth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr double pi = 3.141592653589793;

struct Free_deleter {
    void operator()(double* p) const { std::free(p); }
};
using Block = std::unique_ptr<double, Free_deleter>;

// |B(e^{jw}) / A(e^{jw})| for polynomials in z^-1 of 2n + 1 coefficients.
double magnitude(const double* b, const double* a, int n, double w) {
    std::complex<double> num = 0.0;
    std::complex<double> den = 0.0;
    for (int k = 0; k <= 2 * n; ++k) {
        const std::complex<double> zk = std::polar(1.0, -k * w);
        num += b[k] * zk;
        den += a[k] * zk;
    }
    return std::abs(num / den);
}

struct Design {
    Block a;
    Block b;
};

Design design(int n, double f1, double f2) {
    Design d;
    d.a.reset(ComputeDenCoeffs(n, f1, f2));
    if (d.a) {
        d.b.reset(ComputeNumCoeffs(n, f1, f2, d.a.get()));
    }
    return d;
}

}  // namespace

TEST(ButterworthTest, BinomialsAndSingleFactor) {
    const std::vector<std::vector<double>> expected = {
        {1, -1}, {1, -2, 1}, {1, -3, 3, -1}, {1, -4, 6, -4, 1}, {1, -5, 10, -10, 5, -1}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        Block c(ComputeHP(n));
        ASSERT_NE(c, nullptr);
        for (int k = 0; k <= n; ++k) {
            EXPECT_EQ(c.get()[k], expected[i][k]) << "n=" << n << " k=" << k;
        }
    }
    EXPECT_EQ(ComputeHP(0), nullptr);

    // A single factor comes back as it went in.
    const double b1[] = {0.25, -1.5};
    const double c1[] = {-0.75, 2.0};
    Block one(TrinomialMultiply(1, b1, c1));
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one.get()[0], 0.25);
    EXPECT_EQ(one.get()[1], -1.5);
    EXPECT_EQ(one.get()[2], -0.75);
    EXPECT_EQ(one.get()[3], 2.0);
}

TEST(ButterworthTest, KnownBandsMatchReferenceCoefficients) {
    struct Case {
        double f1, f2, gain;
        double a[7];
    };
    const Case cases[] = {
        {0.02,
         0.2,
         0.0138200739,
         {1, -4.78290878, 9.63126604, -10.4939778, 6.54436315, -2.21613085, 0.317425477}},
        {0.1,
         0.4,
         0.0495329964,
         {1, -3.30291642, 4.95322220, -4.44607963, 2.56463809, -0.880287261, 0.137761301}},
    };
    const double shape[7] = {1, 0, -3, 0, 3, 0, -1};
    for (const Case& c : cases) {
        Design d = design(3, c.f1, c.f2);
        ASSERT_NE(d.a, nullptr);
        ASSERT_NE(d.b, nullptr);
        for (int k = 0; k < 7; ++k) {
            // The reference values carry nine significant digits: compare relative to 1e-8.
            const double b_ref = c.gain * shape[k];
            EXPECT_NEAR(d.a.get()[k], c.a[k], 1e-8 * std::max(1.0, std::fabs(c.a[k])))
                << "f1=" << c.f1 << " a" << k;
            EXPECT_NEAR(d.b.get()[k], b_ref, 1e-8 * std::max(1.0, std::fabs(b_ref)))
                << "f1=" << c.f1 << " b" << k;
        }
    }
}

TEST(ButterworthTest, ResponseAndExactStructureOverManyBands) {
    const double bands[][2] = {{0.02, 0.2}, {0.1, 0.4}, {0.01, 0.1}, {0.3, 0.95}, {0.45, 0.55}};
    for (int n = 1; n <= 3; ++n) {
        for (const auto& band : bands) {
            const double f1 = band[0];
            const double f2 = band[1];
            Design d = design(n, f1, f2);
            ASSERT_NE(d.b, nullptr);
            EXPECT_EQ(d.a.get()[0], 1.0);
            for (int k = 1; k < 2 * n; k += 2) {
                EXPECT_EQ(d.b.get()[k], 0.0) << "n=" << n << " k=" << k;
            }
            // Unit gain at the centre of the prewarped band, half power at both corners. The
            // polynomial form loses accuracy for very low, narrow bands; these stay within 1e-9.
            const double centre =
                2.0 * std::atan(std::sqrt(std::tan(pi * f1 / 2) * std::tan(pi * f2 / 2)));
            const double* a = d.a.get();
            const double* b = d.b.get();
            EXPECT_NEAR(magnitude(b, a, n, centre), 1.0, 1e-9) << "n=" << n << " f1=" << f1;
            EXPECT_NEAR(magnitude(b, a, n, pi * f1), std::sqrt(0.5), 1e-9) << "n=" << n;
            EXPECT_NEAR(magnitude(b, a, n, pi * f2), std::sqrt(0.5), 1e-9) << "n=" << n;
        }
    }
    EXPECT_NEAR(2.0 * std::atan(std::sqrt(std::tan(pi * 0.01) * std::tan(pi * 0.1))), 0.2014154,
                1e-7);

    // Corners in the wrong order give poles outside the unit circle.
    Design swapped = design(3, 0.2, 0.02);
    ASSERT_NE(swapped.a, nullptr);
    EXPECT_NEAR(std::fabs(swapped.a.get()[6]), 3.15, 0.01);
}

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "scan/correlation_scan.h"

namespace {

// Correlation coefficient of templ[0..m) with day[p..p+m) in double; 0 for a constant window.
double direct(const std::vector<float>& day, const std::vector<float>& templ, int m, int p) {
    double mt = 0.0, md = 0.0, cross = 0.0, vt = 0.0, vd = 0.0;
    for (int j = 0; j < m; ++j) {
        mt += templ[j] / double(m);
        md += day[p + j] / double(m);
    }
    for (int j = 0; j < m; ++j) {
        cross += (templ[j] - mt) * (day[p + j] - md);
        vt += (templ[j] - mt) * (templ[j] - mt);
        vd += (day[p + j] - md) * (day[p + j] - md);
    }
    return vd == 0.0 ? 0.0 : cross / std::sqrt(vt * vd);
}

std::vector<float> noise(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> normal(0.0f, 100.0f);
    std::vector<float> v(n);
    for (float& x : v) {
        x = normal(rng);
    }
    return v;
}

}  // namespace

TEST(Correlate, MatchesDirectCoefficient) {
    // Long enough to be taken in more than one block of positions; holds a run of zeros.
    const int n = (1 << 18) + 300, m = 40, l = n - m + 1;
    std::vector<float> day = noise(n, 1);
    std::fill(day.begin() + 300, day.begin() + 340, 0.0f);
    std::vector<float> templ(day.begin() + 123, day.begin() + 123 + m);
    const std::vector<float> r = correlate(day, templ, m, l);
    ASSERT_EQ(r.size(), static_cast<std::size_t>(l));
    for (int p : {0, 122, 123, 300, 301, 599, (1 << 18) - 1, 1 << 18, l - 1}) {
        EXPECT_NEAR(r[p], direct(day, templ, m, p), 1e-4) << "at " << p;
    }
    EXPECT_NEAR(r[123], 1.0f, 1e-5);
    EXPECT_EQ(r[300], 0.0f);

    // A shorter template keeps its own length; only the first l values are returned.
    templ.resize(30);
    const std::vector<float> s = correlate(day, templ, 30, l);
    ASSERT_EQ(s.size(), static_cast<std::size_t>(l));
    for (int p : {0, 123, 250, l - 1}) {
        EXPECT_NEAR(s[p], direct(day, templ, 30, p), 1e-4) << "at " << p;
    }
    // A template without variance has no shape to match: 0 everywhere, not the library's 1.
    EXPECT_EQ(correlate(day, std::vector<float>(m, 3.0f), m, 100), std::vector<float>(100, 0.0f));
    EXPECT_TRUE(correlate(day, templ, n + 1, 1).empty());
}

TEST(AddToStack, GapRuleAndMoveouts) {
    // Correlation value p is p + 1; the stack has 10 positions, the day 12 samples.
    std::vector<float> correlation(10);
    for (int p = 0; p < 10; ++p) {
        correlation[p] = static_cast<float>(p + 1);
    }
    std::vector<float> day = {0.0f, 0.5f, 0.3f, 0.0f, -0.2f, 0.0f,
                              0.0f, 0.0f, 0.4f, 0.0f, 1.0f,  1.0f};
    std::vector<float> stack(10, 0.0f);
    std::vector<int> count(10, 0);
    add_to_stack(correlation, day, 0, stack, count);
    // 0: zero at the start; 3: an isolated zero is data; 5-7: a run of zeros; 9: zero at L - 1.
    EXPECT_EQ(count, std::vector<int>({0, 1, 1, 1, 1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(stack, std::vector<float>({0, 2, 3, 4, 5, 0, 0, 0, 9, 0}));
    add_to_stack(correlation, day, 10, stack, count);  // moveout at or past L: nothing
    EXPECT_EQ(count, std::vector<int>({0, 1, 1, 1, 1, 0, 0, 0, 1, 0}));

    // Moveouts 0 and 10: the last 10 positions hold the first template alone.
    const int l = 100;
    const std::vector<float> full_day = noise(120, 3), first = noise(l, 4), second = noise(l, 5);
    std::vector<float> sum(l, 0.0f);
    std::vector<int> n(l, 0);
    add_to_stack(first, full_day, 0, sum, n);
    add_to_stack(second, full_day, 10, sum, n);
    for (int k = 0; k < l; ++k) {
        EXPECT_EQ(n[k], k < l - 10 ? 2 : 1);
        EXPECT_EQ(sum[k], k < l - 10 ? first[k] + second[k + 10] : first[k]);
    }
}

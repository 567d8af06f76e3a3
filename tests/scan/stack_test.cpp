#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "scan/correlation_scan.h"

// Correlation coefficient of t[0..m) with day[p..p+m) from sums in double; 0 when either is
// constant.
static double direct(const std::vector<float>& day, const std::vector<float>& t, int m, int p) {
    double st = 0.0, sd = 0.0, stt = 0.0, sdd = 0.0, sdt = 0.0;
    for (int j = 0; j < m; ++j) {
        const double a = t[j], b = day[p + j];
        st += a, sd += b, stt += a * a, sdd += b * b, sdt += a * b;
    }
    const double vt = stt - st * st / m, vd = sdd - sd * sd / m;
    return vt == 0.0 || vd == 0.0 ? 0.0 : (sdt - st * sd / m) / std::sqrt(vt * vd);
}

TEST(Stack, CorrelateThenAddWithGapsAndMoveouts) {
    // More than one block of positions, and a run of zeros at 300..339.
    const int n = (1 << 18) + 300, m = 40, l = n - m + 1;
    std::minstd_rand rng(1);
    std::vector<float> day(n);
    std::generate(day.begin(), day.end(), [&] { return float(rng() % 2000) - 999.5f; });
    std::fill(day.begin() + 300, day.begin() + 340, 0.0f);
    std::vector<float> templ(day.begin() + 123, day.begin() + 123 + m);
    std::vector<std::vector<float>> r;
    for (const int used : {m, 30}) {  // 30: a short template keeps its own length
        templ.resize(used);
        r.push_back(correlate(day, templ, used, l));
        for (int p : {0, 123, 300, 301, 599, (1 << 18) - 1, 1 << 18, l - 1}) {
            EXPECT_NEAR(r.back().at(p), direct(day, templ, used, p), 1e-4) << used << " at " << p;
        }
    }
    EXPECT_EQ(correlate(day, std::vector<float>(m, 3.0f), m, 100), std::vector<float>(100, 0.0f));

    // 0: zero at the start; 3: an isolated zero is data; 5-7: a run of zeros; 9: zero at L - 1.
    std::vector<float> stack(10, 0.0f);
    std::vector<int> count(10, 0);
    add_to_stack(r[0], {0, 0.5f, 0.3f, 0, -0.2f, 0, 0, 0, 0.4f, 0, 1, 1}, 0, stack, count);
    EXPECT_EQ(count, std::vector<int>({0, 1, 1, 1, 1, 0, 0, 0, 1, 0}));
    // Moveouts 0 and 10 over full data: the last 10 positions hold the first template alone.
    stack.assign(100, 0.0f);
    count.assign(100, 0);
    add_to_stack(r[0], day, 0, stack, count);
    add_to_stack(r[1], day, 10, stack, count);
    for (int k = 0; k < 100; ++k) {
        EXPECT_EQ(count[k], k < 90 ? 2 : 1);
        EXPECT_EQ(stack[k], k < 90 ? r[0][k] + r[1][k + 10] : r[0][k]);
    }
}

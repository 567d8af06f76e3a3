#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <numeric>
#include <random>

#include "scan/block_kernels.h"
#include "scan/correlation_scan.h"
#include "scan/event_day.h"

TEST(Stack, GapsMoveoutsAndTheGapFlagsOfTheBlockSpectra) {
    // 0: zero at the start; 3: an isolated zero is data; 5-7: a run of zeros; 9: zero at the
    // last correlation position.
    const std::vector<float> day = {0, 0.5f, 0.3f, 0, -0.2f, 0, 0, 0, 0.4f, 0, 1, 1};
    std::vector<float> values(10);
    std::iota(values.begin(), values.end(), 1.0f);
    std::vector<float> stack(10, 0.0f);
    std::vector<int> count(10, 0);
    add_to_stack(values, day, 0, stack, count);
    const std::vector<int> reached = {0, 1, 1, 1, 1, 0, 0, 0, 1, 0};
    EXPECT_EQ(count, reached);
    EXPECT_EQ(stack, std::vector<float>({0, 2, 3, 4, 5, 0, 0, 0, 9, 0}));
    // The same flags carried by the block spectra; a block starting at 4 with moveout 2 adds
    // positions 4.. into 2...
    const Correlation_plan plan = make_correlation_plan(3);
    const Day_spectra spectra = make_day_spectra(plan, day, 10, 10);
    for (int p = 0; p < 10; ++p)
        EXPECT_EQ(is_gap(spectra, p), reached[p] == 0) << p;
    stack.assign(10, 0.0f);
    count.assign(10, 0);
    add_block_to_stack(values.data(), spectra, 4, 8, 2, stack, count);
    EXPECT_EQ(count, std::vector<int>({0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(stack, std::vector<float>({0, 0, 1, 0, 0, 0, 5, 0, 0, 0}));

    // Moveouts 0 and 10 over full data: the last 10 positions hold the first template alone,
    // unless the correlations reach 10 positions past the stack (a day trace that goes on past
    // midnight), which every position then takes from both.
    for (const int past : {0, 10}) {
        const std::vector<float> full(120, 1.0f);
        stack.assign(100, 0.0f);
        count.assign(100, 0);
        std::vector<float> first(100 + past), second(100 + past);
        std::iota(first.begin(), first.end(), 0.0f);
        std::iota(second.begin(), second.end(), 1000.0f);
        add_to_stack(first, full, 0, stack, count);
        add_to_stack(second, full, 10, stack, count);
        for (int k = 0; k < 100; ++k) {
            const bool both = k < 90 || past == 10;
            EXPECT_EQ(count[k], both ? 2 : 1) << past << " " << k;
            EXPECT_EQ(stack[k], both ? first[k] + second[k + 10] : first[k]) << past << " " << k;
        }
    }
}

namespace {

// Bit patterns, every NaN as one: which NaN an operation on two of them keeps is up to the
// compiler's order of the operands.
std::vector<std::uint32_t> bit_patterns(const float* x, std::size_t n) {
    std::vector<std::uint32_t> b(n);
    for (std::size_t k = 0; k < n; ++k) {
        std::memcpy(&b[k], &x[k], sizeof(float));
        b[k] = std::isnan(x[k]) ? 0x7FC00000u : b[k];
    }
    return b;
}

std::vector<std::uint32_t> bit_patterns(const std::vector<float>& x) {
    return bit_patterns(x.data(), x.size());
}

// Values that find every branch of the bound and the gap flag: inside, at and past 1 and 9/8,
// both zeros, NaN, infinities, tiny and huge.
float awkward(std::mt19937& rng) {
    static const float special[] = {0.0f,       -0.0f,       NAN,    -NAN,   INFINITY,
                                    -INFINITY,  1.0f,        -1.0f,  1.125f, -1.125f,
                                    1.1249999f, 0.99999994f, 1e-40f, 3e38f};
    const unsigned r = rng() % 40;
    if (r < std::size(special))
        return special[r];
    return std::ldexp(static_cast<float>(static_cast<int>(rng() % 2001) - 1000) / 900.0f,
                      static_cast<int>(rng() % 5) - 2);
}

}  // namespace

TEST(Stack, VectorPassesGiveThePlainLoopsBits) {
    std::mt19937 rng(11);
    for (const int n : {0, 1, 3, 4, 7, 64, 1001}) {
        // The conjugate product.
        std::vector<float> d(2 * n), t(2 * n), product(2 * n), plain(2 * n);
        for (int k = 0; k < 2 * n; ++k)
            d[k] = awkward(rng), t[k] = awkward(rng);
        for (int k = 0; k < n; ++k) {
            plain[2 * k] = d[2 * k] * t[2 * k] + d[2 * k + 1] * t[2 * k + 1];
            plain[2 * k + 1] = d[2 * k + 1] * t[2 * k] - d[2 * k] * t[2 * k + 1];
        }
        conjugate_product(reinterpret_cast<const fftwf_complex*>(d.data()),
                          reinterpret_cast<const fftwf_complex*>(t.data()),
                          reinterpret_cast<fftwf_complex*>(product.data()), n);
        EXPECT_EQ(bit_patterns(product), bit_patterns(plain)) << n;

        // The bound, the gap flags and the stack add; then the divide.
        std::vector<float> numerator(n), inv_norm(n), stack(n), expected(n);
        std::vector<int> count(n), expected_count(n);
        for (int q = 0; q < n; ++q) {
            // Inverse norms of ±1 half the time, so that the numerators' edge values reach the
            // bound as they are.
            numerator[q] = awkward(rng), inv_norm[q] = rng() % 2 ? awkward(rng)
                                                       : q % 3   ? 1.0f
                                                                 : -1.0f;
            stack[q] = expected[q] = q % 5 == 0 ? 0.0f : awkward(rng);
            count[q] = expected_count[q] = static_cast<int>(rng() % 3);
            const float r = numerator[q] * std::fabs(inv_norm[q]);
            const float size = std::fabs(r);
            if (!std::signbit(inv_norm[q])) {
                expected[q] += size < 1.0f ? r : size < 1.125f ? (r > 0.0f ? 1.0f : -1.0f) : 0.0f;
                expected_count[q] += 1;
            }
        }
        add_bounded_values(numerator.data(), inv_norm.data(), n, stack.data(), count.data());
        EXPECT_EQ(bit_patterns(stack), bit_patterns(expected)) << n;
        EXPECT_EQ(count, expected_count) << n;
        for (int q = 0; q < n; ++q)
            expected[q] = expected[q] / static_cast<float>(expected_count[q]);
        divide_by_counts(stack.data(), count.data(), n);
        EXPECT_EQ(bit_patterns(stack), bit_patterns(expected)) << n;
    }
}

TEST(Stack, EventDayStackHasTheBitsOfBlockByBlockCorrelationAndPlainStacking) {
    // Noise with runs of exact zeros (gaps), isolated zeros, spikes 1e8 times the noise (whose
    // quiet neighbours are computed directly), a NaN, and more positions than one chunk.
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    const int n = 300000, m = 40;
    std::vector<float> day(n);
    for (float& x : day)
        x = noise(rng);
    for (int p = 1000; p < 1500; ++p)
        day[p] = 0.0f;
    std::fill(day.begin() + 262000, day.begin() + 262300, 0.0f);
    day[7000] = day[270000] = 0.0f;
    day[5000] = 1e8f, day[150000] = -1e8f, day[262400] = 1e8f;
    day[200000] = NAN;
    const Correlation_plan plan = make_correlation_plan(m);
    const int positions = n - m + 1;
    const Day_spectra spectra = make_day_spectra(plan, day, positions, positions);
    std::vector<Template_spectrum> templates;
    for (const int at : {4990, 90000, 262390})
        templates.push_back(make_template_spectrum(plan, day.data() + at));
    templates.push_back(make_template_spectrum(plan, std::vector<float>(m, 2.0f).data()));
    std::vector<Correlation_job> jobs;
    const int moveouts[] = {125, 0, 1023, 7};  // the first not on a block boundary
    for (std::size_t k = 0; k < templates.size(); ++k)
        jobs.push_back({&plan, &spectra, &templates[k], moveouts[k]});

    const int l = positions - 100;
    std::vector<float> expected(l, 0.0f), values(plan.step);
    std::vector<int> expected_count(l, 0);
    Correlation_workspace work = make_workspace(plan);
    int exact_blocks = 0;
    for (const Correlation_job& job : jobs) {
        for (int b = 0; b < spectra.blocks; ++b) {
            const int count = correlate_block(plan, spectra, *job.spectrum, b, work, values.data());
            add_block_to_stack(values.data(), spectra, static_cast<long long>(b) * plan.step, count,
                               job.s, expected, expected_count);
            exact_blocks += job.s == 0 && !spectra.exact[b].runs.empty();
        }
    }
    for (int p = 0; p < l; ++p)
        expected[p] = expected[p] / static_cast<float>(expected_count[p]);
    EXPECT_GE(exact_blocks, 3);  // the spikes' blocks have directly computed windows
    for (const int threads : {1, 3}) {
        omp_set_num_threads(threads);
        std::vector<float> stack(l, 0.0f);
        std::vector<int> stack_count(l, 0);
        stack_event_day(jobs, stack, stack_count);
        EXPECT_EQ(bit_patterns(stack), bit_patterns(expected)) << threads;
        EXPECT_EQ(stack_count, expected_count) << threads;
    }
}

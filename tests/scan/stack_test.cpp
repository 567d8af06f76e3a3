#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>

#include "scan/block_kernels.h"
#include "scan/correlation_scan.h"
#include "scan/detection.h"
#include "scan/event_day.h"
#include "scan/mad.h"
#include "support/float_bits.h"

namespace {

// Bit patterns, every NaN as one (which NaN an operation keeps is up to the compiler).
std::vector<std::uint32_t> bit_patterns(const std::vector<float>& x) {
    std::vector<std::uint32_t> b = float_bits(x);
    for (std::size_t k = 0; k < x.size(); ++k)
        b[k] = std::isnan(x[k]) ? 0x7FC00000u : b[k];
    return b;
}

// Values at every branch of the bound and the gap flag: at and past 1 and 9/8, both zeros,
// NaN, infinities, tiny and huge.
float awkward(std::mt19937& rng) {
    static const float special[] = {0.0f,       -0.0f,       NAN,    -NAN,   INFINITY,
                                    -INFINITY,  1.0f,        -1.0f,  1.125f, -1.125f,
                                    1.1249999f, 0.99999994f, 1e-40f, 3e38f};
    const unsigned r = rng() % 40;
    if (r < 14)
        return special[r];
    return std::ldexp(static_cast<float>(static_cast<int>(rng() % 2001) - 1000) / 900.0f,
                      static_cast<int>(rng() % 5) - 2);
}

// The median absolute deviation by sorting: rank n/2 of the deviations from rank n/2.
float mad_by_sorting(std::vector<float> v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](float x) { return std::isnan(x); }), v.end());
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const float median = v[v.size() / 2];
    for (float& x : v)
        x = std::fabs(x - median);
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

}  // namespace

TEST(Mad, SameBitsAsSortingWithTiesNotANumbersAndSignedZerosAtAnyThreads) {
    // Ties and both zeros, spread values, NaN; long ones mostly in one histogram bin with NaN
    // runs; values spread like a stack's; all NaN. Even sizes take the upper middle.
    std::mt19937 rng(7);
    for (int size = 0; size < 150331; size += size < 40 ? 1 : size < 300 ? 37 : 24999) {
        for (int kind = 0; kind < 5; ++kind) {
            std::normal_distribution<float> stack_like(0.01f, 0.05f);
            std::vector<float> x(size);
            for (float& value : x) {
                const int r = static_cast<int>(rng() % 1000);
                value = kind == 4   ? (r < 30 ? NAN : stack_like(rng))
                        : kind == 0 ? (r % 11 == 0 ? -0.0f : static_cast<float>(r % 5) - 2.0f)
                        : kind == 1 ? std::ldexp(static_cast<float>(r) - 500.0f, -(r % 40))
                        : kind == 2 ? (r % 4 == 0 ? NAN : static_cast<float>(r % 7) * -0.25f)
                        : r < 600   ? std::nextafter(0.25f, 1.0f) * (1.0f + (r % 64) * 0x1p-23f)
                        : r < 700   ? NAN
                        : r < 800
                            ? (r < 750 ? -0.0f : 0.0f)
                            : static_cast<float>(static_cast<int>(rng() % 2000) - 1000) / 997.0f;
            }
            if (size > 70000)
                std::fill(x.begin() + size / 3, x.begin() + size / 3 + 5000, NAN);
            // Also from counts taken in uneven pieces into two tables, as the stack's threads do.
            std::vector<std::vector<uint32_t>> tables = {new_count_table(), new_count_table()};
            for (int from = 0, piece = 0; from < size; from += 1 + from / 3, ++piece)
                count_values(x.data() + from, std::min(1 + from / 3, size - from),
                             tables[piece % 2]);
            for (const int threads : {1, 2, 3}) {
                omp_set_num_threads(threads);
                const float expected = mad_by_sorting(x);
                EXPECT_EQ(bit_patterns({mad(x), mad(x, total_counts(tables))}),
                          bit_patterns({expected, expected}))
                    << "size " << size << " kind " << kind << " threads " << threads;
            }
            if (size > 70000 && kind == 4) {
                // Where the runtime gives fewer threads than asked for (OMP_DYNAMIC under load,
                // OMP_THREAD_LIMIT, or, as here, a nested region): the same MAD and candidates.
                const std::vector<int> candidates = find_candidates(x, 0.1f);
                omp_set_max_active_levels(1);
                float nested_mad = 0.0f;
                std::vector<int> nested_candidates;
#pragma omp parallel num_threads(2)
                if (omp_get_thread_num() == 0) {
                    nested_mad = mad(x);
                    nested_candidates = find_candidates(x, 0.1f);
                }
                EXPECT_EQ(bit_patterns({nested_mad}), bit_patterns({mad_by_sorting(x)})) << size;
                EXPECT_EQ(nested_candidates, candidates) << size;
            }
        }
    }
    EXPECT_TRUE(std::isnan(mad(std::vector<float>(70000, NAN))));
}

TEST(Stack, GapsMoveoutsAndTheGapFlagsOfTheDaySpectra) {
    // Zero at the start, an isolated zero (data), a run of zeros, zero at the last position.
    const std::vector<float> day = {0, 0.5f, 0.3f, 0, -0.2f, 0, 0, 0, 0.4f, 0, 1, 1};
    std::vector<float> values(10), stack(10, 0.0f);
    std::iota(values.begin(), values.end(), 1.0f);
    std::vector<int> count(10, 0);
    add_to_stack(values, day, 0, stack, count);
    const std::vector<int> reached = {0, 1, 1, 1, 1, 0, 0, 0, 1, 0};
    EXPECT_EQ(count, reached);
    EXPECT_EQ(stack, std::vector<float>({0, 2, 3, 4, 5, 0, 0, 0, 9, 0}));
    const std::vector<float> full(120, 1.0f);
    const Correlation_plan plan = make_correlation_plan(3);
    const Day_spectra spectra = make_day_spectra(plan, day, 10, 10);
    for (int p = 0; p < 10; ++p)
        EXPECT_EQ(is_gap(spectra, p), reached[p] == 0) << p;
    // Moveout 10: the last 10 positions hold the first template alone unless the correlations
    // reach past the stack (a trace going on past midnight).
    for (const int past : {0, 10}) {
        stack.assign(100, 0.0f);
        count.assign(100, 0);
        add_to_stack(std::vector<float>(100 + past, 1.0f), full, 0, stack, count);
        add_to_stack(std::vector<float>(100 + past, 2.0f), full, 10, stack, count);
        EXPECT_EQ(stack[89], 3.0f);
        EXPECT_EQ(stack[90], past ? 3.0f : 1.0f);
        EXPECT_EQ(count[99], past ? 2 : 1);
    }
}

TEST(Stack, VectorPassesGiveThePlainLoopsBits) {
    std::mt19937 rng(11);
    for (const int n : {0, 1, 3, 4, 7, 64, 1001}) {
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

        // The bound, the gap flags (negative inverse norms) and the stack add; then the divide.
        std::vector<float> numerator(n), inv_norm(n), stack(n), expected(n);
        std::vector<int> count(n), expected_count(n);
        for (int q = 0; q < n; ++q) {
            // Inverse norms of ±1 half the time, so the numerators' edge values meet the bound.
            numerator[q] = awkward(rng);
            inv_norm[q] = rng() % 2 ? awkward(rng) : q % 3 ? 1.0f : -1.0f;
            stack[q] = expected[q] = q % 5 == 0 ? 0.0f : awkward(rng);
            count[q] = expected_count[q] = static_cast<int>(rng() % 3);
            const float r = numerator[q] * std::fabs(inv_norm[q]), size = std::fabs(r);
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

        // Inverse roots of variances: flat (0), negative, NaN, infinite, subnormal, huge, tiny.
        std::vector<double> variance(n);
        std::vector<float> roots(n), plain_roots(n);
        for (int q = 0; q < n; ++q) {
            const double special[] = {0.0, -0.0, -1.0, NAN, INFINITY, 4e-320, 1e300, 1e-300};
            variance[q] = rng() % 3 == 0 ? special[rng() % 8]
                                         : std::ldexp(1.0 + (rng() % 100000) * 1e-5,
                                                      static_cast<int>(rng() % 200) - 100);
            plain_roots[q] =
                variance[q] > 0.0 ? static_cast<float>(1.0 / std::sqrt(variance[q])) : 0.0f;
        }
        inverse_roots(variance.data(), n, roots.data());
        EXPECT_EQ(bit_patterns(roots), bit_patterns(plain_roots)) << n;

        // The largest finite magnitude, the largest value placed anywhere among NaN, infinities,
        // negatives and subnormals.
        std::vector<float> samples(n);
        const float odd[] = {NAN, INFINITY, -INFINITY, -0.0f, 1e-42f, -3e38f};
        for (float& x : samples)
            x = rng() % 4 == 0 ? odd[rng() % 6] : std::ldexp(static_cast<float>(rng() % 1000), -20);
        float plain_largest = 0.0f;
        for (float x : samples)
            plain_largest =
                std::isfinite(x) ? std::max(plain_largest, std::fabs(x)) : plain_largest;
        EXPECT_EQ(largest_finite_magnitude(samples.data(), n), plain_largest) << n;

        // The scaled copy; the next value above a bound and the next zero (either sign), from
        // starts all along.
        std::vector<float> copied(n), plain_copied(n);
        for (int q = 0; q < n; ++q)
            plain_copied[q] = samples[q] * 0.375f;
        scaled_copy(samples.data(), n, 0.375f, copied.data());
        EXPECT_EQ(bit_patterns(copied), bit_patterns(plain_copied)) << n;
        for (int from = 0; from <= n; ++from) {
            int above = from, zero = from;
            while (above < n && !(samples[above] > 3e-4f))
                ++above;
            while (zero < n && samples[zero] != 0.0f)
                ++zero;
            ASSERT_EQ(next_above(samples.data(), from, n, 3e-4f), above) << n << " " << from;
            ASSERT_EQ(next_zero(samples.data(), from, n), zero) << n << " " << from;
        }
    }
}

TEST(Stack, EventDayStackHasTheBitsOfBlockByBlockCorrelationAndPlainStacking) {
    // Gaps (one over whole blocks, whose transforms are passed over), isolated zeros, spikes 1e8
    // times the noise (quiet neighbours computed directly), a NaN, and more positions than one
    // chunk.
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    const int n = 300000, m = 40, positions = n - m + 1, l = positions - 100;
    std::vector<float> day(n);
    for (float& x : day)
        x = noise(rng);
    std::fill(day.begin() + 1000, day.begin() + 1500, 0.0f);
    std::fill(day.begin() + 262000, day.begin() + 262300, 0.0f);
    std::fill(day.begin() + 20000, day.begin() + 24000, 0.0f);
    day[7000] = day[270000] = 0.0f;
    day[5000] = 1e8f, day[150000] = -1e8f, day[262400] = 1e8f;
    day[200000] = NAN;
    const Correlation_plan plan = make_correlation_plan(m);
    const Day_spectra spectra = make_day_spectra(plan, day, positions, positions);
    {
        // Made as tasks inside a team, as the day's fetch makes them: the same bits.
        Day_spectra by_tasks;
#pragma omp parallel num_threads(2)
#pragma omp single
        by_tasks = make_day_spectra_as_tasks(plan, day, positions, positions);
        EXPECT_EQ(bit_patterns({spectra.inv_norm.get(), spectra.inv_norm.get() + positions}),
                  bit_patterns({by_tasks.inv_norm.get(), by_tasks.inv_norm.get() + positions}));
        for (int b = 0; b < spectra.blocks; ++b) {
            const float* x = &spectra.spectra[std::size_t(b) * plan.stride][0];
            const float* y = &by_tasks.spectra[std::size_t(b) * plan.stride][0];
            EXPECT_EQ(bit_patterns({x, x + plan.nfft + 2}), bit_patterns({y, y + plan.nfft + 2}));
            EXPECT_EQ(spectra.exact[b].runs, by_tasks.exact[b].runs) << b;
        }
    }
    // Templates {start, moveout} (a flat one last), the first moveout not on a block boundary.
    const std::vector<float> flat(m, 2.0f);
    std::vector<Template_spectrum> templates;
    templates.reserve(4);
    std::vector<Correlation_job> jobs;
    const std::pair<int, int> picks[] = {{4990, 125}, {90000, 0}, {262390, 1023}, {-1, 7}};
    for (const auto& [at, s] : picks) {
        templates.push_back(make_template_spectrum(plan, at < 0 ? flat.data() : day.data() + at));
        jobs.push_back({&plan, &spectra, &templates.back(), s});
    }

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
    EXPECT_EQ(std::count(spectra.all_gaps.begin(), spectra.all_gaps.end(), 1), 3);
    for (const int threads : {1, 3}) {
        omp_set_num_threads(threads);
        // Whatever the buffers held before is overwritten.
        std::vector<float> stack(l, NAN);
        std::vector<int> stack_count(l, 7);
        std::vector<uint64_t> counts;
        stack_event_day(jobs, stack, stack_count, 0, &counts);
        EXPECT_EQ(bit_patterns(stack), bit_patterns(expected)) << threads;
        EXPECT_EQ(stack_count, expected_count) << threads;
        EXPECT_EQ(bit_patterns({mad(stack, counts)}), bit_patterns({mad(expected)})) << threads;
    }
}

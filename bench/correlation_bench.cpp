// Cost of the two day-length steps of an event-day: one correlation and the MAD of the stack.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "scan/correlation_scan.h"
#include "scan/mad.h"

namespace {

constexpr int day_samples = 100 * 86400;  // one day at 100 samples per second
constexpr int template_samples = 1000;    // 10 s

// Uniform noise in [-0.5, 0.5) from a 32-bit linear congruential sequence: the correlation's cost
// does not depend on the values, and the MAD's selection sees unsorted, spread-out data.
std::vector<float> lcg_noise(std::size_t n, std::uint32_t state) {
    std::vector<float> v(n);
    for (float& x : v) {
        state = state * 1664525u + 1013904223u;
        x = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
    }
    return v;
}

void BM_CorrelateDay(benchmark::State& state) {
    const std::vector<float> day = lcg_noise(day_samples, 1);
    const std::vector<float> templ(day.begin() + 4000000, day.begin() + 4000000 + template_samples);
    const int l = day_samples - template_samples + 1;
    for (auto _ : state) {
        std::vector<float> r = correlate(day, templ, template_samples, l);
        benchmark::DoNotOptimize(r.data());
    }
    state.SetItemsProcessed(state.iterations() * day_samples);
}

void BM_MadOfDayStack(benchmark::State& state) {
    const std::vector<float> stack = lcg_noise(day_samples - template_samples + 1, 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(mad(stack));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(stack.size()));
}

}  // namespace

BENCHMARK(BM_CorrelateDay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MadOfDayStack)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

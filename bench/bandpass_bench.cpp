// Cost of conditioning one day trace: resampling with interp1 and zero-phase band-pass.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "dsp/bandpass.h"
#include "dsp/interp1.h"

namespace {

std::vector<float> noise_day(int rate) {
    std::vector<float> trace(static_cast<std::size_t>(86400) * rate);
    unsigned state = 2463534242u;
    for (float& v : trace) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        v = static_cast<float>(state % 20001) - 10000.0f;
    }
    return trace;
}

void BM_bandpass_day(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const std::vector<float> day = noise_day(rate);
    for (auto _ : state) {
        std::vector<float> work = day;
        bandpass(work, 1.0, 0.4 * rate, 3, rate);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(day.size()));
}
BENCHMARK(BM_bandpass_day)->Arg(20)->Arg(100)->Unit(benchmark::kMillisecond);

// Two day traces filtered together in two lanes (the time for both).
void BM_bandpass_two_days(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const std::vector<float> day = noise_day(rate);
    for (auto _ : state) {
        std::vector<float> a = day, b(day.rbegin(), day.rend());
        bandpass_two(a, b, 1.0, 0.4 * rate, 3, rate);
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    }
    state.SetItemsProcessed(state.iterations() * 2 * static_cast<long long>(day.size()));
}
BENCHMARK(BM_bandpass_two_days)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_interp1_day(benchmark::State& state) {
    const std::vector<float> day = noise_day(100);
    const double out_rate = static_cast<double>(state.range(0));
    for (auto _ : state) {
        std::vector<float> out = interp1(-0.37, 100.0, day, 0.0, 86400.0, out_rate);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(86400 * out_rate));
}
BENCHMARK(BM_interp1_day)->Arg(20)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

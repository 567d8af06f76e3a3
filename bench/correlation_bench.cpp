// Cost of the day-length steps of an event-day: the correlation (the image library's, as the
// scan did it before, and the FFT one: the day's spectra once, then each template, and its
// inverse transforms alone) and the MAD of the stack.
#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "scan/correlation_scan.h"
#include "scan/detection.h"
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

void BM_ImageLibraryCorrelateDay(benchmark::State& state) {
    const std::vector<float> day = lcg_noise(day_samples, 1);
    const std::vector<float> templ(day.begin() + 4000000, day.begin() + 4000000 + template_samples);
    const cv::Mat day_image(1, day_samples, CV_32F, const_cast<float*>(day.data()));
    const cv::Mat templ_image(1, template_samples, CV_32F, const_cast<float*>(templ.data()));
    for (auto _ : state) {
        cv::Mat result;
        cv::matchTemplate(day_image, templ_image, result, cv::TM_CCOEFF_NORMED);
        benchmark::DoNotOptimize(result.data);
    }
    state.SetItemsProcessed(state.iterations() * day_samples);
}

// The part shared by every template of a channel-day: block spectra and window norms.
void BM_DaySpectra(benchmark::State& state) {
    const std::vector<float> day = lcg_noise(day_samples, 1);
    const Correlation_plan plan = make_correlation_plan(template_samples);
    const int l = day_samples - template_samples + 1;
    for (auto _ : state) {
        const Day_spectra spectra = make_day_spectra(plan, day, l, l);
        benchmark::DoNotOptimize(spectra.inv_norm.get());
    }
    state.SetItemsProcessed(state.iterations() * day_samples);
}

// The part of each template: products, inverse transforms and normalization, block by block
// (one thread).
void BM_TemplateOnSharedSpectra(benchmark::State& state) {
    const std::vector<float> day = lcg_noise(day_samples, 1);
    const Correlation_plan plan = make_correlation_plan(template_samples);
    const Day_spectra spectra = make_day_spectra(plan, day, day_samples - template_samples + 1, 0);
    const Template_spectrum t = make_template_spectrum(plan, day.data() + 4000000);
    Correlation_workspace work = make_workspace(plan);
    std::vector<float> values(static_cast<std::size_t>(plan.step));
    for (auto _ : state) {
        for (int b = 0; b < spectra.blocks; ++b) {
            correlate_block(plan, spectra, t, b, work, values.data());
        }
        benchmark::DoNotOptimize(values.data());
    }
    state.SetItemsProcessed(state.iterations() * day_samples);
}

// One template's day added into an event-day stack, block by block (one thread): the values
// written out and then added in separate passes, as the scan did before, or the vector pass
// that bounds each transform numerator and adds it in place.
void template_into_stack(benchmark::State& state, bool fused) {
    const std::vector<float> day = lcg_noise(day_samples, 1);
    const Correlation_plan plan = make_correlation_plan(template_samples);
    const int l = day_samples - template_samples + 1;
    const Day_spectra spectra = make_day_spectra(plan, day, l, l);
    const Template_spectrum t = make_template_spectrum(plan, day.data() + 4000000);
    Correlation_workspace work = make_workspace(plan);
    std::vector<float> values(static_cast<std::size_t>(plan.step)), stack(l, 0.0f);
    std::vector<int> count(l, 0);
    for (auto _ : state) {
        for (int b = 0; b < spectra.blocks; ++b) {
            const long long first = static_cast<long long>(b) * plan.step;
            if (fused) {
                add_correlated_block(plan, spectra, t, b, first, first + plan.step, 0, work, stack,
                                     count);
            } else {
                const int n = correlate_block(plan, spectra, t, b, work, values.data());
                add_block_to_stack(values.data(), spectra, first, n, 0, stack, count);
            }
        }
        benchmark::DoNotOptimize(stack.data());
    }
    state.SetItemsProcessed(state.iterations() * day_samples);
}

void BM_TemplateIntoStackSeparatePasses(benchmark::State& state) {
    template_into_stack(state, false);
}

void BM_TemplateIntoStackFused(benchmark::State& state) {
    template_into_stack(state, true);
}

// The inverse transforms alone of one template-day (one per block, as the scan computes them),
// with the plan the scan uses and, for comparison, with plans FFTW would time and choose: a
// floor of the scan's cost. The scan keeps its plan, whatever the others cost, because each plan
// gives its own rounding and the results must not change.
void day_of_inverse_transforms(benchmark::State& state, unsigned flags) {
    const Correlation_plan plan = make_correlation_plan(template_samples);
    const int blocks = (day_samples - template_samples + plan.step) / plan.step;
    Complex_buffer product(fftwf_alloc_complex(plan.stride));
    Complex_buffer source(fftwf_alloc_complex(plan.stride));
    Real_buffer real(fftwf_alloc_real(static_cast<std::size_t>(plan.nfft)));
    const fftwf_plan inverse =
        flags == FFTW_ESTIMATE ? plan.inverse
                               : fftwf_plan_dft_c2r_1d(plan.nfft, product.get(), real.get(), flags);
    const std::vector<float> noise = lcg_noise(2 * plan.stride, 3);
    std::copy(noise.begin(), noise.end(), &source[0][0]);
    for (auto _ : state) {
        for (int b = 0; b < blocks; ++b) {
            // The transform overwrites its input, as the scan lets it.
            std::copy(&source[0][0], &source[0][0] + 2 * plan.stride, &product[0][0]);
            fftwf_execute_dft_c2r(inverse, product.get(), real.get());
        }
        benchmark::DoNotOptimize(real.get());
    }
    if (inverse != plan.inverse) {
        fftwf_destroy_plan(inverse);
    }
    state.SetItemsProcessed(state.iterations() * blocks);
}

void BM_DayOfInverseTransforms(benchmark::State& state) {
    day_of_inverse_transforms(state, FFTW_ESTIMATE);
}

void BM_DayOfInverseTransformsMeasuredPlan(benchmark::State& state) {
    day_of_inverse_transforms(state, FFTW_MEASURE);
}

void BM_DayOfInverseTransformsPatientPlan(benchmark::State& state) {
    day_of_inverse_transforms(state, FFTW_PATIENT);
}

void BM_MadOfDayStack(benchmark::State& state) {
    const std::vector<float> stack = lcg_noise(day_samples - template_samples + 1, 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(mad(stack));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(stack.size()));
}

// The MAD of a real correlation (noise with a template cut from it, with NaN at the last
// template length of positions, as unreached positions of a stack hold): smooth, so neighbours
// often share a histogram bin.
std::vector<float> correlation_stack() {
    const std::vector<float> day = lcg_noise(day_samples, 1);
    const std::vector<float> templ(day.begin() + 4000000, day.begin() + 4000000 + template_samples);
    std::vector<float> stack = correlate(day, templ, template_samples, day_samples);
    stack.resize(stack.size() + template_samples - 1, NAN);
    return stack;
}

void BM_MadOfCorrelation(benchmark::State& state) {
    const std::vector<float> stack = correlation_stack();
    for (auto _ : state) {
        benchmark::DoNotOptimize(mad(stack));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(stack.size()));
}

// The same MAD given the counts of the values, as the stack's threads take them while dividing:
// what is left to the MAD in the scan.
void BM_MadOfCorrelationGivenCounts(benchmark::State& state) {
    const std::vector<float> stack = correlation_stack();
    std::vector<std::vector<uint32_t>> tables = {new_count_table()};
    count_values(stack.data(), static_cast<long long>(stack.size()), tables[0]);
    const std::vector<uint64_t> counts = total_counts(tables);
    for (auto _ : state) {
        benchmark::DoNotOptimize(mad(stack, counts));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(stack.size()));
}

// Candidates of a day stack of noise over a threshold that 1% of its positions pass.
void BM_FindCandidates(benchmark::State& state) {
    const std::vector<float> stack = lcg_noise(day_samples - template_samples + 1, 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(find_candidates(stack, 0.49f).data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(stack.size()));
}

}  // namespace

BENCHMARK(BM_CorrelateDay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageLibraryCorrelateDay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DaySpectra)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TemplateOnSharedSpectra)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TemplateIntoStackSeparatePasses)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TemplateIntoStackFused)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DayOfInverseTransforms)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DayOfInverseTransformsMeasuredPlan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DayOfInverseTransformsPatientPlan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MadOfDayStack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MadOfCorrelation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MadOfCorrelationGivenCounts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindCandidates)->Unit(benchmark::kMillisecond);

#include "scan/fft_correlation.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <exception>
#include <new>
#include <utility>

#include <omp.h>

#include "control/huge_pages.h"
#include "scan/block_kernels.h"

namespace {

// A window or template is flat when its variance is within this share of its mean square.
constexpr double flat_share = 10.0 * FLT_EPSILON;

// The largest error of a value computed by the single-precision transforms is below
// fft_error_scale × FLT_EPSILON × (norm of the block) / (norm of the window) (measured on noise
// beside spikes of 1e6 and 1e8, loud and quiet stretches: the largest error seen was 0.87 of
// FLT_EPSILON times that ratio). Windows where the bound exceeds exact_tolerance are computed
// directly instead.
constexpr double fft_error_scale = 4.0;
constexpr double exact_tolerance = 5e-5;

// Complex values of one block spectrum rounded up to a whole 64-byte line, so that every block
// starts with the alignment FFTW planned for.
std::size_t spectrum_stride(int nfft) {
    const std::size_t values = static_cast<std::size_t>(nfft / 2 + 1);
    return (values + 7) / 8 * 8;
}

Complex_buffer complex_buffer(std::size_t count) {
    Complex_buffer buffer(fftwf_alloc_complex(std::max<std::size_t>(count, 1)));
    if (!buffer) {
        throw std::bad_alloc();
    }
    advise_huge_pages(buffer.get(), count * sizeof(fftwf_complex));
    return buffer;
}

Real_buffer real_buffer(std::size_t count) {
    Real_buffer buffer(fftwf_alloc_real(std::max<std::size_t>(count, 1)));
    if (!buffer) {
        throw std::bad_alloc();
    }
    advise_huge_pages(buffer.get(), count * sizeof(float));
    return buffer;
}

// A power of two that brings the largest finite magnitude of trace into [0.5, 1).
float trace_scale(const std::vector<float>& trace) {
    const float largest =
        largest_finite_magnitude(trace.data(), static_cast<long long>(trace.size()));
    if (!(largest > 0.0f)) {
        return 1.0f;
    }
    int exponent = 0;
    std::frexp(largest, &exponent);
    return std::ldexp(1.0f, -exponent);
}

// Sum and sum of squares of x[0..m) in double.
void window_sums(const float* x, int m, double& sum, double& squares) {
    sum = 0.0;
    squares = 0.0;
    for (int j = 0; j < m; ++j) {
        sum += x[j];
        squares += static_cast<double>(x[j]) * x[j];
    }
}

// Inverse norms of the windows starting at first .. first + count - 1 of x (scaled samples):
// the first window summed directly, the others by sliding, a window being constant when no two
// neighbouring samples in it differ. A window that is not constant but comes out flat is summed
// afresh: after a spike leaves the window, the sliding sums hold its rounding, which can be
// larger than a quiet window's variance. (Other windows whose norm is small next to their
// block's are summed afresh by exact_windows.)
void window_norms(const float* x, int m, int first, int count, float* inv_norm) {
    double sum = 0.0, squares = 0.0;
    window_sums(x + first, m, sum, squares);
    int changes = 0;
    for (int j = first; j + 1 < first + m; ++j) {
        changes += x[j] != x[j + 1];
    }
    // The sums slide from window to window one after another; the variances of a stretch of
    // windows are kept (0 for a flat one) and their inverse roots taken together, in lanes.
    constexpr int stretch = 256;
    double variances[stretch];
    for (int k0 = 0; k0 < count; k0 += stretch) {
        const int size = std::min(stretch, count - k0);
        for (int k = k0; k < k0 + size; ++k) {
            const int p = first + k;
            if (k > 0) {
                const float out = x[p - 1], in = x[p + m - 1];
                sum += static_cast<double>(in) - out;
                squares += static_cast<double>(in) * in - static_cast<double>(out) * out;
                changes += (x[p + m - 2] != in) - (out != x[p]);
            }
            double variance = squares - sum * sum / m;
            if (changes > 0 && !(variance > flat_share * squares)) {
                window_sums(x + p, m, sum, squares);
                variance = squares - sum * sum / m;
            }
            const bool flat = changes == 0 || !(variance > flat_share * squares);
            variances[k - k0] = flat ? 0.0 : variance;
        }
        inverse_roots(variances, size, inv_norm + k0);
    }
}

// Inverse norm of the window x[0..m), summed directly in two passes; 0 when flat.
float exact_inv_norm(const float* x, int m) {
    double sum = 0.0, squares = 0.0;
    window_sums(x, m, sum, squares);
    const double mean = sum / m;
    double variance = 0.0;
    for (int j = 0; j < m; ++j) {
        const double d = x[j] - mean;
        variance += d * d;
    }
    return variance <= flat_share * squares ? 0.0f : static_cast<float>(1.0 / std::sqrt(variance));
}

// Finds the windows of a block (count positions, scaled samples x with inverse norms inv_norm)
// whose transform values could miss exact_tolerance, gives them directly summed inverse norms
// and keeps their samples.
Exact_windows exact_windows(const float* x, int nfft, int m, int count, float* inv_norm) {
    Exact_windows exact;
    // Four running sums, so that the additions do not wait on each other (nfft is a multiple
    // of four).
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int j = 0; j < nfft; j += 4) {
        s0 += static_cast<double>(x[j]) * x[j];
        s1 += static_cast<double>(x[j + 1]) * x[j + 1];
        s2 += static_cast<double>(x[j + 2]) * x[j + 2];
        s3 += static_cast<double>(x[j + 3]) * x[j + 3];
    }
    const double block_squares = (s0 + s1) + (s2 + s3);
    if (!(block_squares > 0.0)) {
        return exact;  // every window is flat
    }
    const double limit =
        exact_tolerance / (fft_error_scale * FLT_EPSILON * std::sqrt(block_squares));
    // Positions are looked at where their inverse norm passes the largest float not above the
    // limit (the others cannot pass the limit), found four at a time.
    float below = static_cast<float>(limit);
    if (static_cast<double>(below) > limit) {
        below = std::nextafter(below, -INFINITY);
    }
    for (int q = static_cast<int>(next_above(inv_norm, 0, count, below)); q < count;
         q = static_cast<int>(next_above(inv_norm, q + 1, count, below))) {
        if (inv_norm[q] > limit) {  // the sliding norm is close enough to choose by
            inv_norm[q] = exact_inv_norm(x + q, m);
            if (inv_norm[q] > limit) {
                if (!exact.runs.empty() && exact.runs.back().second == q) {
                    ++exact.runs.back().second;
                } else {
                    exact.runs.emplace_back(q, q + 1);
                }
            }
        }
    }
    if (!exact.runs.empty()) {
        exact.from = exact.runs.front().first;
        exact.samples.assign(x + exact.from, x + exact.runs.back().second + m - 1);
    }
    return exact;
}

// Sum of c[j] x[j], j < m, in double in a fixed order.
double dot(const double* c, const float* x, int m) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    int j = 0;
    for (; j + 4 <= m; j += 4) {
        s0 += c[j] * x[j];
        s1 += c[j + 1] * x[j + 1];
        s2 += c[j + 2] * x[j + 2];
        s3 += c[j + 3] * x[j + 3];
    }
    for (; j < m; ++j) {
        s0 += c[j] * x[j];
    }
    return (s0 + s1) + (s2 + s3);
}

}  // namespace

Correlation_plan::Correlation_plan(Correlation_plan&& other) noexcept {
    *this = std::move(other);
}

Correlation_plan& Correlation_plan::operator=(Correlation_plan&& other) noexcept {
    std::swap(m, other.m);
    std::swap(nfft, other.nfft);
    std::swap(step, other.step);
    std::swap(stride, other.stride);
    std::swap(forward, other.forward);
    std::swap(inverse, other.inverse);
    return *this;
}

Correlation_plan::~Correlation_plan() {
    if (forward != nullptr) {
        fftwf_destroy_plan(forward);
    }
    if (inverse != nullptr) {
        fftwf_destroy_plan(inverse);
    }
}

Correlation_plan make_correlation_plan(int m, long long trace) {
    Correlation_plan plan;
    plan.m = std::max(m, 1);
    plan.nfft = fft_size(plan.m, trace);
    plan.step = plan.nfft - plan.m + 1;
    plan.stride = spectrum_stride(plan.nfft);
    Real_buffer real = real_buffer(static_cast<std::size_t>(plan.nfft));
    Complex_buffer spectrum = complex_buffer(plan.stride);
    plan.forward = fftwf_plan_dft_r2c_1d(plan.nfft, real.get(), spectrum.get(), FFTW_ESTIMATE);
    plan.inverse = fftwf_plan_dft_c2r_1d(plan.nfft, spectrum.get(), real.get(), FFTW_ESTIMATE);
    if (plan.forward == nullptr || plan.inverse == nullptr) {
        throw std::bad_alloc();
    }
    return plan;
}

int fft_size(int m, long long trace) {
    int nfft = 1024;
    while (nfft < 16 * static_cast<long long>(m) && nfft < (1 << 30)) {
        nfft *= 2;
    }
    if (trace > 0) {
        // A block longer than the trace would only transform zeros: one block takes every
        // position of the trace.
        const long long whole = fast_size(std::max<long long>(trace, m));
        if (whole < nfft) {
            nfft = static_cast<int>(whole);
        }
    }
    return nfft;
}

long long fast_size(long long x) {
    long long best = 4;  // a power of two always qualifies
    while (best < x) {
        best *= 2;
    }
    for (long long a = 4; a < best; a *= 2) {
        for (long long b = a; b < best; b *= 3) {
            for (long long c = b; c < best; c *= 5) {
                for (long long d = c; d < best; d *= 7) {
                    if (d >= x) {
                        best = d;
                    }
                }
            }
        }
    }
    return best;
}

long long day_spectra_bytes(int m, long long positions, long long trace) {
    const int nfft = fft_size(std::max(m, 1), trace);
    const long long step = nfft - std::max(m, 1) + 1;
    const long long blocks = (positions + step - 1) / step;
    return blocks * static_cast<long long>(spectrum_stride(nfft) * sizeof(fftwf_complex)) +
           positions * static_cast<long long>(sizeof(float));
}

long long template_spectrum_bytes(int m, long long trace) {
    const int nfft = fft_size(std::max(m, 1), trace);
    return static_cast<long long>(spectrum_stride(nfft) * sizeof(fftwf_complex)) +
           std::max(m, 1) * static_cast<long long>(sizeof(double));
}

long long workspace_bytes(int m, long long trace) {
    const long long nfft = fft_size(std::max(m, 1), trace);
    const long long step = nfft - std::max(m, 1) + 1;
    const long long correlating =
        static_cast<long long>(spectrum_stride(static_cast<int>(nfft)) * sizeof(fftwf_complex)) +
        (nfft + step) * static_cast<long long>(sizeof(float));
    return std::max(correlating, nfft * static_cast<long long>(sizeof(float)));
}

namespace {

// A day's spectra with room for its blocks, nothing computed yet.
Day_spectra empty_day_spectra(const Correlation_plan& plan, int positions) {
    Day_spectra day;
    day.positions = positions;
    day.blocks = (positions + plan.step - 1) / plan.step;
    day.spectra = complex_buffer(static_cast<std::size_t>(day.blocks) * plan.stride);
    day.inv_norm.reset(new float[static_cast<std::size_t>(positions)]);
    day.exact.resize(static_cast<std::size_t>(day.blocks));
    day.all_gaps.resize(static_cast<std::size_t>(day.blocks));
    return day;
}

// Block b of day from trace (scaled by scale), with block as the room for its samples.
void day_spectrum_block(const Correlation_plan& plan, const std::vector<float>& trace, long long l,
                        float scale, int b, float* block, Day_spectra& day) {
    const long long size = static_cast<long long>(trace.size());
    const int nfft = plan.nfft, m = plan.m;
    const long long first = static_cast<long long>(b) * plan.step;
    const int inside = static_cast<int>(std::clamp<long long>(size - first, 0, nfft));
    scaled_copy(trace.data() + first, inside, scale, block);
    std::fill(block + inside, block + nfft, 0.0f);
    // The block's windows lie within the trace (positions end m - 1 samples before it), so their
    // scaled samples are the first count + m - 1 of the block. They are read before the
    // transform, which leaves its input as it was anyway.
    const int count = static_cast<int>(std::min<long long>(plan.step, day.positions - first));
    float* inv_norm = day.inv_norm.get() + first;
    window_norms(block, m, 0, count, inv_norm);
    day.exact[static_cast<std::size_t>(b)] = exact_windows(block, nfft, m, count, inv_norm);
    fftwf_execute_dft_r2c(plan.forward, block,
                          day.spectra.get() + static_cast<std::size_t>(b) * plan.stride);
    // A gap position is an exact 0 of the trace: positions are looked at from one 0 to the next.
    int gaps = 0;
    const float* x = trace.data() + first;
    for (int q = static_cast<int>(next_zero(x, 0, count)); q < count;
         q = static_cast<int>(next_zero(x, q + 1, count))) {
        if (is_gap_position(trace.data(), size, first + q, l)) {
            inv_norm[q] = -inv_norm[q];
            ++gaps;
        }
    }
    day.all_gaps[static_cast<std::size_t>(b)] = gaps == count;
}

// Blocks computed by one task of make_day_spectra_as_tasks.
constexpr int blocks_per_task = 16;

}  // namespace

Day_spectra make_day_spectra(const Correlation_plan& plan, const std::vector<float>& trace,
                             int positions, long long l, int threads) {
    Day_spectra day;
    // The tasks' version on a team of its own: the blocks do not depend on who computes them. An
    // exception must not leave the parallel region: it is thrown once the region is done.
    std::exception_ptr failure;
#pragma omp parallel num_threads(threads > 0 ? threads : omp_get_max_threads())
#pragma omp single
    {
        try {
            day = make_day_spectra_as_tasks(plan, trace, positions, l);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    return day;
}

Day_spectra make_day_spectra_as_tasks(const Correlation_plan& plan, const std::vector<float>& trace,
                                      int positions, long long l) {
    Day_spectra day = empty_day_spectra(plan, positions);
    const float scale = trace_scale(trace);
    const int tasks = (day.blocks + blocks_per_task - 1) / blocks_per_task;
    bool out_of_memory = false;  // an exception must not leave a task
    // The tasks reach plan and trace through pointers (a reference would be copied into each).
    const Correlation_plan* const p = &plan;
    const std::vector<float>* const x = &trace;
#pragma omp taskloop grainsize(1) shared(day, out_of_memory) firstprivate(p, x, scale, l)
    for (int t = 0; t < tasks; ++t) {
        Real_buffer block;
        try {
            block = real_buffer(static_cast<std::size_t>(p->nfft));
        } catch (const std::bad_alloc&) {
#pragma omp atomic write
            out_of_memory = true;
            continue;
        }
        const int end = std::min(day.blocks, (t + 1) * blocks_per_task);
        for (int b = t * blocks_per_task; b < end; ++b) {
            day_spectrum_block(*p, *x, l, scale, b, block.get(), day);
        }
    }
    if (out_of_memory) {
        throw std::bad_alloc();
    }
    return day;
}

Template_spectrum make_template_spectrum(const Correlation_plan& plan, const float* t) {
    Template_spectrum result;
    const int m = plan.m;
    double sum = 0.0, squares = 0.0;
    for (int j = 0; j < m; ++j) {
        sum += t[j];
        squares += static_cast<double>(t[j]) * t[j];
    }
    const double mean = sum / m;
    double energy = 0.0;
    bool constant = true;
    for (int j = 0; j < m; ++j) {
        const double d = t[j] - mean;
        energy += d * d;
        constant = constant && t[j] == t[0];
    }
    result.spectrum = complex_buffer(plan.stride);
    result.flat = constant || energy <= flat_share * squares;
    if (result.flat) {
        return result;
    }
    const double factor = 1.0 / (std::sqrt(energy) * plan.nfft);
    Real_buffer real = real_buffer(static_cast<std::size_t>(plan.nfft));
    result.centred.resize(static_cast<std::size_t>(m));
    for (int j = 0; j < plan.nfft; ++j) {
        real[j] = j < m ? static_cast<float>((t[j] - mean) * factor) : 0.0f;
    }
    for (int j = 0; j < m; ++j) {
        result.centred[j] = (t[j] - mean) / std::sqrt(energy);
    }
    fftwf_execute_dft_r2c(plan.forward, real.get(), result.spectrum.get());
    return result;
}

Correlation_workspace make_workspace(const Correlation_plan& plan) {
    return {complex_buffer(plan.stride), real_buffer(static_cast<std::size_t>(plan.nfft))};
}

void block_numerators(const Correlation_plan& plan, const Day_spectra& day,
                      const Template_spectrum& templ, int b, Correlation_workspace& work) {
    // Day times the conjugate template: correlation, not convolution.
    conjugate_product(day.spectra.get() + static_cast<std::size_t>(b) * plan.stride,
                      templ.spectrum.get(), work.product.get(), plan.nfft / 2 + 1);
    fftwf_execute_dft_c2r(plan.inverse, work.product.get(), work.real.get());
}

float exact_value(const Correlation_plan& plan, const Day_spectra& day,
                  const Template_spectrum& templ, int b, int q) {
    const Exact_windows& exact = day.exact[static_cast<std::size_t>(b)];
    const float* x = exact.samples.data() + (q - exact.from);
    const float inv_norm = day.inv_norm[static_cast<std::size_t>(b) * plan.step + q];
    const double r = dot(templ.centred.data(), x, plan.m) * std::fabs(inv_norm);
    return static_cast<float>(std::clamp(r, -1.0, 1.0));
}

int correlate_block(const Correlation_plan& plan, const Day_spectra& day,
                    const Template_spectrum& templ, int b, Correlation_workspace& work,
                    float* out) {
    const long long first = static_cast<long long>(b) * plan.step;
    const int count = static_cast<int>(std::min<long long>(plan.step, day.positions - first));
    if (count <= 0) {
        return 0;
    }
    if (templ.flat) {
        std::fill(out, out + count, 0.0f);
        return count;
    }
    block_numerators(plan, day, templ, b, work);
    const float* numerator = work.real.get();
    const float* inv_norm = day.inv_norm.get() + first;
    for (int q = 0; q < count; ++q) {
        out[q] = bounded_value(numerator[q], inv_norm[q]);
    }
    for (const auto& [from, end] : day.exact[static_cast<std::size_t>(b)].runs) {
        for (int q = from; q < end; ++q) {
            out[q] = exact_value(plan, day, templ, b, q);
        }
    }
    return count;
}

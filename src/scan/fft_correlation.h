// Normalized correlation coefficient by FFT (FFTW, single precision), in blocks of positions.
//
// A Correlation_plan serves every template of one length; a Day_spectra holds, once per
// channel-day and length, the spectrum of each block of the day and the inverse norm of every
// window; a Template_spectrum holds a template's normalized, transformed samples. The value at
// each position is the template's correlation with the window there, both with their means
// removed, divided by both norms: 1 or -1 where rounding pushes it past the bound by less than
// an eighth, 0 when it lands farther out, 0 for a flat window and 0 everywhere for a flat
// template. A window or template is flat when its variance is no more than 10 float epsilons of
// its mean square (so the rule does not depend on the data's units), or when it is constant.
//
// The rounding of the single-precision transforms scales with the energy of the whole block, so
// a window far quieter than its block (beside an earthquake or a spike, or at the edge of a gap)
// would get a value that is wrong relative to its own size. Such windows are found when the
// day's spectra are made, from the block's energy and the window's norm alone, and their values
// are computed again directly in double precision from a copy of their samples: every value is
// within 1e-4 of the exact coefficient whatever the energy contrast inside a day.
#pragma once

#include <fftw3.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// Frees memory from fftwf_malloc.
struct Fftw_free {
    void operator()(void* p) const { fftwf_free(p); }
};
using Complex_buffer = std::unique_ptr<fftwf_complex[], Fftw_free>;
using Real_buffer = std::unique_ptr<float[], Fftw_free>;

// FFT size and plans for templates of m samples. Plans are made with FFTW_ESTIMATE on buffers
// from fftwf_malloc and only executed on such buffers (and block strides of whole cache lines),
// so every run computes the same numbers. Move-only; destroys its plans.
struct Correlation_plan {
    int m = 0;
    int nfft = 0;            // see fft_size
    int step = 0;            // positions per block: nfft - m + 1
    std::size_t stride = 0;  // complex values per stored block spectrum (nfft / 2 + 1, rounded up)
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;

    Correlation_plan() = default;
    Correlation_plan(Correlation_plan&& other) noexcept;
    Correlation_plan& operator=(Correlation_plan&& other) noexcept;
    Correlation_plan(const Correlation_plan&) = delete;
    Correlation_plan& operator=(const Correlation_plan&) = delete;
    ~Correlation_plan();
};

// Plans for templates of m >= 1 samples correlated with traces of at most trace samples (0: no
// limit). Calls the FFTW planner, which is not thread-safe: call outside parallel regions.
// Throws std::bad_alloc when FFTW cannot plan.
Correlation_plan make_correlation_plan(int m, long long trace = 0);

// FFT size for templates of m samples and traces of at most trace samples (0: no limit): the
// power of two of at least 1024 and 16 m, or, when smaller, the smallest size of the form
// 2^a 3^b 5^c 7^d that is a multiple of 4 and at least trace (and m), which takes every
// position of a trace in one block.
int fft_size(int m, long long trace = 0);

// The smallest number of the form 2^a 3^b 5^c 7^d (a >= 2) that is at least x (at least 4).
long long fast_size(long long x);

// Bytes held by a Day_spectra for templates of m samples and the given number of positions,
// on traces of at most trace samples (as make_correlation_plan).
long long day_spectra_bytes(int m, long long positions, long long trace = 0);

// Bytes of a template's spectrum and of its samples in double (Template_spectrum).
long long template_spectrum_bytes(int m, long long trace = 0);

// Bytes each thread holds for correlations of one template length: its workspace and its block
// of values (see stack_event_day), or the block copy of make_day_spectra, whichever is larger.
long long workspace_bytes(int m, long long trace = 0);

// The positions of one block whose values are computed directly, and the (scaled) samples of
// their windows: samples[0] is the trace sample at block position `from`.
struct Exact_windows {
    int from = 0;
    std::vector<std::pair<int, int>> runs;  // [first, end) block positions, ascending
    std::vector<float> samples;
};

struct Day_spectra {
    int positions = 0;       // windows of m samples correlated: the first `positions` of the trace
    int blocks = 0;          // ceil(positions / step)
    Complex_buffer spectra;  // blocks × stride: spectrum of trace[b·step, b·step + nfft)
    // Per position: 1 / window norm, 0 for a flat window; negative (-0 too) at a gap position.
    // Not zeroed on allocation: the threads that compute the blocks write (and first touch) it.
    std::unique_ptr<float[]> inv_norm;
    std::vector<Exact_windows> exact;  // per block; most have no runs
    // Per block: 1 when every one of its positions is a gap position (a station down, a run of
    // zeros in the file), so that no value of it is ever added to a stack.
    std::vector<uint8_t> all_gaps;
};

// True when position q of day is a gap position.
inline bool is_gap(const Day_spectra& day, int q) {
    return std::signbit(day.inv_norm[static_cast<std::size_t>(q)]);
}

// True when position p of day (size samples) is a gap position among l correlation positions:
// day[p] is exactly 0 and p is at an end of the range or next to another exact 0 (a neighbour
// past the end of day counts as 0). An isolated zero is a sample like any other.
inline bool is_gap_position(const float* day, long long size, long long p, long long l) {
    return day[p] == 0.0f &&
           (p == 0 || p == l - 1 || day[p - 1] == 0.0f || p + 1 >= size || day[p + 1] == 0.0f);
}

// Spectra and window norms of the first positions windows of trace (positions at most
// trace.size() - m + 1, at least 1), with the gap flags of l correlation positions folded in,
// and the windows whose values must be computed directly. Sums are in double, per block from the
// block's first window (summed afresh where they would come out flat, or small next to the
// block's energy); the trace is scaled by a power of two first, which changes no ratio. Runs on at
// most threads OpenMP threads (0: all; call it outside parallel regions), each holding a block of
// nfft floats; the result does not depend on their number. Throws std::bad_alloc.
Day_spectra make_day_spectra(const Correlation_plan& plan, const std::vector<float>& trace,
                             int positions, long long l, int threads = 0);

// The same spectra as make_day_spectra, computed as OpenMP tasks of a few blocks each by
// whichever threads of the enclosing team are free: for a caller inside a task of a parallel
// region, where a parallel region of its own would get one thread. Returns when every block is
// done. Throws std::bad_alloc.
Day_spectra make_day_spectra_as_tasks(const Correlation_plan& plan, const std::vector<float>& trace,
                                      int positions, long long l);

struct Template_spectrum {
    bool flat = true;  // no variance: correlates as 0 everywhere
    Complex_buffer spectrum;
    std::vector<double> centred;  // t with its mean removed, divided by its norm
};

// The spectrum of t[0..m) with its mean removed, divided by its norm and by nfft, and the
// samples it was made from in double.
Template_spectrum make_template_spectrum(const Correlation_plan& plan, const float* t);

// Scratch buffers of one thread.
struct Correlation_workspace {
    Complex_buffer product;
    Real_buffer real;
};
Correlation_workspace make_workspace(const Correlation_plan& plan);

// Writes into work.real the transform numerators of block b's positions: the inverse transform
// of the block's spectrum times the conjugate of the template's (not flat). Each becomes a value
// by bounded_value (scan/block_kernels.h) with the position's inverse norm, except at the
// block's exact windows. Safe to call from several threads with separate workspaces.
void block_numerators(const Correlation_plan& plan, const Day_spectra& day,
                      const Template_spectrum& templ, int b, Correlation_workspace& work);

// The value at position q of block b (not a flat template), computed directly in double; q must
// lie in one of the block's exact runs.
float exact_value(const Correlation_plan& plan, const Day_spectra& day,
                  const Template_spectrum& templ, int b, int q);

// Writes the values of block b (positions b·step up to the block's end or `positions`) to out,
// which takes step floats: by FFT, and directly in double for the block's exact windows. Returns
// the number written. Safe to call from several threads with separate workspaces.
int correlate_block(const Correlation_plan& plan, const Day_spectra& day,
                    const Template_spectrum& templ, int b, Correlation_workspace& work, float* out);

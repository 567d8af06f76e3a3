// The scan's innermost passes over a block of positions, written with GCC's vector types in
// lanes of four floats (SSE2, which every x86-64 has; other processors get the same operations
// lane by lane). Each lane does the single-precision operations of the plain loop in the same
// order, and contraction into fused multiply-adds is off, so each pass gives the bits its plain
// loop gives.
#pragma once

#include <fftw3.h>

#include <cmath>

// out[k] = d[k] times the conjugate of t[k] for k < bins: (dr·tr + di·ti, di·tr − dr·ti).
void conjugate_product(const fftwf_complex* d, const fftwf_complex* t, fftwf_complex* out,
                       int bins);

// The correlation value of a transform numerator and a window's inverse norm (its sign, the
// gap flag, ignored): r = numerator × |inv_norm| where |r| < 1, ±1 where rounding pushed it past
// the bound by less than an eighth, 0 farther out (and for NaN).
inline float bounded_value(float numerator, float inv_norm) {
    const float r = numerator * std::fabs(inv_norm);
    const float size = std::fabs(r);
    return size < 1.0f ? r : size < 1.125f ? (r > 0.0f ? 1.0f : -1.0f) : 0.0f;
}

// For q < n: unless inv_norm[q] is negative (−0 too: a gap position), adds
// bounded_value(numerator[q], inv_norm[q]) to stack[q] and 1 to count[q].
void add_bounded_values(const float* numerator, const float* inv_norm, int n, float* stack,
                        int* count);

// stack[p] / count[p] into stack[p] for p < n (0 / 0 gives NaN).
void divide_by_counts(float* stack, const int* count, long long n);

// out[j] = x[j] × scale for j < n.
void scaled_copy(const float* x, long long n, float scale, float* out);

// The first q in [from, n) with x[q] > limit, or n when there is none (NaN is never above).
long long next_above(const float* x, long long from, long long n, float limit);

// The first q in [from, n) with x[q] == 0 (+0 or −0), or n when there is none.
long long next_zero(const float* x, long long from, long long n);

// The largest finite |x[k]| for k < n (NaN and infinities passed over); 0 when there is none.
float largest_finite_magnitude(const float* x, long long n);

// inv[k] = 1 / sqrt(v[k]) rounded to float where v[k] > 0, else 0, for k < n: each value as
// static_cast<float>(1.0 / std::sqrt(v[k])) gives it (two lanes of doubles at a time on x86-64).
void inverse_roots(const double* v, int n, float* inv);

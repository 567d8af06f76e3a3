#include "scan/block_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Floats = float __attribute__((vector_size(16)));
using Ints = std::int32_t __attribute__((vector_size(16)));

Floats load(const float* p) {
    Floats v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

Ints load(const int* p) {
    Ints v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(float* p, Floats v) {
    std::memcpy(p, &v, sizeof v);
}

void store(int* p, Ints v) {
    std::memcpy(p, &v, sizeof v);
}

Ints bits(Floats v) {
    return reinterpret_cast<Ints>(v);
}

Floats floats(Ints v) {
    return reinterpret_cast<Floats>(v);
}

}  // namespace

void conjugate_product(const fftwf_complex* d, const fftwf_complex* t, fftwf_complex* out,
                       int bins) {
    // Four complex values at a time, split into real and imaginary parts and joined again.
    int k = 0;
    for (; k + 4 <= bins; k += 4) {
        const Floats d0 = load(&d[k][0]), d1 = load(&d[k + 2][0]);
        const Floats t0 = load(&t[k][0]), t1 = load(&t[k + 2][0]);
        const Ints even = {0, 2, 4, 6}, odd = {1, 3, 5, 7};
        const Floats dr = __builtin_shuffle(d0, d1, even), di = __builtin_shuffle(d0, d1, odd);
        const Floats tr = __builtin_shuffle(t0, t1, even), ti = __builtin_shuffle(t0, t1, odd);
        const Floats re = dr * tr + di * ti;
        const Floats im = di * tr - dr * ti;
        store(&out[k][0], __builtin_shuffle(re, im, Ints{0, 4, 1, 5}));
        store(&out[k + 2][0], __builtin_shuffle(re, im, Ints{2, 6, 3, 7}));
    }
    for (; k < bins; ++k) {
        out[k][0] = d[k][0] * t[k][0] + d[k][1] * t[k][1];
        out[k][1] = d[k][1] * t[k][0] - d[k][0] * t[k][1];
    }
}

void add_bounded_values(const float* numerator, const float* inv_norm, int n, float* stack,
                        int* count) {
    const Ints magnitude = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
    const Ints sign = ~magnitude;
    const Floats one = {1.0f, 1.0f, 1.0f, 1.0f};
    const Floats past_one = {1.125f, 1.125f, 1.125f, 1.125f};
    const Ints one_bits = bits(one);
    int q = 0;
    for (; q + 4 <= n; q += 4) {
        const Ints inv = bits(load(inv_norm + q));
        const Floats r = load(numerator + q) * floats(inv & magnitude);
        const Floats size = floats(bits(r) & magnitude);
        const Ints inside = size < one;
        const Ints near = ~inside & (size < past_one);
        // In the near band r is a number other than 0, so its sign bit tells r > 0.
        const Ints value = (inside & bits(r)) | (near & ((bits(r) & sign) | one_bits));
        const Ints reached = inv >= 0;  // integer compare: the sign bit of the inverse norm
        const Floats s = load(stack + q);
        store(stack + q, floats((reached & bits(s + floats(value))) | (~reached & bits(s))));
        store(count + q, load(count + q) - reached);
    }
    for (; q < n; ++q) {
        if (!std::signbit(inv_norm[q])) {
            stack[q] += bounded_value(numerator[q], inv_norm[q]);
            count[q] += 1;
        }
    }
}

void divide_by_counts(float* stack, const int* count, long long n) {
    long long p = 0;
    for (; p + 4 <= n; p += 4) {
        store(stack + p, load(stack + p) / __builtin_convertvector(load(count + p), Floats));
    }
    for (; p < n; ++p) {
        stack[p] = stack[p] / static_cast<float>(count[p]);
    }
}

void scaled_copy(const float* x, long long n, float scale, float* out) {
    const Floats factor = {scale, scale, scale, scale};
    long long j = 0;
    for (; j + 4 <= n; j += 4) {
        store(out + j, load(x + j) * factor);
    }
    for (; j < n; ++j) {
        out[j] = x[j] * scale;
    }
}

namespace {

// The first q in [from, n) where match(x[q]) holds: four at a time while no lane matches, then one
// by one within the four.
template <class Match>
long long next_match(const float* x, long long from, long long n, Match match) {
    long long q = from;
    for (; q + 4 <= n; q += 4) {
        const Ints lanes = match(load(x + q));
        if ((lanes[0] | lanes[1] | lanes[2] | lanes[3]) != 0) {
            break;
        }
    }
    for (; q < n && !match(x[q]); ++q) {
    }
    return q;
}

}  // namespace

long long next_above(const float* x, long long from, long long n, float limit) {
    return next_match(x, from, n, [limit](auto v) { return v > limit; });  // NaN never is
}

long long next_zero(const float* x, long long from, long long n) {
    return next_match(x, from, n, [](auto v) { return v == 0.0f; });
}

float largest_finite_magnitude(const float* x, long long n) {
    // Four lanes of running maxima; NaN and infinities become 0 before they are compared.
    const Ints magnitude = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
    const Floats infinity = {INFINITY, INFINITY, INFINITY, INFINITY};
    Floats largest = {0.0f, 0.0f, 0.0f, 0.0f};
    long long k = 0;
    for (; k + 4 <= n; k += 4) {
        const Floats a = floats(bits(load(x + k)) & magnitude);
        const Floats finite = floats(bits(a) & (a < infinity));
        largest = floats((finite > largest) ? bits(finite) : bits(largest));
    }
    float result = 0.0f;
    for (int lane = 0; lane < 4; ++lane)
        result = std::max(result, largest[lane]);
    for (; k < n; ++k) {
        const float a = std::fabs(x[k]);
        if (a > result && std::isfinite(a))
            result = a;
    }
    return result;
}

void inverse_roots(const double* v, int n, float* inv) {
    int k = 0;
#if defined(__SSE2__)
    // Square root and division are correctly rounded in lanes as in the scalar instructions;
    // lanes at or below 0 (or NaN) are masked to +0.
    const __m128d one = _mm_set1_pd(1.0), zero = _mm_setzero_pd();
    for (; k + 2 <= n; k += 2) {
        const __m128d x = _mm_loadu_pd(v + k);
        const __m128d r = _mm_and_pd(_mm_div_pd(one, _mm_sqrt_pd(x)), _mm_cmpgt_pd(x, zero));
        _mm_storel_pi(reinterpret_cast<__m64*>(inv + k), _mm_cvtpd_ps(r));
    }
#endif
    for (; k < n; ++k) {
        inv[k] = v[k] > 0.0 ? static_cast<float>(1.0 / std::sqrt(v[k])) : 0.0f;
    }
}

#include "dsp/bandpass.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>

#include "dsp/butterworth.h"

namespace {

constexpr double pi = 3.141592653589793;

// Largest deviation of the designed magnitude response from the ideal one that still counts as
// the intended filter (the pass-band gain is 1).
constexpr double gain_tolerance = 1e-3;

struct Free_deleter {
    void operator()(double* p) const { std::free(p); }
};
using Coeffs = std::unique_ptr<double, Free_deleter>;

// One pass of the recursion y[i] = sum b[k] x[i-k] - sum a[k] y[i-k] in transposed direct
// form II, in place over count samples starting at first and going in direction dir (1 or -1);
// each sample is taken as float(x - offset) first. The state and the fed-back output stay in
// double; only the stored sample is rounded to float, so the rounding is not recirculated
// through poles close to the unit circle. z has k_max + 1 entries (k_max >= 2) and z[k_max]
// stays 0; the caller owns z so its state can carry over from one pass to the next.
//
// The recursion is bound by the latency of its feedback, so the sum for y[i] is ordered to leave
// one multiply and one subtraction on the path from y[i-1]: with s_k the state after sample i,
//   y[i] = ((b0 x[i] + b1 x[i-1]) + s_1[i-2]) - a1 y[i-1],
//   s_k[i] = (b_(k+1) x[i] + s_(k+1)[i-1]) - a_(k+1) y[i]   (k >= 1, s_(k_max) = 0),
// which is the textbook form with s_0[i-1] = (b1 x[i-1] + s_1[i-2]) - a1 y[i-1] substituted
// (the same sum in another order). s_0 is only formed at the end, for the state handed on.
// K > 0 fixes k_max at compile time so the state lives in registers; K = 0 takes it at run time
// and keeps the state in scratch (k_max + 1 entries).
template <int K>
void filter_pass(const double* b, const double* a, int k_max, double* z, double* scratch,
                 float* first, std::ptrdiff_t count, std::ptrdiff_t dir, double offset) {
    const int k_top = K > 0 ? K : k_max;
    double local[K > 0 ? K + 1 : 1];
    double* s = K > 0 ? local : scratch;  // s[1..k_top-1]: state after the previous sample
    if (count <= 0) {
        return;
    }
    float* p = first;
    double x = static_cast<float>(static_cast<double>(*p) - offset);
    double y = b[0] * x + z[0];
    *p = static_cast<float>(y);
    double older = z[1];  // s_1 two samples back
    s[k_top] = 0.0;
#pragma GCC unroll 16
    for (int k = 1; k < k_top; ++k) {
        s[k] = (b[k + 1] * x + z[k + 1]) - a[k + 1] * y;
    }
    double x_prev = x, y_prev = y;
    for (std::ptrdiff_t i = 1; i < count; ++i) {
        p += dir;
        x = static_cast<float>(static_cast<double>(*p) - offset);
        y = ((b[0] * x + b[1] * x_prev) + older) - a[1] * y_prev;
        *p = static_cast<float>(y);
        older = s[1];
#pragma GCC unroll 16
        for (int k = 1; k < k_top; ++k) {
            s[k] = (b[k + 1] * x + s[k + 1]) - a[k + 1] * y;
        }
        x_prev = x;
        y_prev = y;
    }
    z[0] = (b[1] * x_prev + older) - a[1] * y_prev;
    for (int k = 1; k < k_top; ++k) {
        z[k] = s[k];
    }
}

void filter_pass(const double* b, const double* a, int k_max, double* z, double* scratch,
                 float* first, std::ptrdiff_t count, std::ptrdiff_t dir, double offset) {
    switch (k_max) {
        case 2:
            filter_pass<2>(b, a, k_max, z, scratch, first, count, dir, offset);
            break;
        case 4:
            filter_pass<4>(b, a, k_max, z, scratch, first, count, dir, offset);
            break;
        case 6:
            filter_pass<6>(b, a, k_max, z, scratch, first, count, dir, offset);
            break;
        case 8:
            filter_pass<8>(b, a, k_max, z, scratch, first, count, dir, offset);
            break;
        default:
            filter_pass<0>(b, a, k_max, z, scratch, first, count, dir, offset);
            break;
    }
}

// The designed coefficients for corners w1 < w2 (fractions of Nyquist); throws std::bad_alloc
// when an allocation fails.
void design(int n, double w1, double w2, Coeffs& a, Coeffs& b) {
    a.reset(ComputeDenCoeffs(n, w1, w2));
    if (!a) {
        throw std::bad_alloc();
    }
    b.reset(ComputeNumCoeffs(n, w1, w2, a.get()));
    if (!b) {
        throw std::bad_alloc();
    }
}

// True when every root of z^m + a[1] z^(m-1) + ... + a[m] lies strictly inside the circle of
// radius rho, by the Schur-Cohn step-down on the polynomial scaled to that circle: every
// reflection coefficient must have a magnitude below 1.
bool roots_inside(const double* a, int m, double rho) {
    std::vector<double> c(static_cast<std::size_t>(m) + 1);
    double scale = 1.0;
    for (int k = 0; k <= m; ++k) {
        c[k] = a[k] * scale;
        scale /= rho;
    }
    std::vector<double> next(c.size());
    for (int order = m; order >= 1; --order) {
        const double reflection = c[order] / c[0];
        if (!(std::fabs(reflection) < 1.0)) {
            return false;
        }
        for (int i = 0; i < order; ++i) {
            next[i] = c[i] - reflection * c[order - i];
        }
        std::copy(next.begin(), next.begin() + order, c.begin());
    }
    return true;
}

// Magnitude of b/a on the unit circle at w radians per sample.
double gain(const double* b, const double* a, int k_max, double w) {
    std::complex<double> num = 0.0, den = 0.0;
    for (int k = 0; k <= k_max; ++k) {
        const std::complex<double> e = std::polar(1.0, -k * w);
        num += b[k] * e;
        den += a[k] * e;
    }
    return std::abs(num) / std::abs(den);
}

// The ideal filter, worked out from the analog prototype rather than from the coefficients:
// the band edges prewarped for the bilinear map z = (1 + s) / (1 - s).
struct Ideal {
    int n;
    double edge_low, edge_high;  // tan(w / 2) of the corners, w in radians per sample

    // Magnitude of the order-2n Butterworth band-pass at w radians per sample, 0 < w < pi.
    double gain(double w) const {
        const double t = std::tan(w / 2.0);
        const double x = (t * t - edge_low * edge_high) / (t * (edge_high - edge_low));
        return 1.0 / std::sqrt(1.0 + std::pow(x, 2 * n));
    }

    // Smallest distance of a pole from the unit circle.
    double pole_margin() const {
        const double width = edge_high - edge_low;
        const double centre2 = edge_low * edge_high;
        double margin = 1.0;
        for (int k = 0; k < n; ++k) {
            // Left half-plane pole of the low-pass prototype, and the two band-pass poles it
            // turns into: the roots of s^2 - p width s + centre2.
            const std::complex<double> p = std::polar(1.0, pi * (2 * k + n + 1) / (2 * n));
            const std::complex<double> half = p * width / 2.0;
            const std::complex<double> root = std::sqrt(half * half - centre2);
            for (const std::complex<double>& s : {half + root, half - root}) {
                margin = std::min(margin, 1.0 - std::abs((1.0 + s) / (1.0 - s)));
            }
        }
        return margin;
    }
};

}  // namespace

void bandpass(std::vector<float>& data, double f_low, double f_high, int n, double fs) {
    if (n < 1) {
        throw std::invalid_argument("bandpass: filter order must be at least 1");
    }
    const int count = static_cast<int>(data.size());
    const double r = 1.0 / fs;
    const double w1 = f_low * r * 2.0;
    const double w2 = f_high * r * 2.0;

    Coeffs a, b;
    design(n, w1, w2, a, b);
    const int k_max = 2 * n;
    // Everything is allocated before the trace is touched, so a failure leaves it as it was.
    std::vector<double> z(static_cast<std::size_t>(k_max) + 1, 0.0);
    std::vector<double> scratch(static_cast<std::size_t>(k_max) + 1, 0.0);
    if (count == 0) {
        return;
    }
    double sum = 0.0;
    for (float v : data) {
        sum += static_cast<double>(v);
    }
    const double mean = sum / count;

    // The forward pass removes the mean as it reads; the backward pass runs from the end and
    // starts from the state the forward pass left behind. Both work in place.
    filter_pass(b.get(), a.get(), k_max, z.data(), scratch.data(), data.data(), count, 1, mean);
    filter_pass(b.get(), a.get(), k_max, z.data(), scratch.data(), data.data() + (count - 1), count,
                -1, 0.0);
}

bool bandpass_is_stable(double f_low, double f_high, int n, double fs) {
    if (!(n >= 1 && fs > 0.0 && f_low > 0.0 && f_low < f_high && f_high < fs / 2.0)) {
        return false;
    }
    const double w1 = f_low / fs * 2.0;
    const double w2 = f_high / fs * 2.0;
    Coeffs a, b;
    design(n, w1, w2, a, b);
    const int k_max = 2 * n;
    const Ideal ideal{n, std::tan(pi * w1 / 2.0), std::tan(pi * w2 / 2.0)};

    // Rounding in the design moves the poles; one that comes within half the ideal filter's
    // smallest distance of the unit circle means the design has broken down.
    if (!roots_inside(a.get(), k_max, 1.0 - ideal.pole_margin() / 2.0)) {
        return false;
    }
    // The response must be the intended one over the whole axis and densely around the band.
    std::vector<double> frequencies;  // radians per sample
    const int uniform = 512;
    for (int i = 1; i < uniform; ++i) {
        frequencies.push_back(pi * i / uniform);
    }
    const int per_band = 32;
    for (int i = -per_band / 2; i <= 3 * per_band / 2; ++i) {
        const double w = w1 * std::pow(w2 / w1, static_cast<double>(i) / per_band);
        if (w < 1.0) {
            frequencies.push_back(pi * w);
        }
    }
    for (double w : frequencies) {
        const double deviation = std::fabs(gain(b.get(), a.get(), k_max, w) - ideal.gain(w));
        if (!(deviation <= gain_tolerance)) {
            return false;
        }
    }
    return true;
}

#include "dsp/bandpass.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <stdexcept>

namespace {

constexpr double pi = 3.141592653589793;

// Largest deviation of the designed magnitude response from the ideal one that still counts as
// the intended filter (the pass-band gain is 1).
constexpr double gain_tolerance = 1e-4;

using Complex = std::complex<double>;

// One second-order section: (1 - z^-2) / (1 + a1 z^-1 + a2 z^-2), one zero at z = 1 and one at
// z = -1 and a pair of poles.
struct Section {
    double a1 = 0.0, a2 = 0.0;
};

// The filter: input gain times the cascade of n sections.
struct Design {
    double gain = 1.0;
    std::vector<Section> sections;
};

// The band edges prewarped for the bilinear map z = (1 + s) / (1 - s): tan(w / 2) of the
// corners, w in radians per sample.
struct Edges {
    double low, high;
};

Edges prewarp(double f_low, double f_high, double fs) {
    return {std::tan(pi * f_low / fs), std::tan(pi * f_high / fs)};
}

// The analog band-pass poles that pole p of the low-pass prototype turns into: the roots of
// s^2 - p width s + centre^2 (width and centre^2 of the prewarped band).
void band_poles(Complex p, const Edges& e, Complex& r1, Complex& r2) {
    const Complex half = p * (e.high - e.low) / 2.0;
    const Complex root = std::sqrt(half * half - e.low * e.high);
    r1 = half + root;
    r2 = half - root;
}

Complex to_z(Complex s) {
    return (1.0 + s) / (1.0 - s);
}

// The section with digital poles z1 and z2 (a conjugate pair, or two real poles).
Section section(Complex z1, Complex z2) {
    return {-(z1 + z2).real(), (z1 * z2).real()};
}

// Response of one section at e^{jw}.
Complex response(const Section& s, double w) {
    const Complex e1 = std::polar(1.0, -w), e2 = std::polar(1.0, -2.0 * w);
    return (1.0 - e2) / (1.0 + s.a1 * e1 + s.a2 * e2);
}

// Geometric centre of the prewarped band, in radians per sample.
double centre(const Edges& e) {
    return 2.0 * std::atan(std::sqrt(e.low * e.high));
}

// The order-2n band-pass between the prewarped edges: each prototype pole in the upper half
// plane gives two conjugate pairs (two sections), the real pole of an odd n one section.
Design design(int n, const Edges& e) {
    Design d;
    for (int k = 0; 2 * k + 1 <= n; ++k) {
        const Complex p = std::polar(1.0, pi * (2 * k + n + 1) / (2 * n));
        Complex r1, r2;
        band_poles(p, e, r1, r2);
        if (2 * k + 1 == n) {
            d.sections.push_back(section(to_z(r1), to_z(r2)));  // p = -1: a real quadratic
        } else {
            d.sections.push_back(section(to_z(r1), std::conj(to_z(r1))));
            d.sections.push_back(section(to_z(r2), std::conj(to_z(r2))));
        }
    }
    Complex total = 1.0;
    for (const Section& s : d.sections) {
        total *= response(s, centre(e));
    }
    d.gain = 1.0 / std::abs(total);
    return d;
}

// The state of the cascade in direct form I: v[0] holds the last two (scaled) inputs, v[k] the
// last two outputs of section k, which are also the last two inputs of section k + 1.
struct History {
    double last, before;
};

// One pass of the cascade, in place over count samples starting at first and going in direction
// dir (1 or -1); each sample is taken as float(x - offset) first and scaled by the gain. The
// histories and the fed-back outputs stay in double; only the stored sample is rounded to
// float, so no rounding is recirculated through poles close to the unit circle. The caller owns
// h (sections + 1 entries) so that the state can carry over from one pass to the next. Each
// section computes y = ((u - u[-2]) - a2 y[-2]) - a1 y[-1], which leaves one multiply and one
// subtraction on the path from its previous output. N > 0 fixes the number of sections at
// compile time so that the state lives in registers; N = 0 takes it from the design.
template <int N>
void filter_pass(const Design& d, History* h, float* first, std::ptrdiff_t count,
                 std::ptrdiff_t dir, double offset) {
    const int sections = N > 0 ? N : static_cast<int>(d.sections.size());
    History local[N > 0 ? N + 1 : 1];
    double a1_local[N > 0 ? N : 1], a2_local[N > 0 ? N : 1];
    std::vector<History> run_time;
    std::vector<double> a1_run, a2_run;
    if (N == 0) {
        run_time.assign(h, h + sections + 1);
        a1_run.resize(static_cast<std::size_t>(sections));
        a2_run.resize(static_cast<std::size_t>(sections));
    }
    History* v = N > 0 ? local : run_time.data();
    double* a1 = N > 0 ? a1_local : a1_run.data();
    double* a2 = N > 0 ? a2_local : a2_run.data();
    for (int k = 0; k < sections; ++k) {
        a1[k] = d.sections[static_cast<std::size_t>(k)].a1;
        a2[k] = d.sections[static_cast<std::size_t>(k)].a2;
    }
    if (N > 0) {
        std::copy(h, h + sections + 1, v);
    }
    const double gain = d.gain;
    float* p = first;
    for (std::ptrdiff_t i = 0; i < count; ++i, p += dir) {
        double u = gain * static_cast<float>(static_cast<double>(*p) - offset);
#pragma GCC unroll 8
        for (int k = 0; k < sections; ++k) {
            const double y = ((u - v[k].before) - a2[k] * v[k + 1].before) - a1[k] * v[k + 1].last;
            v[k].before = v[k].last;
            v[k].last = u;
            u = y;
        }
        v[sections].before = v[sections].last;
        v[sections].last = u;
        *p = static_cast<float>(u);
    }
    std::copy(v, v + sections + 1, h);
}

void filter_pass(const Design& d, History* h, float* first, std::ptrdiff_t count,
                 std::ptrdiff_t dir, double offset) {
    switch (d.sections.size()) {
        case 3:
            filter_pass<3>(d, h, first, count, dir, offset);
            break;
        default:
            filter_pass<0>(d, h, first, count, dir, offset);
            break;
    }
}

using Doubles = double __attribute__((vector_size(16)));
using Floats2 = float __attribute__((vector_size(8)));

// One pass over two traces at once, a lane each: lane 0 over count samples from a, lane 1 from
// b, both in direction dir, with offsets off[0] and off[1] and histories ha and hb (sections + 1
// each). Each lane does exactly the double operations of filter_pass<N>, in the same order, so
// each trace gets the bits a pass of its own gives.
template <int N>
void filter_two(const Design& d, History* ha, History* hb, float* a, float* b, std::ptrdiff_t count,
                std::ptrdiff_t dir, const double off[2]) {
    Doubles last[N + 1], before[N + 1], a1[N], a2[N];
    for (int k = 0; k <= N; ++k) {
        last[k] = Doubles{ha[k].last, hb[k].last};
        before[k] = Doubles{ha[k].before, hb[k].before};
    }
    for (int k = 0; k < N; ++k) {
        const Section& s = d.sections[static_cast<std::size_t>(k)];
        a1[k] = Doubles{s.a1, s.a1};
        a2[k] = Doubles{s.a2, s.a2};
    }
    const Doubles gain = {d.gain, d.gain}, offset = {off[0], off[1]};
    for (std::ptrdiff_t i = 0; i < count; ++i, a += dir, b += dir) {
        const Doubles x = __builtin_convertvector(Floats2{*a, *b}, Doubles);
        Doubles u =
            gain * __builtin_convertvector(__builtin_convertvector(x - offset, Floats2), Doubles);
#pragma GCC unroll 8
        for (int k = 0; k < N; ++k) {
            const Doubles y = ((u - before[k]) - a2[k] * before[k + 1]) - a1[k] * last[k + 1];
            before[k] = last[k];
            last[k] = u;
            u = y;
        }
        before[N] = last[N];
        last[N] = u;
        const Floats2 out = __builtin_convertvector(u, Floats2);
        *a = out[0];
        *b = out[1];
    }
    for (int k = 0; k <= N; ++k) {
        ha[k] = {last[k][0], before[k][0]};
        hb[k] = {last[k][1], before[k][1]};
    }
}

// The ideal filter, worked out from the analog prototype rather than from the sections.
struct Ideal {
    int n;
    Edges e;

    // Magnitude of the order-2n Butterworth band-pass at w radians per sample, 0 < w < pi.
    double gain(double w) const {
        const double t = std::tan(w / 2.0);
        const double x = (t * t - e.low * e.high) / (t * (e.high - e.low));
        return 1.0 / std::sqrt(1.0 + std::pow(x, 2 * n));
    }

    // Smallest distance of a pole from the unit circle.
    double pole_margin() const {
        double margin = 1.0;
        for (int k = 0; k < n; ++k) {
            Complex r1, r2;
            band_poles(std::polar(1.0, pi * (2 * k + n + 1) / (2 * n)), e, r1, r2);
            for (const Complex& s : {r1, r2}) {
                margin = std::min(margin, 1.0 - std::abs(to_z(s)));
            }
        }
        return margin;
    }
};

// True when both roots of z^2 + a1 z + a2 lie strictly inside the circle of radius rho.
bool roots_inside(const Section& s, double rho) {
    const Complex root = std::sqrt(Complex(s.a1 * s.a1 / 4.0 - s.a2));
    const Complex z1 = -s.a1 / 2.0 + root, z2 = -s.a1 / 2.0 - root;
    return std::abs(z1) < rho && std::abs(z2) < rho;
}

}  // namespace

void bandpass(std::vector<float>& data, double f_low, double f_high, int n, double fs) {
    if (n < 1) {
        throw std::invalid_argument("bandpass: filter order must be at least 1");
    }
    // Everything is allocated before the trace is touched, so a failure leaves it as it was.
    const Design d = design(n, prewarp(f_low, f_high, fs));
    std::vector<History> h(d.sections.size() + 1, History{0.0, 0.0});
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(data.size());
    if (count == 0) {
        return;
    }
    double sum = 0.0;
    for (float v : data) {
        sum += static_cast<double>(v);
    }
    const double mean = sum / static_cast<double>(count);

    // The forward pass removes the mean as it reads; the backward pass runs from the end and
    // starts from the state the forward pass left behind. Both work in place.
    filter_pass(d, h.data(), data.data(), count, 1, mean);
    filter_pass(d, h.data(), data.data() + (count - 1), count, -1, 0.0);
}

void bandpass_two(std::vector<float>& a, std::vector<float>& b, double f_low, double f_high, int n,
                  double fs) {
    if (n < 1) {
        throw std::invalid_argument("bandpass: filter order must be at least 1");
    }
    const Design d = design(n, prewarp(f_low, f_high, fs));
    if (d.sections.size() != 3 || a.empty() || b.empty()) {
        bandpass(a, f_low, f_high, n, fs);
        bandpass(b, f_low, f_high, n, fs);
        return;
    }
    std::vector<History> ha(4, History{0.0, 0.0}), hb(4, History{0.0, 0.0});
    const std::ptrdiff_t ca = static_cast<std::ptrdiff_t>(a.size());
    const std::ptrdiff_t cb = static_cast<std::ptrdiff_t>(b.size());
    const std::ptrdiff_t both = std::min(ca, cb);
    // The means, each summed in order: the common stretch in two lanes, then the longer's rest.
    Doubles sums = {0.0, 0.0};
    for (std::ptrdiff_t i = 0; i < both; ++i) {
        sums += __builtin_convertvector(
            Floats2{a[static_cast<std::size_t>(i)], b[static_cast<std::size_t>(i)]}, Doubles);
    }
    double sum_a = sums[0], sum_b = sums[1];
    for (std::ptrdiff_t i = both; i < ca; ++i) {
        sum_a += static_cast<double>(a[static_cast<std::size_t>(i)]);
    }
    for (std::ptrdiff_t i = both; i < cb; ++i) {
        sum_b += static_cast<double>(b[static_cast<std::size_t>(i)]);
    }
    const double mean[2] = {sum_a / static_cast<double>(ca), sum_b / static_cast<double>(cb)};
    // Forwards: the common stretch together, then the longer trace's rest alone; backwards from
    // each trace's own end the same way.
    filter_two<3>(d, ha.data(), hb.data(), a.data(), b.data(), both, 1, mean);
    if (ca > both) {
        filter_pass<3>(d, ha.data(), a.data() + both, ca - both, 1, mean[0]);
    }
    if (cb > both) {
        filter_pass<3>(d, hb.data(), b.data() + both, cb - both, 1, mean[1]);
    }
    const double none[2] = {0.0, 0.0};
    filter_two<3>(d, ha.data(), hb.data(), a.data() + (ca - 1), b.data() + (cb - 1), both, -1,
                  none);
    if (ca > both) {
        filter_pass<3>(d, ha.data(), a.data() + (ca - both - 1), ca - both, -1, 0.0);
    }
    if (cb > both) {
        filter_pass<3>(d, hb.data(), b.data() + (cb - both - 1), cb - both, -1, 0.0);
    }
}

bool bandpass_is_stable(double f_low, double f_high, int n, double fs) {
    if (!(n >= 1 && fs > 0.0 && f_low > 0.0 && f_low < f_high && f_high < fs / 2.0)) {
        return false;
    }
    const Ideal ideal{n, prewarp(f_low, f_high, fs)};
    const Design d = design(n, ideal.e);
    if (!std::isfinite(d.gain)) {
        return false;
    }
    // Rounding in the design moves the poles; one that comes within half the ideal filter's
    // smallest distance of the unit circle means the design has broken down.
    const double rho = 1.0 - ideal.pole_margin() / 2.0;
    for (const Section& s : d.sections) {
        if (!roots_inside(s, rho)) {
            return false;
        }
    }
    // The response must be the intended one over the whole axis and densely around the band.
    std::vector<double> frequencies;  // radians per sample
    const int uniform = 512;
    for (int i = 1; i < uniform; ++i) {
        frequencies.push_back(pi * i / uniform);
    }
    const double w1 = 2.0 * f_low / fs, w2 = 2.0 * f_high / fs;  // fractions of Nyquist
    const int per_band = 32;
    for (int i = -per_band / 2; i <= 3 * per_band / 2; ++i) {
        const double w = w1 * std::pow(w2 / w1, static_cast<double>(i) / per_band);
        if (w < 1.0) {
            frequencies.push_back(pi * w);
        }
    }
    for (double w : frequencies) {
        Complex total = d.gain;
        for (const Section& s : d.sections) {
            total *= response(s, w);
        }
        const double deviation = std::fabs(std::abs(total) - ideal.gain(w));
        if (!(deviation <= gain_tolerance)) {
            return false;
        }
    }
    return true;
}

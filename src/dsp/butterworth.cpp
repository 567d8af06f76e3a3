#include "dsp/butterworth.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>

namespace {

constexpr double pi = 3.141592653589793;

double* alloc_doubles(std::size_t count) {
    return static_cast<double*>(std::calloc(count, sizeof(double)));
}

}  // namespace

double* ComputeHP(int n) {
    if (n < 1) {
        return nullptr;
    }
    double* c = alloc_doubles(static_cast<std::size_t>(n) + 1);
    if (c == nullptr) {
        return nullptr;
    }
    c[0] = 1.0;
    c[1] = n;
    const int m = n / 2;
    for (int i = 2; i <= m; ++i) {
        c[i] = ((n + 1 - i) * c[i - 1]) / i;
        c[n - i] = c[i];
    }
    c[n - 1] = n;
    c[n] = 1.0;
    for (int i = 1; i <= n; i += 2) {
        c[i] = -c[i];
    }
    return c;
}

double* TrinomialMultiply(int n, const double* b, const double* c) {
    if (n < 1) {
        return nullptr;
    }
    double* A = alloc_doubles(4 * static_cast<std::size_t>(n));
    if (A == nullptr) {
        return nullptr;
    }
    // A_p lives at A[2p] (real) and A[2p + 1] (imaginary).
    A[0] = b[0];
    A[1] = b[1];
    A[2] = c[0];
    A[3] = c[1];
    for (int i = 1; i < n; ++i) {
        const double br = b[2 * i];
        const double bi = b[2 * i + 1];
        const double cr = c[2 * i];
        const double ci = c[2 * i + 1];

        // A_{2i+1} += c_i * A_{2i-1}
        {
            const double pr = A[2 * (2 * i - 1)];
            const double pq = A[2 * (2 * i - 1) + 1];
            A[2 * (2 * i + 1)] += cr * pr - ci * pq;
            A[2 * (2 * i + 1) + 1] += cr * pq + ci * pr;
        }
        // Descending, so every update reads the previous partial product.
        for (int p = 2 * i; p >= 2; --p) {
            const double r1 = A[2 * (p - 1)];
            const double q1 = A[2 * (p - 1) + 1];
            const double r2 = A[2 * (p - 2)];
            const double q2 = A[2 * (p - 2) + 1];
            A[2 * p] += (br * r1 - bi * q1) + (cr * r2 - ci * q2);
            A[2 * p + 1] += (br * q1 + bi * r1) + (cr * q2 + ci * r2);
        }
        // A_1 += b_i * A_0 + c_i
        {
            const double r0 = A[0];
            const double q0 = A[1];
            A[2] += (br * r0 - bi * q0) + cr;
            A[3] += (br * q0 + bi * r0) + ci;
        }
        A[0] += br;
        A[1] += bi;
    }
    return A;
}

double* ComputeDenCoeffs(int n, double f1, double f2) {
    if (n < 1) {
        return nullptr;
    }
    const double cp = std::cos((f2 + f1) * pi * 0.5);
    const double theta = (f2 - f1) * pi * 0.5;
    const double st = std::sin(theta);
    const double ct = std::cos(theta);
    const double s2t = (st + st) * ct;
    const double c2t = (ct + ct) * ct - 1.0;

    double* r = alloc_doubles(2 * static_cast<std::size_t>(n));
    double* t = alloc_doubles(2 * static_cast<std::size_t>(n));
    if (r == nullptr || t == nullptr) {
        std::free(r);
        std::free(t);
        return nullptr;
    }
    for (int k = 0; k < n; ++k) {
        const double phi = (2 * k + 1) * pi / (2 * n);
        const double sphi = std::sin(phi);
        const double cphi = std::cos(phi);
        const double d = 1.0 + s2t * sphi;
        r[2 * k] = c2t / d;
        r[2 * k + 1] = s2t * cphi / d;
        t[2 * k] = -2.0 * cp * (ct + st * sphi) / d;
        t[2 * k + 1] = -2.0 * cp * st * cphi / d;
    }
    double* a = TrinomialMultiply(n, t, r);
    std::free(t);
    std::free(r);
    if (a == nullptr) {
        return nullptr;
    }
    // Keep the real parts only, packed to the front: a[k] = Re A_{k-1}, a[0] = 1. Ascending k
    // never overwrites an index that is still to be read (2k - 2 >= k).
    a[1] = a[0];
    a[0] = 1.0;
    for (int k = 3; k <= 2 * n; ++k) {
        a[k] = a[2 * k - 2];
    }
    return a;
}

double* ComputeNumCoeffs(int n, double f1, double f2, const double* a) {
    if (n < 1 || a == nullptr) {
        return nullptr;
    }
    double* b = alloc_doubles(2 * static_cast<std::size_t>(n) + 1);
    if (b == nullptr) {
        return nullptr;
    }
    double* h = ComputeHP(n);
    if (h == nullptr) {
        std::free(b);
        return nullptr;
    }
    for (int i = 0; i < n; ++i) {
        b[2 * i] = h[i];
        b[2 * i + 1] = 0.0;
    }
    b[2 * n] = h[n];
    std::free(h);

    // Geometric centre of the prewarped band, mapped back to radians per sample.
    const double cp0 = std::tan(pi * f1 * 0.5) * 4.0;
    const double cp1 = std::tan(pi * f2 * 0.5) * 4.0;
    const double wn = 2.0 * std::atan2(std::sqrt(cp0 * cp1), 4.0);

    // Real parts of both polynomials at z = e^{j wn}; their ratio sets unit gain there.
    double num = 0.0;
    double den = 0.0;
    for (int k = 0; k <= 2 * n; ++k) {
        const double w = std::cos(k * wn);
        num += b[k] * w;
        den += a[k] * w;
    }
    for (int k = 0; k <= 2 * n; ++k) {
        b[k] = (b[k] * den) / num;
    }
    return b;
}

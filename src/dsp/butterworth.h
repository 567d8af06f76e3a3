// Digital Butterworth band-pass design.
//
// Frequencies are fractions of the Nyquist frequency (2 f / f_sample). Every function returns a
// heap block obtained zero-filled from calloc that the caller releases with free, or nullptr
// when an allocation fails (after releasing what it had allocated itself) or n < 1. The cut-offs
// are not checked: 0 < f1 < f2 < 1 is the caller's business.
#pragma once

// Alternating binomial coefficients of (1 - x)^n in ascending powers: n + 1 doubles.
double* ComputeHP(int n);

// Expands the product of n complex quadratics x^2 + b_k x + c_k. b and c hold n complex values
// each, interleaved (real at 2k, imaginary at 2k + 1). Returns the 2n complex coefficients below
// the implied leading 1, interleaved: 4n doubles.
double* TrinomialMultiply(int n, const double* b, const double* c);

// Denominator of the 2n-th order band-pass: 4n doubles, of which indices 0..2n are a[0..2n]
// (a[0] = 1); the rest is left-over working space.
double* ComputeDenCoeffs(int n, double f1, double f2);

// Numerator (1 - z^-2)^n scaled to unit gain at the band's centre frequency, using the
// denominator a from ComputeDenCoeffs with the same n, f1 and f2: 2n + 1 doubles.
double* ComputeNumCoeffs(int n, double f1, double f2, const double* a);

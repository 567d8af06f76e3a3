// Zero-phase Butterworth band-pass filtering.
#pragma once

#include <vector>

// Removes the mean of data and filters it forwards and then backwards with the order-2n
// Butterworth band-pass between f_low and f_high (Hz) at sample rate fs, in place: the analog
// prototype's poles mapped by the bilinear transform with prewarped corners, unit gain at the
// band's centre, run as n second-order sections in double precision; the state of the forward
// pass is carried into the backward pass. Only the stored samples are float. The length never
// changes. Throws, leaving data untouched, std::bad_alloc when memory runs out and
// std::invalid_argument when n < 1. Bands for which bandpass_is_stable is false give
// meaningless output: callers check them.
void bandpass(std::vector<float>& data, double f_low, double f_high, int n, double fs);

// bandpass(a, ...) and bandpass(b, ...), with the same bits, the two traces filtered together in
// two lanes where they overlap (about the time of one) when n is 3; other orders filter a, then
// b. Throws as bandpass; with n = 3 before either trace is touched.
void bandpass_two(std::vector<float>& a, std::vector<float>& b, double f_low, double f_high, int n,
                  double fs);

// True when bandpass(data, f_low, f_high, n, fs) filters stably and as intended: n >= 1,
// 0 < f_low < f_high < fs / 2, every pole of the sections lies at least half as far inside the
// unit circle as the closest pole of the ideal filter, and the magnitude response of the
// sections stays within 1e-4 of the ideal Butterworth band-pass at every frequency checked (a
// uniform grid plus a dense one around the band). False otherwise: bands whose poles lie so
// close to z = 1 or z = -1 that double precision cannot hold them (corners within a few
// ten-millionths of the rate of 0 or of Nyquist). Throws std::bad_alloc when memory runs out.
bool bandpass_is_stable(double f_low, double f_high, int n, double fs);

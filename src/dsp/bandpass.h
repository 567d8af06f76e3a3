// Zero-phase Butterworth band-pass filtering.
#pragma once

#include <vector>

// Removes the mean of data and filters it forwards and then backwards with the order-2n
// Butterworth band-pass between f_low and f_high (Hz) at sample rate fs, in place; the state
// of the forward pass is carried into the backward pass. The length never changes. Throws,
// leaving data untouched, std::bad_alloc when memory runs out and std::invalid_argument when
// n < 1. Corners outside 0 < f_low < f_high < fs/2 give meaningless output: callers check them.
void bandpass(std::vector<float>& data, double f_low, double f_high, int n, double fs);

// Median absolute deviation.
#pragma once

#include <vector>

// Raw median absolute deviation of the values that are numbers (no 1.4826 factor): the element
// of rank n/2 of |x - m|, where m is the element of rank n/2 (the upper middle for even n),
// both found exactly on the float bit patterns (the same values as a selection by comparison):
// a histogram of the upper 16 bits, then a selection among the values of the one bin that holds
// the rank; on the OpenMP threads for long vectors, with the same result whatever their number.
// Returns NaN when v holds no number (or is empty).
float mad(const std::vector<float>& v);

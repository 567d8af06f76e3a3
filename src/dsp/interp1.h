// Linear interpolation onto a new uniform time grid.
#pragma once

#include <vector>

// Output samples [first, end) of an interp1 result that were interpolated from the input; the
// others lie before the first input sample or at or after the last one and hold 0.
struct Sample_span {
    int first = 0;
    int end = 0;
};

// Resamples y (first sample at time t0, rate fs_in) onto floor((t_end - t_start) × fs_out)
// samples starting at t_start, spaced 1 / fs_out, by linear interpolation. Times and input
// positions are worked out in double precision (output sample j at input position
// (t_start - t0) × fs_in + j × fs_in / fs_out, a position within a millionth of a sample of a
// whole number taken as that number), so late in a day at high rates samples neither repeat nor
// skip, and where the two grids coincide each output sample is an input sample exactly. Output
// times before the first input sample, or whose preceding input sample is the last one, give 0;
// the input is never read out of range. When covered is not null it receives the span of output
// samples that were interpolated from the input. A window ending at or before its start (or a
// rate that is not a positive number) gives an empty vector; one of 2^31 samples or more throws
// std::length_error.
std::vector<float> interp1(double t0, double fs_in, const std::vector<float>& y, double t_start,
                           double t_end, double fs_out, Sample_span* covered = nullptr);

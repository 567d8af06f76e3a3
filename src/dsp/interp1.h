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
// samples starting at t_start, spaced 1 / fs_out, by linear interpolation in single precision.
// Output times before the first input sample, or whose preceding input sample is the last one,
// give 0; the input is never read out of range. Where two neighbouring input times round to the
// same float, the earlier sample's value is taken. When covered is not null it receives the
// span of output samples that were interpolated from the input. A window ending at or before
// its start gives an empty vector; one of 2^31 samples or more throws std::length_error.
std::vector<float> interp1(float t0, float fs_in, const std::vector<float>& y, float t_start,
                           float t_end, float fs_out, Sample_span* covered = nullptr);

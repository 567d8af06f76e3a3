// Placing the segments of a day file on the run's sample grid, and which samples are data.
#pragma once

#include <vector>

#include "acquire/mseed_reader.h"
#include "dsp/interp1.h"

// A stretch of a day file's samples, and which of them are data.
struct Day_segment {
    double starttime = 0.0;  // first sample, microseconds since 1970-01-01T00:00:00 UTC
    double samprate = 0.0;
    std::vector<float> samples;     // samples that are not data hold 0
    std::vector<Sample_span> data;  // the stretches of samples that are data, ascending
};

// The segment with its samples judged: samples that are not finite (NaN, infinities) and runs
// of exact zeros lasting at least a second (and at least two samples), which no sensor records,
// are not data; the non-finite ones become 0. Adds the number of non-finite samples to
// non_finite. Never fails.
Day_segment judge_segment(Mseed_segment&& segment, long long& non_finite);

// Samples on the run's grid and which of them are data.
struct Placed_window {
    std::vector<float> samples;
    std::vector<Sample_span> data;  // ascending, disjoint and not touching; every other sample is 0
};

// count samples at fs per second, sample j at window_start + j / fs seconds after day_start
// (epoch seconds), from the segments' data: each output sample is interpolated (interp1) from
// the two samples of one stretch of data around its time, from the first segment in order that
// has them (an overlap is taken once, first come). Samples no stretch covers (between segments,
// before the first and from the last sample of a stretch on, outside every segment) are 0 and
// not data. release, when not null, is segments itself: each segment's samples are freed once
// placed. Never fails (throws std::bad_alloc when memory runs out).
Placed_window place_segments(const std::vector<Day_segment>& segments, double day_start,
                             double window_start, int count, int fs,
                             std::vector<Day_segment>* release);

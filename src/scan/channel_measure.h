// One template channel measured at a detection: the best correlation within a few samples of its
// aligned position, refined between samples, and the amplitude of the detected window relative
// to the template.
#pragma once

#include <cstddef>

#include "control/outcome.h"

struct Channel_measurement {
    bool measured = false;  // some lag's window lay inside the trace
    double cc = 0.0;        // the parabola's vertex value (the peak sample's own at a range end)
    double lag = 0.0;       // samples after the aligned position, a fraction of a sample refined
    double ratio = 0.0;     // RMS of the window at the peak sample over the template's RMS
};

// Measures templ (m samples) against trace (size samples) around position aligned: the
// normalized correlation coefficient (both means removed) of the template with the window at
// aligned + k for every k from -max_lag to max_lag whose window lies inside the trace, all in
// double. A window or template whose variance is no more than 10 float epsilons of its mean
// square is flat and correlates as 0. The largest value (the first of equals) is refined by a
// parabola through it and its two neighbours when both were computed and it lies strictly above
// them. The ratio is the RMS of the window at the peak's sample over the template's RMS (NaN for
// a template of zeros). Returns measured false when no window fits or m < 1.
Channel_measurement measure_channel(const float* trace, long long size, long long aligned,
                                    const float* templ, int m, int max_lag);

// The largest lag searched, in seconds: VEMLO_MAX_LAG when set, else 0.5. Fails with a line
// beginning "Error: " when the variable is not a number of seconds from 0 to 60.
Outcome<double> max_lag_seconds();

// Whole samples in max_lag seconds at rate samples per second (rounded down, a trillionth of
// a sample's slack for seconds that are not exact in binary).
int max_lag_samples(double max_lag, double rate);

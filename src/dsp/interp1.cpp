#include "dsp/interp1.h"

#include <cmath>
#include <stdexcept>

namespace {

// Floats at or above this are beyond int; every float below it converts safely.
constexpr float int_limit = 2147483648.0f;

}  // namespace

std::vector<float> interp1(float t0, float fs_in, const std::vector<float>& y, float t_start,
                           float t_end, float fs_out, Sample_span* covered) {
    Sample_span span;
    const float count_f = floorf((t_end - t_start) * fs_out);
    if (!(count_f > 0.0f)) {
        // Empty window, a window ending before it starts, or a NaN rate.
        if (covered != nullptr) {
            *covered = span;
        }
        return {};
    }
    if (!(count_f < int_limit)) {
        throw std::length_error("interp1: output window holds too many samples");
    }
    const int count = static_cast<int>(count_f);
    std::vector<float> out(static_cast<std::size_t>(count), 0.0f);

    const long long n = static_cast<long long>(y.size());
    const double dt = 1.0 / static_cast<double>(fs_in);
    bool any = false;
    for (int j = 0; j < count; ++j) {
        const float t = static_cast<float>(j) / fs_out + t_start;
        const float index_f = floorf((t - t0) * fs_in);
        // Before the first input sample (or NaN), or so far past the end that the index would
        // not fit an int: both stay 0 without reading the input.
        if (!(index_f >= 0.0f) || !(index_f < int_limit)) {
            continue;
        }
        const int i = static_cast<int>(index_f);
        if (static_cast<long long>(i) + 1 >= n) {
            continue;  // at or after the last input sample: zero tail
        }
        const float ta = static_cast<float>(i) / fs_in + t0;
        const float tb = static_cast<float>(static_cast<double>(ta) + dt);
        const float y0 = y[static_cast<std::size_t>(i)];
        const float dy = y[static_cast<std::size_t>(i) + 1] - y0;
        const float step = tb - ta;
        // Late in the day neighbouring input times can round to the same float at high rates;
        // the earlier sample stands in rather than dividing by zero.
        out[static_cast<std::size_t>(j)] = step == 0.0f ? y0 : ((t - ta) * dy) / step + y0;
        if (!any) {
            span.first = j;
            any = true;
        }
        span.end = j + 1;
    }
    if (covered != nullptr) {
        *covered = span;
    }
    return out;
}

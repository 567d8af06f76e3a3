#include "dsp/interp1.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {

// Floats at or above this are beyond int; every float below it converts safely.
constexpr float int_limit = 2147483648.0f;

// Output samples worked on together.
constexpr int chunk = 256;

std::uint32_t bits(float x) {
    std::uint32_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

float from_bits(std::uint32_t u) {
    float x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}

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
    std::vector<float> out;
    out.reserve(static_cast<std::size_t>(count));  // every sample is appended, none zeroed first

    // The output is worked through in chunks: the times and input positions of a whole chunk
    // first, then the neighbouring input samples, then the interpolated values. The first and
    // last steps are plain arithmetic on arrays (the compiler does them several samples at a
    // time); each value is the same single-precision expression as sample by sample.
    const long long n = static_cast<long long>(y.size());
    const double dt = 1.0 / static_cast<double>(fs_in);
    bool any = false;
    float t[chunk], position[chunk], index[chunk], y0[chunk], dy[chunk];
    std::uint32_t keep[chunk];  // all ones where the input covers the sample, else 0
    for (int j0 = 0, size = 0; j0 < count; j0 += size) {
        size = std::min(chunk, count - j0);
        // Past the window's end (in the last chunk) the last sample is repeated, so that no
        // sample number goes beyond count; those values are not kept.
        for (int k = 0; k < chunk; ++k) {
            t[k] = static_cast<float>(j0 + std::min(k, size - 1)) / fs_out + t_start;
            position[k] = (t[k] - t0) * fs_in;
        }
        for (int k = 0; k < chunk; ++k) {
            // Before the first input sample (or NaN), or so far past the end that the index
            // would not fit an int: both stay 0 without reading the input. For positions from 0
            // to int_limit the truncation is the floor.
            const float p = position[k];
            const int i = p >= 0.0f && p < int_limit ? static_cast<int>(p) : -1;
            // Neither at or after the last input sample (zero tail) nor past the window.
            const bool inside = i >= 0 && static_cast<long long>(i) + 1 < n && k < size;
            keep[k] = inside ? ~0u : 0u;
            index[k] = inside ? static_cast<float>(i) : 0.0f;
            y0[k] = inside ? y[static_cast<std::size_t>(i)] : 0.0f;
            dy[k] = inside ? y[static_cast<std::size_t>(i) + 1] - y0[k] : 0.0f;
            if (inside) {
                if (!any) {
                    span.first = j0 + k;
                    any = true;
                }
                span.end = j0 + k + 1;
            }
        }
        for (int k = 0; k < chunk; ++k) {
            const float ta = index[k] / fs_in + t0;
            const float tb = static_cast<float>(static_cast<double>(ta) + dt);
            const float step = tb - ta;
            // Late in the day neighbouring input times can round to the same float at high
            // rates; the earlier sample stands in for the quotient by zero then. Both are
            // computed and one is picked by a bit mask, which keeps the loop free of branches.
            const float between = ((t[k] - ta) * dy[k]) / step + y0[k];
            const std::uint32_t flat = 0u - static_cast<std::uint32_t>(step == 0.0f);
            const std::uint32_t value = (bits(y0[k]) & flat) | (bits(between) & ~flat);
            t[k] = from_bits(value & keep[k]);
        }
        out.insert(out.end(), t, t + size);
    }
    if (covered != nullptr) {
        *covered = span;
    }
    return out;
}

#include "dsp/interp1.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace {

// Positions at or above this are beyond int.
constexpr double int_limit = 2147483648.0;

// A position this close to a whole number of samples is that number: the rounding of the
// position's arithmetic (well below it even at 2^31 samples) must not move an output sample
// that falls on an input sample off it, nor across the end of the input.
constexpr double snap = 1e-6;

// Output samples worked on together.
constexpr int chunk = 256;

}  // namespace

std::vector<float> interp1(double t0, double fs_in, const std::vector<float>& y, double t_start,
                           double t_end, double fs_out, Sample_span* covered) {
    Sample_span span;
    const double count_d = std::floor((t_end - t_start) * fs_out);
    if (!(count_d > 0.0) || !(fs_in > 0.0)) {
        // Empty window, a window ending before it starts, or a rate that is not positive.
        if (covered != nullptr) {
            *covered = span;
        }
        return {};
    }
    if (!(count_d < int_limit)) {
        throw std::length_error("interp1: output window holds too many samples");
    }
    const int count = static_cast<int>(count_d);
    std::vector<float> out;
    out.reserve(static_cast<std::size_t>(count));  // every sample is appended, none zeroed first

    const long long n = static_cast<long long>(y.size());
    const double offset = (t_start - t0) * fs_in;
    const double ratio = fs_in / fs_out;
    // The same rate on the same grid (the usual day file): every position is offset + j within
    // far less than the snap, so it is that whole number and each output sample is
    // y[i] + 0 × (y[i + 1] - y[i]), the value the general steps below give, without their
    // position arithmetic.
    const double whole_offset = std::nearbyint(offset);
    if (ratio == 1.0 && std::fabs(offset - whole_offset) <= snap / 8 &&
        std::fabs(whole_offset) < int_limit / 2 && n < int_limit / 2) {
        const long long o = static_cast<long long>(whole_offset);
        // Output j is inside when its input sample o + j is one before the last or earlier.
        const long long first = std::clamp(-o, 0LL, static_cast<long long>(count));
        const long long end = std::clamp(n - 1 - o, first, static_cast<long long>(count));
        out.assign(static_cast<std::size_t>(first), 0.0f);
        float value[chunk];
        for (long long j0 = first; j0 < end; j0 += chunk) {
            const int size = static_cast<int>(std::min<long long>(chunk, end - j0));
            const float* x = y.data() + (o + j0);
            for (int k = 0; k < size; ++k) {
                const double y0 = x[k];
                value[k] = static_cast<float>(y0 + 0.0 * (x[k + 1] - y0));
            }
            out.insert(out.end(), value, value + size);
        }
        out.resize(static_cast<std::size_t>(count), 0.0f);
        if (first < end) {
            span = {static_cast<int>(first), static_cast<int>(end)};
        }
        if (covered != nullptr) {
            *covered = span;
        }
        return out;
    }

    // The output is worked through in chunks: the input positions of a whole chunk first, then
    // the neighbouring input samples, then the interpolated values. The first and last steps are
    // plain arithmetic on arrays, which the compiler does several samples at a time.
    bool any = false;
    double position[chunk], fraction[chunk], y0[chunk], dy[chunk];
    float value[chunk];
    for (int j0 = 0, size = 0; j0 < count; j0 += size) {
        size = std::min(chunk, count - j0);
        for (int k = 0; k < chunk; ++k) {
            // Past the window's end (in the last chunk) the last sample is repeated, so that no
            // sample number goes beyond count; those values are not kept.
            const double p = offset + static_cast<double>(j0 + std::min(k, size - 1)) * ratio;
            // The nearest whole number, for positions that can be inside (NaN counts as -1).
            const double near = p > -1.0 ? std::min(p, int_limit - 2.0) : -1.0;
            const double whole = static_cast<double>(static_cast<int>(near + 0.5));
            position[k] = std::fabs(p - whole) <= snap ? whole : p;
        }
        for (int k = 0; k < chunk; ++k) {
            // Before the first input sample (or NaN), or so far past the end that the index
            // would not fit an int: both stay 0 without reading the input. For positions from 0
            // to int_limit the truncation is the floor.
            const double p = position[k];
            const int i = p >= 0.0 && p < int_limit ? static_cast<int>(p) : -1;
            // Neither at or after the last input sample (zero tail) nor past the window.
            const bool inside = i >= 0 && static_cast<long long>(i) + 1 < n && k < size;
            const std::size_t at = inside ? static_cast<std::size_t>(i) : 0;
            fraction[k] = inside ? p - i : 0.0;
            y0[k] = inside ? y[at] : 0.0;
            dy[k] = inside ? y[at + 1] - y0[k] : 0.0;
            if (inside) {
                if (!any) {
                    span.first = j0 + k;
                    any = true;
                }
                span.end = j0 + k + 1;
            }
        }
        for (int k = 0; k < chunk; ++k) {
            value[k] = static_cast<float>(y0[k] + fraction[k] * dy[k]);
        }
        out.insert(out.end(), value, value + size);
    }
    if (covered != nullptr) {
        *covered = span;
    }
    return out;
}

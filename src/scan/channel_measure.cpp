#include "scan/channel_measure.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Mean and sum of squared deviations of x[0..m), in double.
void moments(const float* x, int m, double& mean, double& squares) {
    double sum = 0.0;
    for (int k = 0; k < m; ++k)
        sum += x[k];
    mean = sum / m;
    squares = 0.0;
    for (int k = 0; k < m; ++k) {
        const double d = x[k] - mean;
        squares += d * d;
    }
}

// True when squares (about mean, over m samples) is no more than 10 float epsilons of the mean
// square.
bool flat(double mean, double squares, int m) {
    const double mean_square = squares / m + mean * mean;
    return squares <= 0.0 || squares / m <= 10.0 * FLT_EPSILON * mean_square;
}

}  // namespace

Channel_measurement measure_channel(const float* trace, long long size, long long aligned,
                                    const float* templ, int m, int max_lag) {
    Channel_measurement result;
    const long long first = std::max(aligned - max_lag, 0LL);
    const long long last = std::min(aligned + max_lag, size - m);
    if (m < 1 || first > last)
        return result;
    double t_mean = 0.0, t_squares = 0.0;
    moments(templ, m, t_mean, t_squares);
    const bool t_flat = flat(t_mean, t_squares, m);
    std::vector<double> centred(static_cast<std::size_t>(m));
    double t_power = 0.0;
    for (int k = 0; k < m; ++k) {
        centred[k] = templ[k] - t_mean;
        t_power += static_cast<double>(templ[k]) * templ[k];
    }
    std::vector<double> cc(static_cast<std::size_t>(last - first + 1), 0.0);
    std::size_t peak = 0;
    for (std::size_t j = 0; j < cc.size(); ++j) {
        const float* x = trace + first + static_cast<long long>(j);
        double mean = 0.0, squares = 0.0;
        moments(x, m, mean, squares);
        if (!t_flat && !flat(mean, squares, m)) {
            double product = 0.0;
            for (int k = 0; k < m; ++k)
                product += centred[k] * (x[k] - mean);
            cc[j] = product / std::sqrt(t_squares * squares);
        }
        if (cc[j] > cc[peak])
            peak = j;
    }
    result.measured = true;
    result.cc = cc[peak];
    result.lag = static_cast<double>(first + static_cast<long long>(peak) - aligned);
    if (peak > 0 && peak + 1 < cc.size()) {
        const double before = cc[peak - 1], at = cc[peak], after = cc[peak + 1];
        const double curvature = before - 2.0 * at + after;
        if (at > before && at > after && curvature < 0.0) {
            const double offset = 0.5 * (before - after) / curvature;
            result.lag += offset;
            result.cc = at - 0.25 * (before - after) * offset;
        }
    }
    const float* x = trace + first + static_cast<long long>(peak);
    double power = 0.0;
    for (int k = 0; k < m; ++k)
        power += static_cast<double>(x[k]) * x[k];
    result.ratio = t_power > 0.0 ? std::sqrt(power / t_power) : std::nan("");
    return result;
}

Outcome<double> max_lag_seconds() {
    const char* value = std::getenv("VEMLO_MAX_LAG");
    if (value == nullptr)
        return succeeded(0.5);
    const std::string text = value;
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    const bool number = !text.empty() && end == text.c_str() + text.size() &&
                        text.find_first_not_of("0123456789.eE+-") == std::string::npos;
    if (!number || !(seconds >= 0.0 && seconds <= 60.0)) {
        return failed<double>(
            "Error: VEMLO_MAX_LAG must be a number of seconds from 0 to 60, "
            "not \"" +
            text + "\"");
    }
    return succeeded(seconds);
}

int max_lag_samples(double max_lag, double rate) {
    return static_cast<int>(std::floor(max_lag * rate + 1e-12 * std::max(rate, 1.0)));
}

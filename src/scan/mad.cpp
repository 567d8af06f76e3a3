#include "scan/mad.h"

#include <algorithm>
#include <cmath>
#include <limits>

float mad(const std::vector<float>& v) {
    // Positions no template reached hold NaN; they are left out before any selection, since
    // nth_element needs a strict weak order that NaN would break.
    std::vector<float> work;
    work.reserve(v.size());
    for (float x : v) {
        if (!std::isnan(x)) {
            work.push_back(x);
        }
    }
    if (work.empty()) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    const auto middle = work.begin() + static_cast<std::ptrdiff_t>(work.size() / 2);
    std::nth_element(work.begin(), middle, work.end());
    const float median = *middle;
    for (float& x : work) {
        x = std::fabs(x - median);
    }
    std::nth_element(work.begin(), middle, work.end());
    return *middle;
}

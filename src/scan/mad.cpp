#include "scan/mad.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// An unsigned key per float that orders like the float: negative values have every bit
// flipped, the others only the sign bit. -0 sorts just below +0, which nth_element treats as
// equal; the two give the same deviations and the same result.
uint32_t key_of(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
}

float float_of(uint32_t key) {
    const uint32_t bits = (key & 0x80000000u) != 0 ? key & 0x7FFFFFFFu : ~key;
    float x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// The key of rank r (0-based, ascending) among keys: two counting passes, one on the upper and
// one on the lower 16 bits of the keys whose upper half matched. Exact, whatever the ties.
uint32_t select_rank(const std::vector<uint32_t>& keys, std::size_t r) {
    std::vector<std::size_t> count(1 << 16);
    for (uint32_t k : keys) {
        ++count[k >> 16];
    }
    uint32_t high = 0;
    for (; r >= count[high]; ++high) {
        r -= count[high];
    }
    std::fill(count.begin(), count.end(), 0);
    for (uint32_t k : keys) {
        if ((k >> 16) == high) {
            ++count[k & 0xFFFFu];
        }
    }
    uint32_t low = 0;
    for (; r >= count[low]; ++low) {
        r -= count[low];
    }
    return high << 16 | low;
}

}  // namespace

float mad(const std::vector<float>& v) {
    // Positions no template reached hold NaN; they are left out before any selection.
    std::vector<uint32_t> keys;
    keys.reserve(v.size());
    for (float x : v) {
        if (!std::isnan(x)) {
            keys.push_back(key_of(x));
        }
    }
    if (keys.empty()) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    const std::size_t middle = keys.size() / 2;
    const float median = float_of(select_rank(keys, middle));
    for (uint32_t& k : keys) {
        k = key_of(std::fabs(float_of(k) - median));
    }
    return float_of(select_rank(keys, middle));
}

#include "scan/mad.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <omp.h>

namespace {

// An unsigned key per float that orders like the float: negative values have every bit
// flipped, the others only the sign bit. -0 sorts just below +0, which a comparison treats as
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

constexpr int top_shift = 21;  // the first pass sorts on the upper 11 bits
using Histogram = std::array<std::size_t, 2048>;

// The bucket holding rank r of a histogram; r becomes the rank within it.
uint32_t bucket_of(const Histogram& count, std::size_t& r) {
    uint32_t b = 0;
    for (; r >= count[b]; ++b) {
        r -= count[b];
    }
    return b;
}

// The key of rank r among keys whose upper 11 bits are all `high`, by the next 11 and then the
// last 10 bits.
uint32_t refine(std::vector<uint32_t>& keys, uint32_t high, std::size_t r) {
    uint32_t prefix = high << top_shift;
    for (const int shift : {10, 0}) {
        const uint32_t mask = shift == 10 ? 0x7FFu : 0x3FFu;
        Histogram count{};
        for (uint32_t k : keys) {
            ++count[(k >> shift) & mask];
        }
        const uint32_t b = bucket_of(count, r);
        prefix |= b << shift;
        std::size_t kept = 0;
        for (uint32_t k : keys) {
            if (((k >> shift) & mask) == b) {
                keys[kept++] = k;
            }
        }
        keys.resize(kept);
    }
    return prefix;
}

// The key of rank r among the keys of the numbers key_of(value(x)) for the x of v that are
// numbers, without a copy of v: a counting pass on the upper bits (per thread, counts summed),
// then the keys of the one bucket that holds rank r are gathered and refined. The counts and the
// gathered set do not depend on the threads, nor therefore does the result.
template <class Value>
uint32_t select_rank(const std::vector<float>& v, std::size_t r, Value value) {
    const long long n = static_cast<long long>(v.size());
    Histogram total{};
#pragma omp parallel if (n >= (1 << 16))
    {
        Histogram count{};
#pragma omp for schedule(static) nowait
        for (long long j = 0; j < n; ++j) {
            if (!std::isnan(v[j])) {
                ++count[key_of(value(v[j])) >> top_shift];
            }
        }
#pragma omp critical
        for (std::size_t b = 0; b < count.size(); ++b) {
            total[b] += count[b];
        }
    }
    const uint32_t high = bucket_of(total, r);
    // Each thread gathers its share of the bucket; the shares are joined in thread order.
    std::vector<std::vector<uint32_t>> shares(static_cast<std::size_t>(omp_get_max_threads()));
#pragma omp parallel if (n >= (1 << 16))
    {
        std::vector<uint32_t>& share = shares[static_cast<std::size_t>(omp_get_thread_num())];
#pragma omp for schedule(static)
        for (long long j = 0; j < n; ++j) {
            if (!std::isnan(v[j])) {
                const uint32_t k = key_of(value(v[j]));
                if (k >> top_shift == high) {
                    share.push_back(k);
                }
            }
        }
    }
    std::vector<uint32_t> keys;
    keys.reserve(total[high]);
    for (const std::vector<uint32_t>& share : shares) {
        keys.insert(keys.end(), share.begin(), share.end());
    }
    return refine(keys, high, r);
}

}  // namespace

float mad(const std::vector<float>& v) {
    // Positions no template reached hold NaN; they are left out of both selections.
    std::size_t numbers = 0;
    for (float x : v) {
        numbers += std::isnan(x) ? 0 : 1;
    }
    if (numbers == 0) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    const std::size_t middle = numbers / 2;
    const float median = float_of(select_rank(v, middle, [](float x) { return x; }));
    return float_of(select_rank(v, middle, [median](float x) { return std::fabs(x - median); }));
}

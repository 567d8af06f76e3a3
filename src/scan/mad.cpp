#include "scan/mad.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// An unsigned key per float that orders like the float: negative values have every bit
// flipped, the others only the sign bit. -0 sorts just below +0, which a comparison treats as
// equal; the two give the same deviations and the same result.
uint32_t key_of(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    // Without a branch, which values of either sign would mispredict half of the time.
    const uint32_t negative = 0u - (bits >> 31);
    return bits ^ (negative | 0x80000000u);
}

float float_of(uint32_t key) {
    const uint32_t bits = (key & 0x80000000u) != 0 ? key & 0x7FFFFFFFu : ~key;
    float x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

using Floats = float __attribute__((vector_size(16)));
using Ints = int32_t __attribute__((vector_size(16)));

// Upper halves of the keys of four values, as key_of(x) >> 16 << 16 (on the same bits).
Ints upper_keys(Floats x) {
    const Ints bits = reinterpret_cast<Ints>(x);
    return (bits ^ ((bits >> 31) | INT32_MIN)) & static_cast<int32_t>(0xFFFF0000u);
}

// The values whose keys are selected among: the numbers themselves, or their distances from the
// median; in lanes with the same operations.
struct Same {
    float operator()(float x) const { return x; }
    Floats operator()(Floats x) const { return x; }
};

struct Distance {
    float median;
    float operator()(float x) const { return std::fabs(x - median); }
    Floats operator()(Floats x) const {
        const Floats d = x - (Floats{0, 0, 0, 0} + median);
        return reinterpret_cast<Floats>(reinterpret_cast<Ints>(d) & INT32_MAX);
    }
};

constexpr int bins = mad_bins;  // the histogram sorts on the upper 16 bits of a key
constexpr long long parallel_from = 1 << 16;

// Where thread t of threads starts its contiguous share of n values, in whole groups of four.
long long share_start(long long n, long long t, long long threads) {
    return std::min(n, (n + 3) / 4 * t / threads * 4);
}

// Adds the counts of the upper 16 bits of the keys of value(x) for the n values x from v that are
// numbers to table (two tables of bins + 1 entries, alternating; NaN goes to index bins). Groups
// of four values go alternately into the two tables, so that runs of equal bins (a smooth stack)
// do not wait on their own increments; the bins are found in lanes and without a branch.
template <class Value>
void count_into(const float* v, long long n, uint32_t* table, Value value) {
    constexpr int width = bins + 1;
    uint32_t* even = table;
    uint32_t* odd = table + width;
    const Ints nan_bin = Ints{0, 0, 0, 0} + bins;
    long long j = 0;
    for (; j + 4 <= n; j += 4) {
        Floats x;
        std::memcpy(&x, v + j, sizeof x);
        const Ints nan = x != x;
        const Ints bin = ((upper_keys(value(x)) >> 16) & 0xFFFF & ~nan) | (nan_bin & nan);
        ++even[bin[0]];
        ++odd[bin[1]];
        ++even[bin[2]];
        ++odd[bin[3]];
    }
    for (; j < n; ++j) {
        ++even[std::isnan(v[j]) ? bins : key_of(value(v[j])) >> 16];
    }
}

// Counts of the upper 16 bits of the keys of value(x) for the x of v that are numbers; the
// count of NaN in v is in the bin past them (at index bins). Each thread counts into tables of
// its own, added up afterwards.
template <class Value>
std::vector<uint64_t> histogram(const std::vector<float>& v, Value value) {
    const long long n = static_cast<long long>(v.size());
    const int threads = n >= parallel_from ? omp_get_max_threads() : 1;
    std::vector<std::vector<uint32_t>> tables(static_cast<std::size_t>(threads));
#pragma omp parallel num_threads(threads)
    {
        // The runtime may give fewer threads than asked for (OMP_DYNAMIC, OMP_THREAD_LIMIT, a
        // nested region): the shares are those of the team that runs.
        const int t = omp_get_thread_num(), team = omp_get_num_threads();
        std::vector<uint32_t>& table = tables[static_cast<std::size_t>(t)];
        table = new_count_table();
        const long long first = share_start(n, t, team), end = share_start(n, t + 1, team);
        count_into(v.data() + first, end - first, table.data(), value);
    }
    return total_counts(tables);
}

// The bin that holds rank r of the keys whose bins hold count; r becomes the rank within it.
uint32_t bin_of_rank(const std::vector<uint64_t>& count, uint64_t& r) {
    uint32_t bin = 0;
    for (; r >= count[bin]; ++bin) {
        r -= count[bin];
    }
    return bin;
}

// Calls take(t, key) for the key of value(x) of every x of v that is a number and whose key has
// the upper 16 bits high: t is the OpenMP thread that found it (below threads), or threads for
// the last values, past the groups of four.
template <class Value, class Take>
void take_bin(const std::vector<float>& v, uint32_t high, Value value, int threads, Take take) {
    const long long n = static_cast<long long>(v.size());
    const auto check = [&](int t, float x) {
        if (!std::isnan(x) && key_of(value(x)) >> 16 == high) {
            take(t, key_of(value(x)));
        }
    };
#pragma omp parallel num_threads(threads)
    {
        const int t = omp_get_thread_num();
        // Groups of four: the group is looked at value by value only when one of its upper
        // halves is that of the bin (NaN passes that test harmlessly: it is checked after).
        const Ints wanted = Ints{0, 0, 0, 0} + static_cast<int32_t>(high << 16);
#pragma omp for schedule(static)
        for (long long group = 0; group < n / 4; ++group) {
            Floats x;
            std::memcpy(&x, v.data() + 4 * group, sizeof x);
            const Ints found = upper_keys(value(x)) == wanted;
            if ((found[0] | found[1] | found[2] | found[3]) != 0) {
                for (long long j = 4 * group; j < 4 * group + 4; ++j) {
                    check(t, v[j]);
                }
            }
        }
    }
    for (long long j = n / 4 * 4; j < n; ++j) {
        check(threads, v[j]);
    }
}

// The key of rank r among the keys of value(x) for the x of v that are numbers, whose counts of
// upper bits are count: the keys of the one bin that holds rank r are gathered (per thread, joined
// in thread order) and selected among; a bin holding more keys than a table of their lower halves
// has entries (a stack with many equal values) has its lower halves counted instead.
template <class Value>
uint32_t select_rank(const std::vector<float>& v, const std::vector<uint64_t>& count, uint64_t r,
                     Value value) {
    const uint32_t high = bin_of_rank(count, r);
    const int threads =
        static_cast<long long>(v.size()) >= parallel_from ? omp_get_max_threads() : 1;
    if (count[high] > (uint64_t{1} << 16)) {
        std::vector<std::vector<uint32_t>> tables(static_cast<std::size_t>(threads) + 1);
        take_bin(v, high, value, threads, [&](int t, uint32_t key) {
            std::vector<uint32_t>& table = tables[static_cast<std::size_t>(t)];
            if (table.empty()) {
                table.assign(std::size_t{1} << 16, 0);
            }
            ++table[key & 0xFFFFu];
        });
        for (uint32_t low = 0; low < (uint32_t{1} << 16); ++low) {
            uint64_t keys = 0;
            for (const std::vector<uint32_t>& table : tables) {
                keys += table.empty() ? 0 : table[low];
            }
            if (r < keys) {
                return high << 16 | low;
            }
            r -= keys;
        }
        return high << 16 | 0xFFFFu;  // not reached: the bin holds more than r keys
    }
    std::vector<std::vector<uint32_t>> shares(static_cast<std::size_t>(threads) + 1);
    take_bin(v, high, value, threads,
             [&](int t, uint32_t key) { shares[static_cast<std::size_t>(t)].push_back(key); });
    std::vector<uint32_t> keys;
    keys.reserve(count[high]);
    for (const std::vector<uint32_t>& share : shares) {
        keys.insert(keys.end(), share.begin(), share.end());
    }
    std::nth_element(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(r), keys.end());
    return keys[r];
}

// The lowest and highest value whose key has the upper 16 bits b.
float bin_low(uint32_t b) {
    return float_of(b << 16);
}

float bin_high(uint32_t b) {
    return float_of(b << 16 | 0xFFFFu);
}

// Bounds of the distances |x - m| of the values x of one bin from any m of the median's bin.
struct Bin_distances {
    float low, high;
    uint64_t count;
    uint32_t bin;
};

// The MAD from the counts of the values alone, without counting the distances: the subtraction
// rounds monotonically, so the distances of each bin's values from any value of the median's bin
// lie within bounds found from the bins' ends. These bounds give an interval that must hold the
// distance of rank middle; one pass then gathers the keys of the median's bin and the values of
// the bins whose distances may fall inside the interval, while the bins wholly below it are only
// counted. Returns false, with nothing selected, where the bounds cannot be found (a bin holding
// infinities) or the gathered values would be more than half of v, which mad then handles by
// counting the distances.
bool mad_by_bounds(const std::vector<float>& v, const std::vector<uint64_t>& count, uint64_t middle,
                   float& result) {
    uint64_t r = middle;
    const uint32_t median_bin = bin_of_rank(count, r);
    const float median_low = bin_low(median_bin), median_high = bin_high(median_bin);
    if (!std::isfinite(median_low) || !std::isfinite(median_high)) {
        return false;
    }
    std::vector<Bin_distances> used;
    for (uint32_t b = 0; b < static_cast<uint32_t>(bins); ++b) {
        if (count[b] == 0) {
            continue;
        }
        const float low = bin_low(b), high = bin_high(b);
        if (!std::isfinite(low) || !std::isfinite(high)) {
            return false;
        }
        // x - m over the bin's x and the median bin's m, then its size.
        const float least = low - median_high, most = high - median_low;
        const Bin_distances d = least >= 0.0f ? Bin_distances{least, most, count[b], b}
                                : most <= 0.0f
                                    ? Bin_distances{-most, -least, count[b], b}
                                    : Bin_distances{0.0f, std::max(-least, most), count[b], b};
        used.push_back(d);
    }
    // The distance of rank middle is at least the smallest lower bound with more than middle
    // values at or below it, and at most the smallest upper bound with as many.
    const auto bound = [&](float Bin_distances::*side) {
        std::sort(used.begin(), used.end(), [&](const Bin_distances& a, const Bin_distances& b) {
            return a.*side < b.*side;
        });
        uint64_t seen = 0;
        for (const Bin_distances& d : used) {
            seen += d.count;
            if (seen > middle) {
                return d.*side;
            }
        }
        return used.back().*side;
    };
    const float lowest = bound(&Bin_distances::low), highest = bound(&Bin_distances::high);
    std::vector<uint8_t> wanted(bins + 1, 0);  // 1: gathered for the distances, 2: the median's
    uint64_t below = 0, gathered = count[median_bin];
    for (const Bin_distances& d : used) {
        if (d.high < lowest) {
            below += d.count;
        } else if (!(d.low > highest)) {
            wanted[d.bin] = 1;
            gathered += d.count;
        }
    }
    if (gathered > v.size() / 2 || middle < below) {
        return false;
    }
    wanted[median_bin] |= 2;

    const long long n = static_cast<long long>(v.size());
    const int threads = n >= parallel_from ? omp_get_max_threads() : 1;
    std::vector<std::vector<uint32_t>> median_shares(static_cast<std::size_t>(threads));
    std::vector<std::vector<float>> value_shares(static_cast<std::size_t>(threads));
#pragma omp parallel num_threads(threads)
    {
        const int t = omp_get_thread_num(), team = omp_get_num_threads();  // see histogram
        std::vector<uint32_t>& median_share = median_shares[static_cast<std::size_t>(t)];
        std::vector<float>& value_share = value_shares[static_cast<std::size_t>(t)];
        const auto take = [&](float x) {
            if (std::isnan(x)) {
                return;
            }
            const uint32_t key = key_of(x);
            const uint8_t want = wanted[key >> 16];
            if ((want & 2) != 0) {
                median_share.push_back(key);
            }
            if ((want & 1) != 0) {
                value_share.push_back(x);
            }
        };
        const long long first = share_start(n, t, team), end = share_start(n, t + 1, team);
        const Ints nan_bin = Ints{0, 0, 0, 0} + bins;
        long long j = first;
        // Groups of four whose bins are all unwanted (nearly all) are passed over at once.
        for (; j + 4 <= end; j += 4) {
            Floats x;
            std::memcpy(&x, v.data() + j, sizeof x);
            const Ints nan = x != x;
            const Ints bin = ((upper_keys(x) >> 16) & 0xFFFF & ~nan) | (nan_bin & nan);
            if ((wanted[bin[0]] | wanted[bin[1]] | wanted[bin[2]] | wanted[bin[3]]) != 0) {
                for (long long k = j; k < j + 4; ++k) {
                    take(v[k]);
                }
            }
        }
        for (; j < end; ++j) {
            take(v[j]);
        }
    }
    std::vector<uint32_t> keys;
    keys.reserve(count[median_bin]);
    for (const std::vector<uint32_t>& share : median_shares) {
        keys.insert(keys.end(), share.begin(), share.end());
    }
    std::nth_element(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(r), keys.end());
    const Distance deviation{float_of(keys[r])};
    std::vector<uint32_t> distances;
    distances.reserve(gathered - count[median_bin]);
    for (const std::vector<float>& share : value_shares) {
        for (float x : share) {
            distances.push_back(key_of(deviation(x)));
        }
    }
    const uint64_t rank = middle - below;
    if (rank >= distances.size()) {
        return false;  // cannot happen with sound bounds; counted instead
    }
    std::nth_element(distances.begin(), distances.begin() + static_cast<std::ptrdiff_t>(rank),
                     distances.end());
    result = float_of(distances[rank]);
    return true;
}

}  // namespace

std::vector<uint32_t> new_count_table() {
    return std::vector<uint32_t>(2 * (bins + 1), 0);
}

void count_values(const float* v, long long n, std::vector<uint32_t>& table) {
    count_into(v, n, table.data(), Same{});
}

std::vector<uint64_t> total_counts(const std::vector<std::vector<uint32_t>>& tables) {
    constexpr int width = bins + 1;
    std::vector<uint64_t> total(width, 0);
    for (const std::vector<uint32_t>& table : tables) {
        for (int b = 0; b < width && table.size() == static_cast<std::size_t>(2 * width); ++b) {
            total[b] += static_cast<uint64_t>(table[b]) + table[width + b];
        }
    }
    return total;
}

float mad(const std::vector<float>& v) {
    return mad(v, histogram(v, Same{}));
}

float mad(const std::vector<float>& v, const std::vector<uint64_t>& count) {
    // Positions no template reached hold NaN; they are left out of both selections (the
    // histogram counts them apart).
    if (count.size() != static_cast<std::size_t>(bins + 1)) {
        return mad(v);
    }
    const Same same;
    const uint64_t numbers = v.size() - count[bins];
    if (numbers == 0) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    const uint64_t middle = numbers / 2;
    float bounded = 0.0f;
    if (mad_by_bounds(v, count, middle, bounded)) {
        return bounded;
    }
    const float median = float_of(select_rank(v, count, middle, same));
    const Distance deviation{median};
    return float_of(select_rank(v, histogram(v, deviation), middle, deviation));
}

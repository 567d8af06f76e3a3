#include "scan/mad.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace {

// The selection the radix select replaced: rank n/2 of the numbers, then of their deviations.
float mad_by_sorting(std::vector<float> v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](float x) { return std::isnan(x); }), v.end());
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const float median = v[v.size() / 2];
    for (float& x : v)
        x = std::fabs(x - median);
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

uint32_t bits(float x) {
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

}  // namespace

TEST(Mad, SameBitsAsSortingWithTiesNotANumbersSignedZerosAndEveryParity) {
    const std::vector<float> v = {3, 1, 2};
    EXPECT_EQ(mad(v), 1.0f);
    EXPECT_EQ(v, std::vector<float>({3, 1, 2}));  // the argument is left alone
    EXPECT_EQ(mad({1, 2, 3, 4}), 1.0f);           // upper middle, not an average
    EXPECT_EQ(mad({1, 1, 1, 10}), 0.0f);
    EXPECT_EQ(mad({NAN, 8, 1, NAN, 4, 2, NAN}), 3.0f);
    EXPECT_TRUE(std::isnan(mad({NAN, NAN})));
    EXPECT_TRUE(std::isnan(mad({})));

    std::mt19937 rng(7);
    for (int size = 1; size < 300; size += (size < 40 ? 1 : 37)) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<float> x(size);
            for (float& value : x) {
                // Few distinct values (ties, both zeros), spread-out values, or either with NaN.
                const int r = static_cast<int>(rng() % 1000);
                value = kind == 0   ? static_cast<float>(r % 5) - 2.0f
                        : kind == 1 ? std::ldexp(static_cast<float>(r) - 500.0f, -(r % 40))
                                    : (r % 4 == 0 ? NAN : static_cast<float>(r % 7) * -0.25f);
                if (kind == 0 && r % 11 == 0)
                    value = -0.0f;
            }
            EXPECT_EQ(bits(mad(x)), bits(mad_by_sorting(x))) << "size " << size << " kind " << kind;
        }
    }
}

TEST(Mad, LongVectorsGiveTheSortingBitsWhateverTheThreads) {
    // Long enough for the threads; most values share one histogram bin (neighbouring floats
    // near 0.25), with ties, NaN runs, both zeros and lengths that leave tails of 1 to 3.
    std::mt19937 rng(9);
    for (const int size : {70001, 70002, 99999, 131075}) {
        std::vector<float> x(size);
        for (int j = 0; j < size; ++j) {
            const int r = static_cast<int>(rng() % 100);
            x[j] = r < 60 ? std::nextafter(0.25f, 1.0f) *
                                (1.0f + static_cast<float>(rng() % 64) * 0x1p-23f)
                   : r < 70 ? NAN
                   : r < 75 ? -0.0f
                   : r < 80 ? 0.0f
                            : static_cast<float>(static_cast<int>(rng() % 2000) - 1000) / 997.0f;
        }
        std::fill(x.begin() + size / 3, x.begin() + size / 3 + 5000, NAN);
        const uint32_t expected = bits(mad_by_sorting(x));
        for (const int threads : {1, 2, 3}) {
            omp_set_num_threads(threads);
            EXPECT_EQ(bits(mad(x)), expected) << size << " " << threads;
        }
    }
    EXPECT_EQ(mad({-0.0f}), 0.0f);
    EXPECT_EQ(bits(mad({-0.0f, 0.0f, -0.0f})), bits(0.0f));
    EXPECT_TRUE(std::isnan(mad(std::vector<float>(70000, NAN))));
}

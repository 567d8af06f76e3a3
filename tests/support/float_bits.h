// Bit-for-bit comparison of floats in tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

// The bit patterns of x, so that EXPECT_EQ tells -0 from +0 and one NaN from another.
inline std::vector<std::uint32_t> float_bits(const std::vector<float>& x) {
    std::vector<std::uint32_t> b(x.size());
    if (!x.empty())
        std::memcpy(b.data(), x.data(), x.size() * sizeof(float));
    return b;
}

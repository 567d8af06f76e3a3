#include "acquire/steim2_decode.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Puts v at p as a big-endian word.
void put_word(unsigned char* p, uint32_t v) {
    for (int b = 0; b < 4; ++b)
        p[b] = static_cast<unsigned char>(v >> (24 - 8 * b));
}

// A record's data section: frames of a codes word and 15 words. The first two words are the
// first and the last sample (code 0); each group of differences after them is one data word.
std::vector<unsigned char> steim2_frames(int32_t first, int32_t last,
                                         const std::vector<std::vector<int32_t>>& groups) {
    std::vector<unsigned char> bytes;
    int words = 0;
    const auto add = [&](uint32_t code, uint32_t word) {
        const std::size_t frame = static_cast<std::size_t>(words / 15), w = words % 15 + 1;
        if (w == 1)
            bytes.resize(bytes.size() + 64, 0);
        const std::size_t shift = 30 - 2 * w;  // of the code in the big-endian codes word
        bytes[64 * frame + 3 - shift / 8] |= static_cast<unsigned char>(code << (shift % 8));
        put_word(&bytes[64 * frame + 4 * w], word);
        ++words;
    };
    add(0, static_cast<uint32_t>(first));
    add(0, static_cast<uint32_t>(last));
    // Code 1: four of 8 bits; code 2: one to three, code 3: five to seven, the top bits telling
    // which.
    static const int bits_for[8] = {0, 30, 15, 10, 8, 6, 5, 4};
    for (const std::vector<int32_t>& d : groups) {
        const int n = static_cast<int>(d.size()), bits = bits_for[n];
        uint32_t word = n == 4   ? 0u
                        : n <= 3 ? static_cast<uint32_t>(n) << 30
                                 : static_cast<uint32_t>(n - 5) << 30;
        for (int k = 0; k < n; ++k)
            word |= (static_cast<uint32_t>(d[k]) & ((1u << bits) - 1u)) << (bits * (n - 1 - k));
        add(n == 4 ? 1 : n <= 3 ? 2 : 3, word);
    }
    return bytes;
}

TEST(Steim2Decode, EveryWidthGivesItsSamples) {
    // Each width at both ends of its range, three rounds (more words than a frame holds), the
    // record's first difference (the step from the previous record) passed over, sums that wrap
    // around 32 bits.
    const std::vector<std::vector<int32_t>> widths = {
        {99, -2, 127, -128},     {-(1 << 29)},
        {(1 << 29) - 1},         {16383, -16384},
        {511, -512, 0},          {31, -32, 1, -1, 0},
        {15, -16, 2, -2, 3, -3}, {7, -8, 1, 0, -1, 6, -7}};
    std::vector<std::vector<int32_t>> groups;
    for (int round = 0; round < 3; ++round)
        groups.insert(groups.end(), widths.begin(), widths.end());
    std::vector<int32_t> expected = {2147483000};
    for (std::size_t g = 0; g < groups.size(); ++g)
        for (std::size_t k = g == 0 ? 1 : 0; k < groups[g].size(); ++k)
            expected.push_back(static_cast<int32_t>(static_cast<uint32_t>(expected.back()) +
                                                    static_cast<uint32_t>(groups[g][k])));
    const std::vector<unsigned char> frames =
        steim2_frames(expected.front(), expected.back(), groups);
    const int64_t count = static_cast<int64_t>(expected.size());
    // The fourth word (the first data word, code 1) made into code 2 with top bits 00.
    std::vector<unsigned char> meaningless = frames;
    meaningless[0] = static_cast<unsigned char>((meaningless[0] & ~0x03) | 0x02);
    meaningless[12] &= 0x3F;
    for (const auto decode : {decode_steim2, decode_steim2_plain}) {
        std::vector<int32_t> out(expected.size() + 64, 12345);
        ASSERT_TRUE(decode(frames.data(), frames.size(), count, out.data()));
        EXPECT_EQ(std::vector<int32_t>(out.begin(), out.begin() + count), expected);
        EXPECT_EQ(out[count], 12345);  // nothing past the samples asked for
        // The last sample named is not the count-th; the frames hold fewer; a word of no meaning.
        EXPECT_FALSE(decode(frames.data(), frames.size(), count - 1, out.data()));
        EXPECT_FALSE(decode(frames.data(), frames.size(), count + 40, out.data()));
        EXPECT_FALSE(decode(meaningless.data(), meaningless.size(), count, out.data()));
    }
}

TEST(Steim2Decode, TheVectorLanesDecodeAsThePlainLoop) {
    // Random records of every width; a quarter with a flipped bit (codes of no meaning among
    // them); counts that end inside a word, at a frame's end or past the frames; last samples
    // right and wrong.
    if (!steim2_wide_available())
        GTEST_SKIP() << "no AVX2 on this processor: decode_steim2 is the plain loop";
    std::mt19937 rng(7);
    int decoded = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        std::vector<std::vector<int32_t>> groups(rng() % 120);
        for (std::vector<int32_t>& d : groups)
            for (std::size_t k = 1 + rng() % 7; k > 0; --k)
                d.push_back(static_cast<int32_t>(rng()));
        std::vector<unsigned char> bytes = steim2_frames(int32_t(rng()), int32_t(rng()), groups);
        if (rng() % 4 == 0)
            bytes[rng() % bytes.size()] ^= static_cast<unsigned char>(1u << rng() % 8);
        const int64_t count = 1 + static_cast<int64_t>(rng() % (4 * groups.size() + 10));
        std::vector<int32_t> plain(static_cast<std::size_t>(count) + 8, -7), wide = plain;
        // Half the time the frames name as last sample the one the plain loop ends with, so
        // that they decode cleanly where their codes allow.
        if (rng() % 2 != 0 &&
            !decode_steim2_plain(bytes.data(), bytes.size(), count, plain.data())) {
            put_word(&bytes[8], static_cast<uint32_t>(plain[count - 1]));
            std::fill(plain.begin(), plain.end(), -7);
        }
        const bool a = decode_steim2_plain(bytes.data(), bytes.size(), count, plain.data());
        const bool b = decode_steim2(bytes.data(), bytes.size(), count, wide.data());
        ASSERT_EQ(a, b) << "trial " << trial;
        if (a) {
            ++decoded;
            ASSERT_EQ(wide, plain) << "trial " << trial;  // the 8 past count too: untouched
        }
    }
    EXPECT_GT(decoded, 1000);
}

}  // namespace

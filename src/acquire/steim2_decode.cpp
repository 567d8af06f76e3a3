#include "acquire/steim2_decode.h"

namespace {

uint32_t big_endian_word(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

// The signed value of the `bits` bits of word that end `shift` bits above its lowest.
int32_t field(uint32_t word, int bits, int shift) {
    const uint32_t raw = (word >> shift) & ((1u << bits) - 1u);
    const uint32_t sign = 1u << (bits - 1);
    return static_cast<int32_t>((raw ^ sign) - sign);
}

// Adds the samples of the differences to out: the first difference of a record is the step from
// the previous record's last sample and is passed over, the first sample being given; sums wrap
// as 32-bit integers do.
struct Integrator {
    int32_t* out;
    int64_t count;
    int64_t done = 0;  // differences seen
    int32_t first;

    bool full() const { return done >= count; }

    void add(int32_t difference) {
        if (done < count) {
            out[done] = done == 0 ? first
                                  : static_cast<int32_t>(static_cast<uint32_t>(out[done - 1]) +
                                                         static_cast<uint32_t>(difference));
        }
        ++done;
    }

    // Adds the n fields of `bits` bits that fill the low n × bits bits of word, highest first.
    void add_fields(uint32_t word, int n, int bits) {
        for (int k = n - 1; k >= 0; --k) {
            add(field(word, bits, bits * k));
        }
    }
};

}  // namespace

bool decode_steim2(const unsigned char* frames, std::size_t bytes, int64_t count, int32_t* out) {
    const std::size_t frame_count = bytes / 64;
    if (count <= 0 || frame_count == 0) {
        return false;
    }
    const uint32_t first = big_endian_word(frames + 4), last = big_endian_word(frames + 8);
    Integrator samples{out, count, 0, static_cast<int32_t>(first)};
    for (std::size_t f = 0; f < frame_count && !samples.full(); ++f) {
        const unsigned char* frame = frames + 64 * f;
        const uint32_t codes = big_endian_word(frame);
        for (int w = 1; w < 16 && !samples.full(); ++w) {
            const uint32_t code = (codes >> (30 - 2 * w)) & 3u;
            const uint32_t word = big_endian_word(frame + 4 * w);
            if (f == 0 && w <= 2) {
                if (code != 0) {
                    return false;  // the first and last samples must not be marked as data
                }
                continue;
            }
            // The code, and for codes 2 and 3 the word's top two bits, give how many
            // differences of how many bits the word holds; a pair without meaning stops here.
            const uint32_t kind = word >> 30;
            static constexpr int count_of[4][4] = {
                {0, 0, 0, 0}, {4, 4, 4, 4}, {0, 1, 2, 3}, {5, 6, 7, 0}};
            static constexpr int bits_of[4][4] = {
                {0, 0, 0, 0}, {8, 8, 8, 8}, {0, 30, 15, 10}, {6, 5, 4, 0}};
            const int n = count_of[code][kind];
            if (n == 0 && code != 0) {
                return false;
            }
            samples.add_fields(word, n, bits_of[code][kind]);
        }
    }
    return samples.full() && out[count - 1] == static_cast<int32_t>(last);
}

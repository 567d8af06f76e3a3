#include "acquire/steim2_decode.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

uint32_t big_endian_word(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

// What a data word holds, by its kind (its code × 4 + its top two bits): how many differences
// of how many bits, highest first. A kind of no differences but code 0 means nothing.
constexpr int count_of[16] = {0, 0, 0, 0, 4, 4, 4, 4, 0, 1, 2, 3, 5, 6, 7, 0};
constexpr int bits_of[16] = {0, 0, 0, 0, 8, 8, 8, 8, 0, 30, 15, 10, 6, 5, 4, 0};

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

    // Adds the differences of a data word of the given kind.
    void add_word(uint32_t word, int kind) {
        const int bits = bits_of[kind];
        for (int k = count_of[kind] - 1; k >= 0; --k) {
            add(field(word, bits, bits * k));
        }
    }
};

// The data words of a stretch of frames, in order, with their kinds.
struct Data_words {
    static constexpr int frames = 16;
    uint32_t word[frames * 15];
    uint8_t kind[frames * 15];
    int size = 0;
};

// Collects the data words of frames [f, f + Data_words::frames) into words, until those before
// them and the words' differences reach count (after that no word is looked at). Returns false
// for a code that means nothing (and for a marked first or last sample in the first frame).
bool collect_words(const unsigned char* frames, std::size_t frame_count, std::size_t f,
                   int64_t& pending, int64_t count, Data_words& words) {
    words.size = 0;
    const std::size_t end = std::min(frame_count, f + Data_words::frames);
    for (; f < end && pending < count; ++f) {
        const unsigned char* frame = frames + 64 * f;
        const uint32_t codes = big_endian_word(frame);
        for (int w = 1; w < 16 && pending < count; ++w) {
            const uint32_t code = (codes >> (30 - 2 * w)) & 3u;
            if (f == 0 && w <= 2) {
                if (code != 0) {
                    return false;  // the first and last samples must not be marked as data
                }
                continue;
            }
            if (code == 0) {
                continue;
            }
            const uint32_t word = big_endian_word(frame + 4 * w);
            const int kind = static_cast<int>(code << 2 | word >> 30);
            if (count_of[kind] == 0) {
                return false;
            }
            words.word[words.size] = word;
            words.kind[words.size] = static_cast<uint8_t>(kind);
            ++words.size;
            pending += count_of[kind];
        }
    }
    return true;
}

void integrate_plain(const Data_words& words, Integrator& samples) {
    for (int k = 0; k < words.size; ++k) {
        samples.add_word(words.word[k], words.kind[k]);
    }
}

#if defined(__x86_64__)

// Per kind, the shifts that bring each difference of a word into place as a signed value (a
// left shift to its top, an arithmetic right shift back), and the lanes past its differences.
struct alignas(32) Lanes {
    int32_t v[8];
};
struct Word_lanes {
    Lanes left[16], right[16], used[16];
};

constexpr Word_lanes make_word_lanes() {
    Word_lanes lanes{};
    for (int kind = 0; kind < 16; ++kind) {
        const int bits = bits_of[kind];
        for (int k = 0; k < count_of[kind]; ++k) {
            lanes.left[kind].v[k] = 32 - bits - bits * (count_of[kind] - 1 - k);
            lanes.right[kind].v[k] = 32 - bits;
            lanes.used[kind].v[k] = -1;
        }
    }
    return lanes;
}

constexpr Word_lanes word_lanes = make_word_lanes();

// The same as integrate_plain, a word at a time in eight lanes (AVX2) where the word is not
// the record's first and eight samples from it fit in out: its differences are unpacked into
// lanes, summed along them and added to the sample before, and all eight lanes are stored (those
// past the word's differences are written over by the next word). Integer sums wrap the same
// way in lanes, so the samples are the same.
[[gnu::target("avx2")]] void integrate_wide(const Data_words& words, Integrator& samples) {
    const __m256i lane_7 = _mm256_set1_epi32(7), lane_3 = _mm256_set1_epi32(3);
    const __m256i upper = _mm256_setr_epi32(0, 0, 0, 0, -1, -1, -1, -1);
    int k = 0;
    while (k < words.size) {
        if (samples.done == 0 || samples.done + 8 > samples.count) {
            samples.add_word(words.word[k], words.kind[k]);
            ++k;
            continue;
        }
        __m256i before = _mm256_set1_epi32(samples.out[samples.done - 1]);
        for (; k < words.size && samples.done + 8 <= samples.count; ++k) {
            const int kind = words.kind[k];
            const __m256i word = _mm256_set1_epi32(static_cast<int32_t>(words.word[k]));
            const auto* left = reinterpret_cast<const __m256i*>(word_lanes.left[kind].v);
            const auto* right = reinterpret_cast<const __m256i*>(word_lanes.right[kind].v);
            const auto* used = reinterpret_cast<const __m256i*>(word_lanes.used[kind].v);
            __m256i d = _mm256_srav_epi32(_mm256_sllv_epi32(word, _mm256_load_si256(left)),
                                          _mm256_load_si256(right));
            d = _mm256_and_si256(d, _mm256_load_si256(used));
            d = _mm256_add_epi32(d, _mm256_slli_si256(d, 4));
            d = _mm256_add_epi32(d, _mm256_slli_si256(d, 8));
            d = _mm256_add_epi32(d,
                                 _mm256_and_si256(_mm256_permutevar8x32_epi32(d, lane_3), upper));
            const __m256i sums = _mm256_add_epi32(d, before);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples.out + samples.done), sums);
            before = _mm256_permutevar8x32_epi32(sums, lane_7);
            samples.done += count_of[kind];
        }
    }
}

#endif

bool decode(const unsigned char* frames, std::size_t bytes, int64_t count, int32_t* out,
            bool wide) {
    const std::size_t frame_count = bytes / 64;
    if (count <= 0 || frame_count == 0) {
        return false;
    }
    const uint32_t first = big_endian_word(frames + 4), last = big_endian_word(frames + 8);
    Integrator samples{out, count, 0, static_cast<int32_t>(first)};
    Data_words words;
    int64_t pending = 0;
    for (std::size_t f = 0; f < frame_count && pending < count; f += Data_words::frames) {
        if (!collect_words(frames, frame_count, f, pending, count, words)) {
            return false;
        }
#if defined(__x86_64__)
        if (wide) {
            integrate_wide(words, samples);
            continue;
        }
#endif
        integrate_plain(words, samples);
    }
    return samples.full() && out[count - 1] == static_cast<int32_t>(last);
}

}  // namespace

bool steim2_wide_available() {
#if defined(__x86_64__)
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
#else
    return false;
#endif
}

bool decode_steim2(const unsigned char* frames, std::size_t bytes, int64_t count, int32_t* out) {
    return decode(frames, bytes, count, out, steim2_wide_available());
}

bool decode_steim2_plain(const unsigned char* frames, std::size_t bytes, int64_t count,
                         int32_t* out) {
    return decode(frames, bytes, count, out, false);
}

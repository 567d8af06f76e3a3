// Decoding Steim-2 compressed data frames.
#pragma once

#include <cstddef>
#include <cstdint>

// Decodes the Steim-2 frames of a record's data section (64-byte frames of big-endian 32-bit
// words: a word of 2-bit codes, then 15 words; in the first frame the second and third words are
// the first and the last sample) into count samples at out. Returns true when they decode
// cleanly: every code is valid, the frames hold at least count samples, and the last sample is
// the one the first frame names. Returns false otherwise (out then holds no meaning), so that the
// caller can leave such a record to a decoder that reports what is wrong with it. Where the
// processor has AVX2, the differences of a word are summed in vector lanes; the samples are the
// same either way.
bool decode_steim2(const unsigned char* frames, std::size_t bytes, int64_t count, int32_t* out);

// decode_steim2 a difference at a time on every processor: the reference for the lanes.
bool decode_steim2_plain(const unsigned char* frames, std::size_t bytes, int64_t count,
                         int32_t* out);

// True when decode_steim2 uses the vector lanes on this processor.
bool steim2_wide_available();

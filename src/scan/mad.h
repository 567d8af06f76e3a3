// Median absolute deviation.
#pragma once

#include <cstdint>
#include <vector>

// Raw median absolute deviation of the values that are numbers (no 1.4826 factor): the element
// of rank n/2 of |x - m|, where m is the element of rank n/2 (the upper middle for even n),
// both found exactly on the float bit patterns (the same values as a selection by comparison):
// a histogram of the upper 16 bits, then a selection among the values of the one bin that holds
// the rank; on the OpenMP threads for long vectors, with the same result whatever their number.
// Returns NaN when v holds no number (or is empty).
float mad(const std::vector<float>& v);

// The MAD's first counting pass, for callers that have the values in cache anyway: a count per
// value of the upper 16 bits of its order-preserving key, NaN counted in the last entry.
constexpr int mad_bins = 1 << 16;

// A thread's counting table (two interleaved tables of mad_bins + 1 entries, all zero).
std::vector<uint32_t> new_count_table();

// Adds the n values from v on to a table from new_count_table.
void count_values(const float* v, long long n, std::vector<uint32_t>& table);

// The counts of mad_bins + 1 entries the tables hold together.
std::vector<uint64_t> total_counts(const std::vector<std::vector<uint32_t>>& tables);

// The same as mad(v), given the counts of every value of v (total_counts of tables to which all
// of v was counted once). Returns NaN when v holds no number.
float mad(const std::vector<float>& v, const std::vector<uint64_t>& counts);

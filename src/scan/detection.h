// Threshold, candidates and thinning of an event-day stack.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

// Positions c in 1..size-2 with stack[c] >= both neighbours and >= threshold, ascending.
std::vector<int> find_candidates(const std::vector<float>& stack, float threshold);

// Thins candidates forwards: a candidate is compared with the later candidates fewer than w
// samples after it; the strictly weaker ones are set to 0 in stack, and a candidate that meets
// one at least as strong is set to 0 itself. Candidates at or below 0 are passed over. Returns
// the survivors, ascending.
std::vector<int> thin_candidates(std::vector<float>& stack, const std::vector<int>& candidates,
                                 int w);

struct Detection {
    float mad_value = 0.0f;
    std::vector<int> matches;
};

// Runs detection on one event-day stack: MAD, threshold (printed as the "MAD*" line), candidates,
// thinning (which zeroes suppressed candidates in stack), and the "# Matches: " line, both
// printed on out. counts, when given, are the MAD's counts of the stack's values
// (count_values), which saves it that pass.
Detection detect(std::vector<float>& stack, int w, double mad_multiple, std::ostream& out,
                 const std::vector<uint64_t>* counts = nullptr);

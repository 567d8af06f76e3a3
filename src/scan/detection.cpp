#include "scan/detection.h"

#include "scan/mad.h"

std::vector<int> find_candidates(const std::vector<float>& stack, float threshold) {
    std::vector<int> candidates;
    const int l = static_cast<int>(stack.size());
    const float* x = stack.data();
    // Nearly every position is below the threshold: that test comes first, on its own, so the
    // loop runs without taken branches; the neighbours are looked at only past it. NaN fails
    // every comparison, so unreached positions never qualify.
    for (int c = 1; c + 1 < l; ++c) {
        if (x[c] >= threshold) {
            if (x[c] >= x[c - 1] && x[c] >= x[c + 1]) {
                candidates.push_back(c);
            }
        }
    }
    return candidates;
}

std::vector<int> thin_candidates(std::vector<float>& stack, const std::vector<int>& candidates,
                                 int w) {
    std::vector<int> matches;
    for (std::size_t m = 0; m < candidates.size(); ++m) {
        const int c = candidates[m];
        if (!(stack[c] > 0.0f)) {
            continue;  // at or below zero, NaN, or zeroed by an earlier candidate
        }
        bool lost = false;
        for (std::size_t k = m + 1; k < candidates.size(); ++k) {
            const int n = candidates[k];
            if (static_cast<long long>(n) >= static_cast<long long>(c) + w) {
                break;
            }
            if (stack[c] > stack[n]) {
                stack[n] = 0.0f;
            } else {
                stack[c] = 0.0f;  // a later candidate at least as strong wins
                lost = true;
                break;
            }
        }
        if (!lost) {
            matches.push_back(c);
        }
    }
    return matches;
}

Detection detect(std::vector<float>& stack, int w, double mad_multiple, std::ostream& out) {
    Detection result;
    result.mad_value = mad(stack);
    const float multiple = static_cast<float>(mad_multiple);
    const float threshold = result.mad_value * multiple;
    out << "\n\tMAD*" << static_cast<double>(multiple) << ": " << static_cast<double>(threshold)
        << "\n";
    result.matches = thin_candidates(stack, find_candidates(stack, threshold), w);
    out << "\t# Matches: " << result.matches.size() << "\n";
    return result;
}

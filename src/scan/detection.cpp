#include "scan/detection.h"

#include "scan/mad.h"

#include <omp.h>

#include <cstdint>
#include <cstring>
#include <utility>

namespace {

using Floats = float __attribute__((vector_size(16)));
using Ints = int32_t __attribute__((vector_size(16)));

// The candidates among positions [from, end) of x (1 <= from, end <= l - 1), ascending, added to
// out. Nearly every position is below the threshold: four at a time are tested against it in
// lanes, and only a group where one passes is looked at position by position, neighbours
// included. NaN fails every comparison, so unreached positions never qualify.
void candidates_in(const float* x, int from, int end, float threshold, std::vector<int>& out) {
    const auto take_if_peak = [&](int k) {
        if (x[k] >= threshold && x[k] >= x[k - 1] && x[k] >= x[k + 1]) {
            out.push_back(k);
        }
    };
    const Floats limit = Floats{0, 0, 0, 0} + threshold;
    int c = from;
    for (; c + 4 <= end; c += 4) {
        Floats v;
        std::memcpy(&v, x + c, sizeof v);
        const Ints above = v >= limit;
        if ((above[0] | above[1] | above[2] | above[3]) == 0) {
            continue;
        }
        for (int k = c; k < c + 4; ++k) {
            take_if_peak(k);
        }
    }
    for (; c < end; ++c) {
        take_if_peak(c);
    }
}

constexpr int parallel_from = 1 << 16;

}  // namespace

std::vector<int> find_candidates(const std::vector<float>& stack, float threshold) {
    const int l = static_cast<int>(stack.size());
    if (l < 3) {
        return {};
    }
    // Positions 1 .. l - 2 in one contiguous share per thread; the shares are joined in order.
    const int threads = l >= parallel_from ? omp_get_max_threads() : 1;
    std::vector<std::vector<int>> shares(static_cast<std::size_t>(threads));
#pragma omp parallel num_threads(threads)
    {
        // The team may be smaller than asked for (OMP_DYNAMIC, OMP_THREAD_LIMIT, a nested
        // region): the shares are those of the team that runs.
        const long long t = omp_get_thread_num(), team = omp_get_num_threads(), inner = l - 2;
        const int from = 1 + static_cast<int>(inner * t / team);
        const int end = 1 + static_cast<int>(inner * (t + 1) / team);
        candidates_in(stack.data(), from, end, threshold, shares[static_cast<std::size_t>(t)]);
    }
    std::vector<int> candidates = std::move(shares.front());
    for (std::size_t t = 1; t < shares.size(); ++t) {
        candidates.insert(candidates.end(), shares[t].begin(), shares[t].end());
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

Detection detect(std::vector<float>& stack, int w, double mad_multiple, std::ostream& out,
                 const std::vector<uint64_t>* counts) {
    Detection result;
    result.mad_value = counts != nullptr ? mad(stack, *counts) : mad(stack);
    const float multiple = static_cast<float>(mad_multiple);
    const float threshold = result.mad_value * multiple;
    out << "\n\tMAD*" << static_cast<double>(multiple) << ": " << static_cast<double>(threshold)
        << "\n";
    result.matches = thin_candidates(stack, find_candidates(stack, threshold), w);
    out << "\t# Matches: " << result.matches.size() << "\n";
    return result;
}

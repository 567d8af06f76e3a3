// Correlation of one template with one day, and its shifted addition into the event-day stack.
#include <algorithm>

#include "scan/correlation_scan.h"
#include "scan/fft_correlation.h"

std::vector<float> correlate(const std::vector<float>& day, const std::vector<float>& templ,
                             int m_used, int l) {
    const int n = static_cast<int>(day.size());
    if (m_used < 1 || m_used > n || m_used > static_cast<int>(templ.size()) || l < 1) {
        return {};
    }
    l = std::min(l, n - m_used + 1);
    const Correlation_plan plan = make_correlation_plan(m_used);
    const Day_spectra spectra = make_day_spectra(plan, day, l, 0);
    const Template_spectrum t = make_template_spectrum(plan, templ.data());
    Correlation_workspace work = make_workspace(plan);
    std::vector<float> result(static_cast<std::size_t>(l));
    for (int b = 0; b < spectra.blocks; ++b) {
        correlate_block(plan, spectra, t, b, work,
                        result.data() + static_cast<std::size_t>(b) * plan.step);
    }
    return result;
}

std::vector<unsigned char> gap_positions(const std::vector<float>& day, int l) {
    const long long day_size = static_cast<long long>(day.size());
    const int end = static_cast<int>(std::min<long long>(l, day_size));
    std::vector<unsigned char> gap(static_cast<std::size_t>(std::max(end, 0)), 0);
    for (int p = 0; p < end; ++p) {
        gap[p] = is_gap_position(day.data(), day_size, p, l);
    }
    return gap;
}

void add_span_to_stack(const float* values, long long first, long long count,
                       const std::vector<unsigned char>& gap, int s, std::vector<float>& stack,
                       std::vector<int>& stack_count) {
    if (s < 0) {
        return;
    }
    const long long begin = std::max(first, static_cast<long long>(s));
    const long long end = std::min({first + count, static_cast<long long>(gap.size()),
                                    static_cast<long long>(stack.size()) + s,
                                    static_cast<long long>(stack_count.size()) + s});
    for (long long p = begin; p < end; ++p) {
        if (!gap[p]) {
            stack[p - s] += values[p - first];
            stack_count[p - s] += 1;
        }
    }
}

void add_to_stack(const std::vector<float>& correlation, const std::vector<float>& day, int s,
                  std::vector<float>& stack, std::vector<int>& stack_count) {
    const std::vector<unsigned char> gap = gap_positions(day, static_cast<int>(stack.size()));
    add_span_to_stack(correlation.data(), 0, static_cast<long long>(correlation.size()), gap, s,
                      stack, stack_count);
}

void add_block_to_stack(const float* values, const Day_spectra& day, long long first, int count,
                        int s, std::vector<float>& stack, std::vector<int>& stack_count) {
    if (s < 0) {
        return;
    }
    const long long begin = std::max(first, static_cast<long long>(s));
    const long long end = std::min({first + count, static_cast<long long>(day.positions),
                                    static_cast<long long>(stack.size()) + s,
                                    static_cast<long long>(stack_count.size()) + s});
    for (long long p = begin; p < end; ++p) {
        if (!is_gap(day, static_cast<int>(p))) {
            stack[p - s] += values[p - first];
            stack_count[p - s] += 1;
        }
    }
}

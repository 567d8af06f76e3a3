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
    const Correlation_plan plan = make_correlation_plan(m_used, n);
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

void add_to_stack(const std::vector<float>& correlation, const std::vector<float>& day, int s,
                  std::vector<float>& stack, std::vector<int>& stack_count) {
    if (s < 0) {
        return;
    }
    const long long l = static_cast<long long>(correlation.size());
    const long long day_size = static_cast<long long>(day.size());
    const long long end = std::min({l, day_size, static_cast<long long>(stack.size()) + s,
                                    static_cast<long long>(stack_count.size()) + s});
    for (long long p = s; p < end; ++p) {
        if (!is_gap_position(day.data(), day_size, p, l)) {
            stack[p - s] += correlation[p];
            stack_count[p - s] += 1;
        }
    }
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

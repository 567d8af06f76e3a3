// Correlation of one template with one day, and its shifted addition into the event-day stack.
#include <algorithm>
#include <cmath>

#include "scan/block_kernels.h"
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

void add_correlated_block(const Correlation_plan& plan, const Day_spectra& day,
                          const Template_spectrum& templ, int b, long long from, long long to,
                          int s, Correlation_workspace& work, std::vector<float>& stack,
                          std::vector<int>& stack_count) {
    const long long first = static_cast<long long>(b) * plan.step;
    from = std::max({from, first, static_cast<long long>(s)});
    to = std::min({to, first + plan.step, static_cast<long long>(day.positions),
                   static_cast<long long>(stack.size()) + s,
                   static_cast<long long>(stack_count.size()) + s});
    // A block of gap positions only adds nothing: its transform is not needed.
    if (from >= to || day.all_gaps[static_cast<std::size_t>(b)]) {
        return;
    }
    // Day position p goes to stack position p - s and is numerator p - first of the block.
    const float* inv_norm = day.inv_norm.get();
    float* stack_values = stack.data();
    int* counts = stack_count.data();
    if (templ.flat) {
        for (long long p = from; p < to; ++p) {
            if (!std::signbit(inv_norm[p])) {
                stack_values[p - s] += 0.0f;
                counts[p - s] += 1;
            }
        }
        return;
    }
    block_numerators(plan, day, templ, b, work);
    const float* numerator = work.real.get();
    // Stretches between the exact windows by the vector pass, exact windows one by one.
    long long p = from;
    const auto add_until = [&](long long end) {
        if (end > p) {
            add_bounded_values(numerator + (p - first), inv_norm + p, static_cast<int>(end - p),
                               stack_values + (p - s), counts + (p - s));
            p = end;
        }
    };
    for (const auto& [run_from, run_end] : day.exact[static_cast<std::size_t>(b)].runs) {
        add_until(std::min(to, first + run_from));
        for (p = std::max(p, first + run_from); p < std::min(to, first + run_end); ++p) {
            if (!std::signbit(inv_norm[p])) {
                stack_values[p - s] +=
                    exact_value(plan, day, templ, b, static_cast<int>(p - first));
                counts[p - s] += 1;
            }
        }
    }
    add_until(to);
}

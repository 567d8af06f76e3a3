// Conditioning the channels of a scanned day, a few at a time on the threads, and their spectra.
#include <algorithm>
#include <exception>
#include <sstream>

#include "scan/day_channels.h"

void condition_channels(const Template_file& control, const Doy_time& day, const Scan_constants& sc,
                        std::vector<Pending_channel>& pending,
                        const std::map<int, Correlation_plan>& plans, int threads) {
    const int count = static_cast<int>(pending.size());
    std::vector<Conditioned_trace> traces(pending.size());
    // An exception must not leave a parallel region: the first is kept and thrown afterwards.
    std::exception_ptr failure;
#pragma omp parallel for schedule(dynamic, 1)
    for (int g = 0; g < count; ++g) {
        try {
            std::ostringstream text;
            traces[g] = condition_window(std::move(pending[g].decoded), day.year, day.doy, 0.0f,
                                         pending[g].length, control, text);
            pending[g].channel->conditioning_text = text.str();
        } catch (...) {
#pragma omp critical
            if (!failure) {
                failure = std::current_exception();
            }
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    for (int g = 0; g < count; ++g) {
        Channel_day& channel = *pending[g].channel;
        Conditioned_trace trace = std::move(traces[g]);
        // A found day file always gives the whole window; should it not, its templates report
        // it as not found.
        channel.found = !is_not_found(trace.samples);
        if (!channel.found) {
            continue;
        }
        channel.size = trace.samples.size();
        channel.asked = static_cast<std::size_t>(pending[g].length);
        channel.data = std::move(trace.data);
        // Windows of the template length from every position they fit, the day's own and,
        // past midnight, those the moveouts need.
        const long long wanted = static_cast<long long>(pending[g].length) - sc.m + 1;
        for (int m : *pending[g].lengths) {
            const long long positions =
                std::min<long long>(wanted, static_cast<long long>(trace.samples.size()) - m + 1);
            if (positions >= 1) {
                channel.by_length.emplace(
                    m, make_day_spectra(plans.at(m), trace.samples, static_cast<int>(positions),
                                        wanted, threads));
            }
        }
        channel.trace = std::move(trace.samples);
    }
    pending.clear();
}

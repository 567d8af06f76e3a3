// Conditioning the channels of a scanned day as tasks, each with its spectra.
#include <exception>
#include <sstream>

#include "scan/day_channels.h"

void start_conditioning(const Template_file& control, const Doy_time& day, const Scan_constants& sc,
                        Pending_channel& pending, const std::map<int, Correlation_plan>& plans) {
    // Pointers into the caller's objects, which outlive the task (finish_conditioning waits).
    const Template_file* const c = &control;
    const Doy_time* const d = &day;
    Pending_channel* const item = &pending;
    const std::map<int, Correlation_plan>* const by_length = &plans;
    const int m_min = sc.m;
#pragma omp task firstprivate(c, d, item, by_length, m_min)
    {
        // An exception must not leave a task: it is kept for finish_conditioning.
        try {
            std::ostringstream text;
            item->trace = condition_window(std::move(item->decoded), d->year, d->doy, 0.0f,
                                           item->length, *c, text);
            item->text = text.str();
            if (!is_not_found(item->trace.samples)) {
                // Windows of the template length from every position they fit, the day's own
                // and, past midnight, those the moveouts need.
                const long long wanted = static_cast<long long>(item->length) - m_min + 1;
                const long long size = static_cast<long long>(item->trace.samples.size());
                for (int m : *item->lengths) {
                    const long long positions = std::min<long long>(wanted, size - m + 1);
                    if (positions >= 1) {
                        item->spectra.emplace(
                            m, make_day_spectra_as_tasks(by_length->at(m), item->trace.samples,
                                                         static_cast<int>(positions), wanted));
                    }
                }
            }
        } catch (...) {
            item->failure = std::current_exception();
        }
    }
}

void finish_conditioning(std::deque<Pending_channel>& pending) {
#pragma omp taskwait
    for (Pending_channel& item : pending) {
        if (item.failure) {
            const std::exception_ptr failure = item.failure;
            pending.clear();
            std::rethrow_exception(failure);
        }
    }
    for (Pending_channel& item : pending) {
        Channel_day& channel = *item.channel;
        channel.conditioning_text = std::move(item.text);
        // A found day file always gives the whole window; should it not, its templates report
        // it as not found.
        channel.found = !is_not_found(item.trace.samples);
        if (!channel.found) {
            continue;
        }
        channel.size = item.trace.samples.size();
        channel.asked = static_cast<std::size_t>(item.length);
        channel.data = std::move(item.trace.data);
        channel.by_length = std::move(item.spectra);
        channel.trace = std::move(item.trace.samples);
    }
    pending.clear();
}

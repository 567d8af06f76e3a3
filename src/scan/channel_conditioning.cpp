// Conditioning the channels of a scanned day as tasks, each with its spectra. The band-pass, the
// longest step, runs over two traces at once where two are at hand.
#include <exception>
#include <sstream>

#include "dsp/bandpass.h"
#include "scan/day_channels.h"

namespace {

// Finishes item's band-passed window into its trace and computes its spectra: windows of the
// template length from every position they fit, the day's own and, past midnight, those the
// moveouts need.
void finish_item(const Conditioning_context& context, Pending_channel& item) {
    std::ostringstream text;
    item.trace = finish_window(std::move(item.placed), text);
    item.text += text.str();
    if (is_not_found(item.trace.samples))
        return;
    const long long wanted = static_cast<long long>(item.length) - context.m_min + 1;
    const long long size = static_cast<long long>(item.trace.samples.size());
    for (int m : *item.lengths) {
        const long long positions = std::min<long long>(wanted, size - m + 1);
        if (positions >= 1) {
            item.spectra.emplace(m,
                                 make_day_spectra_as_tasks(context.plans->at(m), item.trace.samples,
                                                           static_cast<int>(positions), wanted));
        }
    }
}

// Band-passes the placed windows of a and b (b may be null: a alone) and finishes both. A
// failure is kept in each item's failure.
void filter_and_finish(const Conditioning_context& context, Pending_channel* a,
                       Pending_channel* b) {
    const Template_file& c = *context.control;
    const double fs = static_cast<double>(c.sample_rate);
    try {
        if (b == nullptr) {
            bandpass(a->placed.window.samples, c.freq_low, c.freq_high, 3, fs);
        } else {
            bandpass_two(a->placed.window.samples, b->placed.window.samples, c.freq_low,
                         c.freq_high, 3, fs);
        }
    } catch (...) {
        a->failure = std::current_exception();
        if (b != nullptr)
            b->failure = a->failure;
        return;
    }
    for (Pending_channel* item : {a, b}) {
        if (item == nullptr)
            continue;
        try {
            finish_item(context, *item);
        } catch (...) {
            item->failure = std::current_exception();
        }
    }
}

}  // namespace

void start_conditioning(const Template_file& control, const Doy_time& day, const Scan_constants& sc,
                        Conditioning_queue& queue, Pending_channel& pending,
                        const std::map<int, Correlation_plan>& plans) {
    // Pointers into the caller's objects, which outlive the task (finish_conditioning waits).
    queue.context = {&control, &plans, sc.m};
    const Conditioning_context context = queue.context;  // each task its own copy
    const Doy_time* const d = &day;
    Pending_channel* const item = &pending;
    Conditioning_queue* const q = &queue;
#pragma omp task firstprivate(context, d, item, q)
    {
        // An exception must not leave a task: it is kept for finish_conditioning.
        try {
            std::ostringstream text;
            item->placed = place_window(std::move(item->decoded), d->year, d->doy, 0.0f,
                                        item->length, *context.control, text);
            item->text = text.str();
            if (item->placed.found) {
                Pending_channel* partner = nullptr;
                bool alone = false;
#pragma omp critical(vemlo_band_pass_partner)
                {
                    partner = q->waiting;
                    q->waiting = nullptr;
                    alone = partner == nullptr && q->closing;
                    if (partner == nullptr && !alone)
                        q->waiting = item;
                }
                if (partner != nullptr || alone)
                    filter_and_finish(context, item, partner);
            } else {
                finish_item(context, *item);  // the not-found trace
            }
        } catch (...) {
            item->failure = std::current_exception();
        }
    }
}

void finish_conditioning(Conditioning_queue& queue) {
    // No window comes after these: one waiting now, and those placed from now on, are
    // band-passed alone at once.
    Pending_channel* last = nullptr;
#pragma omp critical(vemlo_band_pass_partner)
    {
        queue.closing = true;
        last = queue.waiting;
        queue.waiting = nullptr;
    }
    if (last != nullptr)
        filter_and_finish(queue.context, last, nullptr);
#pragma omp taskwait
    queue.closing = false;
    std::deque<Pending_channel>& pending = queue.items;
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

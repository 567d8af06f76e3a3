// Fetch planning: which channel is read for which template, in the order of a scan template by
// template. Files are read on one thread, in that order; each read day is conditioned by a task
// while the next file is read.
#include <algorithm>
#include <exception>
#include <sstream>

#include "acquire/mseed_reader.h"
#include "scan/day_channels.h"
#include "scan/memory_budget.h"

namespace {

// The fetch, on the one thread that reads; pending holds the days being conditioned.
Outcome<Day_channels> fetch_in_order(const Template_file& control, const Template_bank& bank,
                                     const Scan_constants& sc, const Doy_time& day,
                                     const Batch& batch,
                                     const std::map<std::string, int>& extensions,
                                     const std::map<int, Correlation_plan>& plans,
                                     const Fetch_memory& memory, Conditioning_queue& pending) {
    Day_channels fetched;
    std::vector<Template_fetch> fetches;
    long long pending_bytes = 0;
    for (std::size_t e = 0; e < batch.events.size(); ++e) {
        for (std::size_t i : batch.events[e].templates) {
            if (is_not_found(bank.waveforms[i]))
                continue;  // reported when the bank was built; its day trace is not fetched
            Template_fetch fetch;
            fetch.e = e;
            fetch.i = i;
            const int m = used_length(bank, i);
            if (m > sc.n) {
                fetch.said = "Template #" + std::to_string(i + 1) +
                             " cannot be correlated: it holds " + std::to_string(m) +
                             " samples, more than the " + std::to_string(sc.n) + " of a day\n";
                fetch.too_long = true;
                fetches.push_back(std::move(fetch));
                continue;
            }
            const std::string key = channel_key(control, i);
            Channel_day& channel = fetched.channels[key];
            if (!channel.read) {
                // The day and, from the next day's file, what the correlations need past
                // midnight.
                const int past_midnight = extensions.at(key);
                std::ostringstream said;
                const Day_sources sources =
                    find_day_sources(day.year, day.doy, control.network[i], control.station[i],
                                     control.location[i], control.channel[i], control, said,
                                     window_reach(0.0f, sc.n + past_midnight, control.sample_rate));
                // What the files take at their own rate, beside the days read before them.
                const long long bytes =
                    conditioning_bytes(day_reading_bytes(sources), sc.n + past_midnight);
                if (!pending.items.empty() && pending_bytes + bytes > memory.room) {
                    finish_conditioning(pending);
                    pending_bytes = 0;
                }
                if (bytes > memory.room && !sources.sources.empty()) {
                    std::ostringstream what;
                    what << "the day file " << sources.sources.front().path << " at "
                         << peek_mseed(sources.sources.front().path).samprate
                         << " samples per second beside the batch's day data";
                    return failed<Day_channels>(budget_too_small(
                        memory.budget, memory.budget - memory.room + bytes, what.str()));
                }
                Decoded_day decoded = read_day_sources(sources, said);
                fetch.said = said.str();
                fetch.read = true;
                if (decoded.download_failed)
                    fetched.failed_downloads.insert(key);
                if (decoded.found) {
                    channel.read = true;
                    pending_bytes += bytes;
                    const int length = decoded.next_day ? sc.n + past_midnight : sc.n;
                    pending.items.emplace_back();
                    Pending_channel& item = pending.items.back();
                    item.channel = &channel;
                    item.decoded = std::move(decoded);
                    item.length = length;
                    item.lengths = &batch.lengths.at(key);
                    start_conditioning(control, day, sc, pending, item, plans);
                    if (pending.items.size() >= memory.group) {
                        finish_conditioning(pending);
                        pending_bytes = 0;
                    }
                }
            }
            fetches.push_back(std::move(fetch));
        }
    }
    finish_conditioning(pending);
    fetched.templates = template_texts(control, bank, day, fetches, fetched.channels);
    return succeeded(std::move(fetched));
}

}  // namespace

Outcome<Day_channels> fetch_channels(const Template_file& control, const Template_bank& bank,
                                     const Scan_constants& sc, const Doy_time& day,
                                     const Batch& batch,
                                     const std::map<std::string, int>& extensions,
                                     const std::map<int, Correlation_plan>& plans,
                                     const Fetch_memory& memory) {
    Outcome<Day_channels> result = failed<Day_channels>(std::string());
    // An exception must not leave the parallel region: it is kept and thrown afterwards, once
    // every task has finished with the days it was given.
    std::exception_ptr thrown;
#pragma omp parallel num_threads(std::max(1, memory.threads))
#pragma omp single
    {
        Conditioning_queue pending;
        try {
            result =
                fetch_in_order(control, bank, sc, day, batch, extensions, plans, memory, pending);
        } catch (...) {
            thrown = std::current_exception();
        }
#pragma omp taskwait
    }
    if (thrown) {
        std::rethrow_exception(thrown);
    }
    return result;
}

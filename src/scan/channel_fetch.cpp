// Fetch planning: which channel is read for which template, in the order of a scan template by
// template.
#include <sstream>

#include "acquire/mseed_reader.h"
#include "scan/day_channels.h"
#include "scan/memory_budget.h"

Outcome<Day_channels> fetch_channels(const Template_file& control, const Template_bank& bank,
                                     const Scan_constants& sc, const Doy_time& day,
                                     const Batch& batch,
                                     const std::map<std::string, int>& extensions,
                                     const std::map<int, Correlation_plan>& plans,
                                     const Fetch_memory& memory) {
    Day_channels fetched;
    std::vector<Template_fetch> fetches;
    std::vector<Pending_channel> pending;
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
                if (!pending.empty() && pending_bytes + bytes > memory.room) {
                    condition_channels(control, day, sc, pending, plans, memory.threads);
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
                    pending.push_back(
                        {&channel, std::move(decoded), length, &batch.lengths.at(key)});
                    if (pending.size() >= memory.group) {
                        condition_channels(control, day, sc, pending, plans, memory.threads);
                        pending_bytes = 0;
                    }
                }
            }
            fetches.push_back(std::move(fetch));
        }
    }
    condition_channels(control, day, sc, pending, plans, memory.threads);
    fetched.templates = template_texts(control, bank, day, fetches, fetched.channels);
    return succeeded(std::move(fetched));
}

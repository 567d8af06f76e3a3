// Fetch planning: which channel is read for which template, in the order of a scan template by
// template.
#include <sstream>

#include "scan/day_channels.h"

Day_channels fetch_channels(const Template_file& control, const Template_bank& bank,
                            const Scan_constants& sc, const Doy_time& day, const Batch& batch,
                            const std::map<std::string, int>& extensions,
                            const std::map<int, Correlation_plan>& plans, std::size_t group) {
    Day_channels fetched;
    std::vector<Template_fetch> fetches;
    std::vector<Pending_channel> pending;
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
                Decoded_day decoded =
                    read_day(day.year, day.doy, control.network[i], control.station[i],
                             control.location[i], control.channel[i], control, said,
                             window_reach(0.0f, sc.n + past_midnight, control.sample_rate));
                fetch.said = said.str();
                fetch.read = true;
                if (decoded.download_failed)
                    fetched.failed_downloads.insert(key);
                if (decoded.found) {
                    channel.read = true;
                    const int length = decoded.next_day ? sc.n + past_midnight : sc.n;
                    pending.push_back(
                        {&channel, std::move(decoded), length, &batch.lengths.at(key)});
                    if (pending.size() == group)
                        condition_channels(control, day, sc, pending, plans);
                }
            }
            fetches.push_back(std::move(fetch));
        }
    }
    condition_channels(control, day, sc, pending, plans);
    fetched.templates = template_texts(control, bank, day, fetches, fetched.channels);
    return fetched;
}

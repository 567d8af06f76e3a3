#include "app/template_creation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "acquire/get_data.h"
#include "acquire/mseed_reader.h"
#include "dsp/time_convert.h"
#include "scan/memory_budget.h"

std::vector<int32_t> compute_moveouts(const Template_file& control, float fs) {
    const size_t templates = control.pick_year.size();
    const size_t events = control.event_names.size();
    std::vector<double> arrival(templates);
    for (size_t i = 0; i < templates; ++i) {
        arrival[i] =
            time_to_epoch(control.pick_year[i], control.pick_day[i], control.pick_seconds[i]);
    }

    // The earliest pick of each event is its reference, wherever it stands in the block.
    std::vector<double> first_arrival(events, 0.0);
    std::vector<bool> seen(events, false);
    for (size_t i = 0; i < templates; ++i) {
        const size_t e = static_cast<size_t>(control.pick_event[i] - 1);
        if (!seen[e]) {
            first_arrival[e] = arrival[i];
            seen[e] = true;
        } else if (arrival[i] < first_arrival[e]) {
            first_arrival[e] = arrival[i];
        }
    }

    std::vector<int32_t> moveouts(templates);
    for (size_t i = 0; i < templates; ++i) {
        const size_t e = static_cast<size_t>(control.pick_event[i] - 1);
        const double samples =
            std::round((arrival[i] - first_arrival[e]) * static_cast<double>(fs));
        // Picks days apart cannot line up within one day's stack anyway: a moveout past the
        // int range is held at its largest value, which the scan passes over.
        moveouts[i] = samples < INT32_MAX ? static_cast<int32_t>(samples) : INT32_MAX;
    }
    return moveouts;
}

namespace {

// A decoded day file, kept while later templates still cut windows from it.
struct Cached_day {
    Decoded_day day;
    size_t last_use = 0;  // the last template that needs it
};

std::string day_key(const Template_file& c, size_t i) {
    return std::to_string(c.pick_year[i]) + "\n" + std::to_string(c.pick_day[i]) + "\n" +
           c.network[i] + "\n" + c.station[i] + "\n" + c.location[i] + "\n" + c.channel[i];
}

}  // namespace

Outcome<Template_bank> create_templates(const Template_file& control, long long budget) {
    const float fs = static_cast<float>(control.sample_rate);
    Template_bank bank;
    bank.template_samples = template_sample_count(control);

    bank.moveout_samples = compute_moveouts(control, fs);

    const size_t templates = control.pick_year.size();
    std::cout << "\n\tCreating " << templates << " template(s) for " << control.event_names.size()
              << " event(s)...\n";
    // Each day file is read once and kept until its last template; a file that gave nothing is
    // looked up again by the next template that needs it, as before. The budget beside the
    // program bounds the days kept (at their decoded size) together with the reading of the
    // next one; the oldest are dropped to make room, and read again if needed. A day is read as
    // far as its latest template window reaches, into the next day's file when one crosses
    // midnight.
    std::map<std::string, size_t> last_use;
    std::map<std::string, double> reach;
    for (size_t i = 0; i < templates; ++i) {
        const std::string key = day_key(control, i);
        last_use[key] = i;
        const double window = window_reach(static_cast<float>(control.pick_seconds[i]),
                                           bank.template_samples, control.sample_rate);
        reach[key] = std::max(reach[key], window);
    }
    const long long room = budget - program_bytes;
    long long kept_bytes = 0;
    std::map<std::string, Cached_day> kept;
    std::vector<std::string> kept_order;
    auto drop = [&](std::map<std::string, Cached_day>::iterator day) {
        kept_bytes -= decoded_bytes(day->second.day);
        kept_order.erase(std::find(kept_order.begin(), kept_order.end(), day->first));
        kept.erase(day);
    };
    bank.waveforms.reserve(templates);
    for (size_t i = 0; i < templates; ++i) {
        std::cout << "Template #" << i + 1 << "\n";
        const float start = static_cast<float>(control.pick_seconds[i]);
        const std::string key = day_key(control, i);
        auto cut = [&](auto&& day) {
            return template_samples(condition_window(
                std::forward<decltype(day)>(day), control.pick_year[i], control.pick_day[i], start,
                bank.template_samples, control, std::cout));
        };
        if (control.sample_rate <= 0 || bank.template_samples < 0) {
            bank.waveforms.push_back({not_found_sentinel});  // nothing sensible can be cut out
        } else {
            auto found = kept.find(key);
            if (found == kept.end()) {
                const Day_sources sources =
                    find_day_sources(control.pick_year[i], control.pick_day[i], control.network[i],
                                     control.station[i], control.location[i], control.channel[i],
                                     control, std::cout, reach[key]);
                const long long reading = day_reading_bytes(sources);
                while (!kept.empty() && kept_bytes + reading > room)
                    drop(kept.find(kept_order.front()));
                if (reading > room && !sources.sources.empty()) {
                    std::ostringstream what;
                    what << "reading the day file " << sources.sources.front().path << " at "
                         << peek_mseed(sources.sources.front().path).samprate
                         << " samples per second";
                    std::cout << std::flush;
                    return failed<Template_bank>(
                        budget_too_small(budget, program_bytes + reading, what.str()));
                }
                Decoded_day day = read_day_sources(sources, std::cout);
                bank.failed_downloads += day.download_failed ? 1 : 0;
                if (day.found && last_use[key] > i) {
                    kept_order.push_back(key);
                    kept_bytes += decoded_bytes(day);
                    found = kept.emplace(key, Cached_day{std::move(day), last_use[key]}).first;
                } else {
                    bank.waveforms.push_back(cut(std::move(day)));
                }
            }
            if (found != kept.end()) {
                bank.waveforms.push_back(cut(found->second.day));
                if (found->second.last_use == i)
                    drop(found);
            }
        }
        if (is_not_found(bank.waveforms.back())) {
            std::cout << "Data was not found for template #" << i + 1 << " ("
                      << control.pick_year[i] << " " << control.pick_day[i] << " " << start << " "
                      << control.network[i] << " " << control.station[i] << " "
                      << control.location[i] << " " << control.channel[i] << ")\n";
        }
    }
    return succeeded(std::move(bank));
}

std::vector<float> template_samples(Conditioned_trace&& window) {
    // A window that falls wholly in a gap of the day file (or in a run of zeros) is no template,
    // as when the file is missing, rather than a flat one that would add zeros to its event's
    // stack.
    if (window.data.empty() && !window.samples.empty())
        window.samples.assign(1, not_found_sentinel);
    return std::move(window.samples);
}

std::size_t templates_made(const Template_bank& bank) {
    return static_cast<std::size_t>(
        std::count_if(bank.waveforms.begin(), bank.waveforms.end(),
                      [](const std::vector<float>& waveform) { return !is_not_found(waveform); }));
}

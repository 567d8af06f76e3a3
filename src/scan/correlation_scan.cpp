// The scan: events, then days, then each event's templates; one stack per event and day.
//
// Events are scanned in batches that fit the memory budget (scan_plan). Within a batch the days
// come first: each station channel a template of the batch needs is read and conditioned once
// per day, its block spectra and window norms computed once per template length (day_channels),
// and every template on it correlated from those (event_day). Console text and results appends
// come out in the order of a scan event by event: the batch's first event writes as it goes, the
// later ones hold theirs in a temporary file until the events before them are done.
#include "scan/correlation_scan.h"

#include <algorithm>
#include <cstddef>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include <omp.h>

#include "acquire/get_data.h"
#include "dsp/time_convert.h"
#include "scan/channel_measure.h"
#include "scan/day_channels.h"
#include "scan/event_day.h"
#include "scan/event_output.h"
#include "scan/memory_budget.h"
#include "scan/progress_line.h"
#include "scan/results_file.h"
#include "scan/scan_plan.h"

namespace {

// How the budget is shared out: room for the batches' day data, and what a day's fetch may take.
struct Scan_memory {
    long long room = 0;
    long long single_room = 0;  // room with one thread and one channel-day conditioned at a time
    long long workspace = 0;    // one thread's FFT buffers
    Fetch_memory fetch;         // its room is set per batch
};

// The bytes reading one channel-day takes: the most of the channels' files of the first day
// that exist already (their first records give the rate), and at least a day at the run's rate.
long long channel_reading_bytes(const Template_file& control, const Template_bank& bank,
                                const Scan_constants& sc,
                                const std::map<std::string, int>& extensions) {
    const Doy_time first = epoch_to_time(
        static_cast<long long>(time_to_epoch(control.start_year, control.start_day, 0.0)));
    long long most = reading_bytes(static_cast<long long>(sc.n) + 8192, 4);
    std::set<std::string> seen;
    for (std::size_t i = 0; i < usable_templates(control, bank); ++i) {
        const std::string key = channel_key(control, i);
        if (!correlatable(bank, i, sc.n) || !seen.insert(key).second)
            continue;
        const double reach = window_reach(0.0f, sc.n + extensions.at(key), control.sample_rate);
        most = std::max(most, day_reading_bytes(existing_day_sources(
                                  first.year, first.doy, control.network[i], control.station[i],
                                  control.location[i], control.channel[i], control, reach)));
    }
    return most;
}

// The budget beyond the program goes to one day's detection or conditioning (the larger), one
// thread's FFT buffers, and the batches; half of what that leaves lets more threads correlate and
// more channel-days be read and conditioned at once (a quarter each), the rest goes to the
// batches.
Scan_memory scan_memory(const Template_file& control, const Template_bank& bank,
                        const Scan_constants& sc, const std::map<std::string, int>& extensions,
                        long long budget, long long workspace) {
    int longest = 0;
    for (const auto& entry : extensions) {
        longest = std::max(longest, entry.second);
    }
    const long long threads = omp_get_max_threads();
    const long long conditioning =
        conditioning_bytes(channel_reading_bytes(control, bank, sc, extensions),
                           static_cast<long long>(sc.n) + longest);
    const long long stacking = stack_bytes(sc.n);
    const long long spare =
        std::max(budget - program_bytes - std::max(stacking, conditioning) - workspace, 0LL) / 4;
    Scan_memory memory;
    memory.fetch.budget = budget;
    memory.fetch.threads =
        static_cast<int>(std::min(threads, 1 + (workspace > 0 ? spare / workspace : threads)));
    // One channel-day more than the threads: the next file is read while they condition.
    memory.fetch.group =
        static_cast<std::size_t>(std::max(1LL, std::min(threads + 1, 1 + spare / conditioning)));
    const long long fetching = static_cast<long long>(memory.fetch.group) * conditioning;
    const long long buffers = memory.fetch.threads * workspace;
    memory.room = std::max(budget - program_bytes - std::max(stacking, fetching) - buffers, 0LL);
    memory.single_room = budget - program_bytes - std::max(stacking, conditioning) - workspace;
    memory.workspace = workspace;
    return memory;
}

// The bytes events [first, end) hold as one batch.
long long batch_bytes(const std::vector<Event_need>& needs, std::size_t first, std::size_t end) {
    std::map<std::string, long long> shared;
    long long bytes = 0;
    for (std::size_t e = first; e < end; ++e) {
        bytes += needs[e].own;
        shared.insert(needs[e].shared.begin(), needs[e].shared.end());
    }
    for (const auto& entry : shared) {
        bytes += entry.second;
    }
    return bytes;
}

}  // namespace

Status run_scan(const Template_file& control, const Template_bank& bank, long long budget,
                double max_lag) {
    Scan_constants sc = scan_constants(control, bank);
    sc.max_lag = max_lag_samples(max_lag, control.sample_rate);
    const double first_day = time_to_epoch(control.start_year, control.start_day, 0.0);
    const double last_day = time_to_epoch(control.end_year, control.end_day, 0.0);
    const double day_count = ((last_day + 86400.0) - first_day) / 86400.0;
    const std::size_t n_events = control.event_names.size();
    const std::size_t n_templates = usable_templates(control, bank);

    std::cout << "\n\tCross-correlating " << n_events << " event(s) for " << day_count
              << " day(s)...\n";
    // Template-days on the terminal's progress line: every template of an event, every day.
    const long long days =
        last_day < first_day ? 0 : static_cast<long long>((last_day - first_day) / 86400.0) + 1;
    long long template_days = 0;
    for (std::size_t i = 0; i < n_templates; ++i) {
        const long long k = control.pick_event[i];
        template_days += k >= 1 && k <= static_cast<long long>(n_events) ? days : 0;
    }
    Progress_line progress;
    progress_start(progress, template_days, "template-days");

    // Plans for every template length, made before any thread runs, for day traces of at most
    // trace samples.
    const std::map<std::string, int> extensions = day_extensions(control, bank, sc);
    int longest = 0;
    for (const auto& [key, extension] : extensions) {
        longest = std::max(longest, extension);
    }
    const long long trace = static_cast<long long>(sc.n) + longest;
    std::map<int, Correlation_plan> plans;
    long long workspace = 0;  // one thread's FFT buffers
    for (std::size_t i = 0; i < n_templates; ++i) {
        if (correlatable(bank, i, sc.n) && plans.count(used_length(bank, i)) == 0) {
            plans.emplace(used_length(bank, i), make_correlation_plan(used_length(bank, i), trace));
            workspace += workspace_bytes(used_length(bank, i), trace);
        }
    }
    const Scan_memory memory = scan_memory(control, bank, sc, extensions, budget, workspace);

    // A batch over the room holds one event, which then runs on one thread, one channel-day
    // conditioned at a time; one that does not fit even so stops the run before its scan.
    const std::vector<Event_need> needs = event_needs(control, bank, sc, extensions);
    const std::vector<std::size_t> ends = plan_batches(needs, memory.room);
    for (std::size_t b = 0, first = 0; b < ends.size(); first = ends[b++]) {
        const long long bytes = batch_bytes(needs, first, ends[b]);
        if (bytes > memory.single_room) {
            progress_finish(progress);
            return failure(budget_too_small(
                budget, budget - memory.single_room + bytes,
                "event #" + std::to_string(first + 1) + " (" + control.event_names[first] + ")"));
        }
    }
    std::set<std::string> failed_files;
    std::size_t failed_downloads = bank.failed_downloads;
    std::size_t first = 0;
    for (std::size_t end : ends) {
        Batch batch = make_batch(control, bank, sc, plans, first + 1, end + 1);
        const long long bytes = batch_bytes(needs, first, end);
        first = end;
        Fetch_memory fetch = memory.fetch;
        if (bytes > memory.room) {
            fetch.threads = 1;
            fetch.group = 1;
        }
        fetch.room = budget - program_bytes - fetch.threads * memory.workspace - bytes;
        for (Batch_event& event : batch.events) {
            put_text(event.output, "Event #" + std::to_string(event.k) + "\n");
        }
        for (long long day_epoch = static_cast<long long>(first_day);
             static_cast<double>(day_epoch) <= last_day; day_epoch += 86400) {
            const Doy_time day = epoch_to_time(day_epoch);
            const Outcome<Day_channels> fetched =
                fetch_channels(control, bank, sc, day, batch, extensions, plans, fetch);
            if (!fetched.ok()) {
                progress_finish(progress);
                return failure(fetched.error);
            }
            failed_downloads += fetched.value->failed_downloads.size();
            // One stack for the day's events in turn, given back before the next day's fetch.
            Event_stack stack;
            for (std::size_t e = 0; e < batch.events.size(); ++e) {
                stack_and_detect(control, bank, sc, day, e, batch, *fetched.value, plans, progress,
                                 fetch.threads, stack);
            }
        }
        for (Batch_event& event : batch.events) {
            release_output(event.output);
            failed_files.insert(event.output.failed_files.begin(), event.output.failed_files.end());
        }
    }
    return both(results_written(failed_files), downloads_complete(failed_downloads));
}

// The scan: events, then days, then each event's templates; one stack per event and day.
//
// Events are scanned in batches that fit the memory budget (scan_plan). Within a batch the days
// come first: each station channel a template of the batch needs is read and conditioned once
// per day, its block spectra and window norms computed once per template length (day_channels),
// and every template on it correlated from those (event_day). Console text and results appends
// come out in the order of a scan event by event: the batch's first event writes as it goes, the
// later ones hold theirs until the events before them are done.
#include "scan/correlation_scan.h"

#include <algorithm>
#include <cstddef>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include <omp.h>

#include "dsp/time_convert.h"
#include "scan/channel_measure.h"
#include "scan/day_channels.h"
#include "scan/event_day.h"
#include "scan/event_output.h"
#include "scan/memory_budget.h"
#include "scan/progress_line.h"
#include "scan/results_file.h"
#include "scan/scan_plan.h"

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

    // Plans for every template length, made before any thread runs.
    std::map<int, Correlation_plan> plans;
    for (std::size_t i = 0; i < n_templates; ++i) {
        if (correlatable(bank, i, sc.n) && plans.count(used_length(bank, i)) == 0) {
            plans.emplace(used_length(bank, i), make_correlation_plan(used_length(bank, i)));
        }
    }
    const std::map<std::string, int> extensions = day_extensions(control, bank, sc);
    int longest = 0;
    for (const auto& [key, extension] : extensions) {
        longest = std::max(longest, extension);
    }

    // Traces are conditioned a few at a time, one per thread, as far as half of what the budget
    // leaves beyond one of them allows; the batches take the rest.
    const long long conditioning = conditioning_bytes(static_cast<long long>(sc.n) + longest);
    const long long spare = std::max(budget - scan_base_bytes(sc.n), 0LL) / 2;
    const std::size_t group = static_cast<std::size_t>(
        std::max(1LL, std::min<long long>(omp_get_max_threads(), 1 + spare / conditioning)));
    const long long base = scan_base_bytes(sc.n) + static_cast<long long>(group - 1) * conditioning;
    std::set<std::string> failed_files;
    std::size_t next = 1;
    while (next <= n_events) {
        Batch batch = next_batch(control, bank, sc, extensions, plans, budget, base, next);
        for (Batch_event& event : batch.events) {
            put_text(event.output, "Event #" + std::to_string(event.k) + "\n");
        }
        for (long long day_epoch = static_cast<long long>(first_day);
             static_cast<double>(day_epoch) <= last_day; day_epoch += 86400) {
            const Doy_time day = epoch_to_time(day_epoch);
            const Day_channels fetched =
                fetch_channels(control, bank, sc, day, batch, extensions, plans, group);
            for (std::size_t e = 0; e < batch.events.size(); ++e) {
                stack_and_detect(control, bank, sc, day, e, batch, fetched, plans, progress);
            }
        }
        for (Batch_event& event : batch.events) {
            release_output(event.output);
            failed_files.insert(event.output.failed_files.begin(), event.output.failed_files.end());
        }
    }
    return results_written(failed_files);
}

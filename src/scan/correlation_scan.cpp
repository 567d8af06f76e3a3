// The scan: events, then days, then each event's templates; one stack per event and day.
#include "scan/correlation_scan.h"

#include <algorithm>
#include <cstddef>
#include <iostream>
#include <string>

#include "acquire/get_data.h"
#include "dsp/time_convert.h"
#include "scan/detection.h"
#include "scan/progress_line.h"
#include "scan/results_file.h"

namespace {

// A single-precision sample count truncated to int, held to the int range.
int to_int(float samples) {
    return static_cast<int>(std::clamp(samples, -2147483520.0f, 2147483520.0f));
}

// Templates that have an entry in every per-template sequence of the record and the bank.
std::size_t usable_templates(const Template_file& c, const Template_bank& bank) {
    return std::min({c.pick_event.size(), c.network.size(), c.station.size(), c.location.size(),
                     c.channel.size(), bank.waveforms.size(), bank.moveout_samples.size()});
}

// Correlates template i with its station channel's trace of the day and adds the result into
// the stack. The day trace and the correlation are released on return.
void add_template(const Template_file& control, const Template_bank& bank, std::size_t i,
                  const Doy_time& day, int n, int l, std::vector<float>& stack,
                  std::vector<int>& stack_count) {
    const std::vector<float>& templ = bank.waveforms[i];
    if (is_not_found(templ)) {
        return;  // reported when the bank was built; its day trace is not fetched
    }
    // A window can come back shorter than asked; it is correlated with the samples it has, and
    // its first l values keep the meaning "template's first sample at day sample p".
    const int m = static_cast<int>(
        std::min(templ.size(), static_cast<std::size_t>(std::max(bank.template_samples, 1))));
    if (m > n) {
        std::cout << "Template #" << i + 1 << " cannot be correlated: it holds " << m
                  << " samples, more than the " << n << " of a day\n";
        return;
    }
    const std::vector<float> d =
        get_data(day.year, day.doy, 0.0f, control.network[i], control.station[i],
                 control.location[i], control.channel[i], n, control);
    if (is_not_found(d)) {
        std::cout << "Data was not found for " << day.year << " " << day.doy << " 0 "
                  << control.network[i] << " " << control.station[i] << " " << control.location[i]
                  << " " << control.channel[i] << "\n";
        return;
    }
    if (static_cast<long long>(d.size()) < m) {
        std::cout << "Day trace holds " << d.size() << " samples, fewer than the " << m
                  << " of template #" << i + 1 << ": not correlated\n";
        return;
    }
    if (static_cast<long long>(d.size()) != n) {
        std::cout << "Day trace holds " << d.size() << " samples instead of " << n << "\n";
    }
    std::cout << "assigning image...\n";
    std::cout << "cross-correlating..." << std::flush;
    const std::vector<float> correlation = correlate(d, templ, m, l);
    std::cout << "done.\n";
    add_to_stack(correlation, d, bank.moveout_samples[i], stack, stack_count);
}

}  // namespace

void run_scan(const Template_file& control, const Template_bank& bank) {
    const float fs = static_cast<float>(control.sample_rate);
    // The settings check keeps these in range whenever there are templates; a file without
    // templates is not checked, so the products are held to the int range here.
    const int n = to_int(fs * 86400.0f);
    const int w = to_int(fs * 30.0f);
    const long long positions_asked = static_cast<long long>(n) - bank.template_samples + 1;
    const int l = static_cast<int>(std::max(0LL, std::min<long long>(positions_asked, n)));
    const std::size_t positions = static_cast<std::size_t>(l);
    const double first_day = time_to_epoch(control.start_year, control.start_day, 0.0);
    const double last_day = time_to_epoch(control.end_year, control.end_day, 0.0);
    const double day_count = ((last_day + 86400.0) - first_day) / 86400.0;
    const std::size_t n_events = control.event_names.size();
    const std::size_t n_templates = usable_templates(control, bank);

    std::cout << "\n\tCross-correlating " << n_events << " event(s) for " << day_count
              << " day(s)...\n";
    const long long days =
        last_day < first_day ? 0 : static_cast<long long>((last_day - first_day) / 86400.0) + 1;
    long long template_days = 0;
    for (std::size_t i = 0; i < n_templates; ++i) {
        const long long k = control.pick_event[i];
        template_days += k >= 1 && k <= static_cast<long long>(n_events) ? days : 0;
    }
    Progress_line progress;
    progress_start(progress, template_days, "template-days");
    for (std::size_t k = 1; k <= n_events; ++k) {
        std::cout << "Event #" << k << "\n";
        const std::string file_name = control.output_dir + control.event_names[k - 1] + ".txt";
        std::vector<std::size_t> templates;
        for (std::size_t i = 0; i < n_templates; ++i) {
            if (control.pick_event[i] == static_cast<long long>(k)) {
                templates.push_back(i);
            }
        }
        // Without templates every position would be 0/0: an empty stack reports the same
        // (no MAD, no match) without allocating a day of positions.
        const std::size_t event_positions = templates.empty() ? 0 : positions;
        for (long long day_epoch = static_cast<long long>(first_day);
             static_cast<double>(day_epoch) <= last_day; day_epoch += 86400) {
            const Doy_time day = epoch_to_time(day_epoch);
            std::vector<float> stack(event_positions, 0.0f);
            std::vector<int> stack_count(event_positions, 0);
            for (std::size_t i : templates) {
                add_template(control, bank, i, day, n, l, stack, stack_count);
                progress_advance(progress);
            }
            // Positions nothing reached become 0/0 = NaN, which detection never picks.
            for (std::size_t p = 0; p < event_positions; ++p) {
                stack[p] = stack[p] / static_cast<float>(stack_count[p]);
            }
            const Detection found = detect(stack, w, control.mad_multiple, std::cout);
            append_results(file_name, day.year, day.doy, fs, found.matches, stack, stack_count,
                           found.mad_value, std::cout);
        }
    }
}

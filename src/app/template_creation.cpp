#include "app/template_creation.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>

#include "acquire/create_path.h"
#include "acquire/get_data.h"
#include "dsp/time_convert.h"

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

Template_bank create_templates(const Template_file& control) {
    const float fs = static_cast<float>(control.sample_rate);
    Template_bank bank;
    bank.template_samples = template_sample_count(control);

    createPath(control.output_dir);
    // Every results file starts empty; the scan only appends. One that cannot be opened is
    // reported when the scan writes to it.
    for (const std::string& name : control.event_names) {
        std::ofstream(control.output_dir + name + ".txt", std::ios::out | std::ios::trunc);
    }

    bank.moveout_samples = compute_moveouts(control, fs);

    const size_t templates = control.pick_year.size();
    std::cout << "\n\tCreating " << templates << " template(s) for " << control.event_names.size()
              << " event(s)...\n";
    bank.waveforms.reserve(templates);
    for (size_t i = 0; i < templates; ++i) {
        std::cout << "Template #" << i + 1 << "\n";
        const float start = static_cast<float>(control.pick_seconds[i]);
        bank.waveforms.push_back(get_data(control.pick_year[i], control.pick_day[i], start,
                                          control.network[i], control.station[i],
                                          control.location[i], control.channel[i],
                                          bank.template_samples, control));
        if (is_not_found(bank.waveforms.back())) {
            std::cout << "Data was not found for template #" << i + 1 << " ("
                      << control.pick_year[i] << " " << control.pick_day[i] << " " << start << " "
                      << control.network[i] << " " << control.station[i] << " "
                      << control.location[i] << " " << control.channel[i] << ")\n";
        }
    }
    return bank;
}

#include "scan/scan_plan.h"

#include <algorithm>

#include "acquire/get_data.h"
#include "scan/memory_budget.h"

namespace {

// A single-precision sample count truncated to int, held to the int range.
int to_int(float samples) {
    return static_cast<int>(std::clamp(samples, -2147483520.0f, 2147483520.0f));
}

}  // namespace

Scan_constants scan_constants(const Template_file& control, const Template_bank& bank) {
    Scan_constants sc;
    sc.fs = static_cast<float>(control.sample_rate);
    // The settings check keeps these in range whenever there are templates; a file without
    // templates is not checked, so the products are held to the int range here.
    sc.n = std::max(to_int(sc.fs * 86400.0f), 0);
    sc.w = to_int(sc.fs * 30.0f);
    sc.m = std::max(bank.template_samples, 1);
    return sc;
}

std::size_t usable_templates(const Template_file& c, const Template_bank& bank) {
    return std::min({c.pick_event.size(), c.network.size(), c.station.size(), c.location.size(),
                     c.channel.size(), bank.waveforms.size(), bank.moveout_samples.size()});
}

std::string channel_key(const Template_file& c, std::size_t i) {
    return c.network[i] + "\n" + c.station[i] + "\n" + c.location[i] + "\n" + c.channel[i];
}

int used_length(const Template_bank& bank, std::size_t i) {
    return static_cast<int>(std::min(bank.waveforms[i].size(),
                                     static_cast<std::size_t>(std::max(bank.template_samples, 1))));
}

bool correlatable(const Template_bank& bank, std::size_t i, int n) {
    return !is_not_found(bank.waveforms[i]) && used_length(bank, i) <= n;
}

std::map<std::string, int> day_extensions(const Template_file& c, const Template_bank& bank,
                                          const Scan_constants& sc) {
    std::map<std::string, int> extensions;
    for (std::size_t i = 0; i < usable_templates(c, bank); ++i) {
        if (!correlatable(bank, i, sc.n))
            continue;
        const long long reach = std::max(bank.moveout_samples[i], 0) + sc.m - 1LL;
        int& extension = extensions[channel_key(c, i)];
        extension = std::max(extension, static_cast<int>(std::min<long long>(reach, sc.n)));
    }
    return extensions;
}

std::vector<std::size_t> plan_batches(const std::vector<Event_need>& events, long long room) {
    std::vector<std::size_t> ends;
    std::set<std::string> shared;  // names counted in the current batch
    long long held = 0;
    auto more = [&](const Event_need& event) {
        long long bytes = event.own;
        for (const auto& [name, size] : event.shared)
            bytes += shared.count(name) == 0 ? size : 0;
        return bytes;
    };
    for (std::size_t e = 0; e < events.size(); ++e) {
        if (e > 0 && held + more(events[e]) > room) {
            ends.push_back(e);
            shared.clear();
            held = 0;
        }
        held += more(events[e]);
        for (const auto& entry : events[e].shared)
            shared.insert(entry.first);
    }
    if (!events.empty())
        ends.push_back(events.size());
    return ends;
}

std::vector<Event_need> event_needs(const Template_file& c, const Template_bank& bank,
                                    const Scan_constants& sc,
                                    const std::map<std::string, int>& extensions) {
    std::vector<Event_need> needs(c.event_names.size());
    for (std::size_t i = 0; i < usable_templates(c, bank); ++i) {
        const long long k = c.pick_event[i];
        if (k < 1 || k > static_cast<long long>(needs.size()) || !correlatable(bank, i, sc.n))
            continue;
        const std::string key = channel_key(c, i);
        const long long trace = static_cast<long long>(sc.n) + extensions.at(key);
        const int m = used_length(bank, i);
        Event_need& need = needs[static_cast<std::size_t>(k - 1)];
        need.own += template_bytes(m, trace);
        need.shared[key] = channel_trace_bytes(trace);
        need.shared[key + "\n" + std::to_string(m)] = channel_length_bytes(trace, m);
    }
    return needs;
}

Batch make_batch(const Template_file& c, const Template_bank& bank, const Scan_constants& sc,
                 const std::map<int, Correlation_plan>& plans, std::size_t first, std::size_t end) {
    Batch batch;
    const std::size_t n_templates = usable_templates(c, bank);
    for (std::size_t k = first; k < end; ++k) {
        Batch_event event;
        event.k = k;
        event.file_name = c.output_dir + c.event_names[k - 1] + ".txt";
        event.output.live = k == first;
        event.output.spill_dir = c.output_dir;
        for (std::size_t i = 0; i < n_templates; ++i) {
            if (c.pick_event[i] != static_cast<long long>(k))
                continue;
            event.templates.push_back(i);
            if (correlatable(bank, i, sc.n)) {
                batch.lengths[channel_key(c, i)].insert(used_length(bank, i));
                Batch_template& t = batch.templates[i];
                t.i = i;
                t.m = used_length(bank, i);
                t.spectrum = make_template_spectrum(plans.at(t.m), bank.waveforms[i].data());
            }
        }
        batch.events.push_back(std::move(event));
    }
    return batch;
}

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

Batch next_batch(const Template_file& c, const Template_bank& bank, const Scan_constants& sc,
                 const std::map<std::string, int>& extensions,
                 const std::map<int, Correlation_plan>& plans, long long budget, long long base,
                 std::size_t& next) {
    Batch batch;
    const std::size_t n_events = c.event_names.size();
    const std::size_t n_templates = usable_templates(c, bank);
    long long held = 0;
    for (; next <= n_events; ++next) {
        Batch_event event;
        event.k = next;
        event.file_name = c.output_dir + c.event_names[next - 1] + ".txt";
        std::map<std::string, std::set<int>> added = batch.lengths;
        long long more = 0;
        for (std::size_t i = 0; i < n_templates; ++i) {
            if (c.pick_event[i] != static_cast<long long>(next))
                continue;
            event.templates.push_back(i);
            const std::string key = channel_key(c, i);
            std::set<int>& set = added[key];
            if (correlatable(bank, i, sc.n)) {
                more += template_bytes(used_length(bank, i));
                if (set.empty())
                    more += channel_trace_bytes(sc.n + extensions.at(key));
                if (set.insert(used_length(bank, i)).second)
                    more += channel_length_bytes(sc.n + extensions.at(key), used_length(bank, i));
            }
        }
        if (!batch.events.empty() && base + held + more > budget)
            break;
        held += more;
        batch.lengths = std::move(added);
        batch.events.push_back(std::move(event));
    }
    if (batch.events.empty())
        return batch;
    batch.events.front().output.live = true;
    for (const Batch_event& event : batch.events) {
        for (std::size_t i : event.templates) {
            if (correlatable(bank, i, sc.n)) {
                Batch_template& t = batch.templates[i];
                t.i = i;
                t.m = used_length(bank, i);
                t.spectrum = make_template_spectrum(plans.at(t.m), bank.waveforms[i].data());
            }
        }
    }
    return batch;
}

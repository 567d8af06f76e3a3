// The scan: events, then days, then each event's templates; one stack per event and day.
//
// Events are scanned in batches that fit the memory budget. Within a batch the days come
// first: each station channel a template of the batch needs is read and conditioned once per
// day, its block spectra and window norms computed once per template length, and every
// template on it correlated from those. Console text and results appends come out in the order
// of a scan event by event: the batch's first event writes as it goes, the later ones hold
// theirs until the events before them are done.
#include "scan/correlation_scan.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <iostream>
#include <map>
#include <new>
#include <set>
#include <sstream>
#include <string>

#include <omp.h>

#include "acquire/get_data.h"
#include "dsp/time_convert.h"
#include "scan/detection.h"
#include "scan/event_output.h"
#include "scan/fft_correlation.h"
#include "scan/memory_budget.h"
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

std::string channel_key(const Template_file& c, std::size_t i) {
    return c.network[i] + "\n" + c.station[i] + "\n" + c.location[i] + "\n" + c.channel[i];
}

// Restores standard output's buffer when the capture ends, however it ends.
struct Stdout_capture {
    std::ostringstream text;
    std::streambuf* saved = std::cout.rdbuf(text.rdbuf());
    ~Stdout_capture() { std::cout.rdbuf(saved); }
};

struct Scan_constants {
    float fs = 0.0f;
    int n = 0;  // samples of a day
    int w = 0;  // separation window of detection
    int l = 0;  // stack positions
};

// One station channel of the scanned day: what its first fetch printed, and what the
// correlations need once the trace itself is released.
struct Channel_day {
    bool read = false;   // its day file was read and held samples
    bool found = false;  // conditioned into a day trace
    std::size_t size = 0;
    std::string conditioning_text;  // the progress line of each later fetch
    std::map<int, Day_spectra> by_length;
};

// A template of the batch: its number, its samples used (m) and its spectrum.
struct Batch_template {
    std::size_t i = 0;
    int m = 0;
    Template_spectrum spectrum;
};

struct Batch_event {
    std::size_t k = 0;  // 1-based event number
    std::string file_name;
    std::vector<std::size_t> templates;  // all of the event's template numbers
    Event_output output;
};

// Template length used in the correlation: the samples the window has, at most M.
int used_length(const Template_bank& bank, std::size_t i) {
    return static_cast<int>(std::min(bank.waveforms[i].size(),
                                     static_cast<std::size_t>(std::max(bank.template_samples, 1))));
}

// Templates that reach the correlation on some day: waveform found, not longer than a day.
bool correlatable(const Template_bank& bank, std::size_t i, int n) {
    return !is_not_found(bank.waveforms[i]) && used_length(bank, i) <= n;
}

// Reads template i's day file, as get_data does for the whole day. Returns what the reading
// printed on standard output.
std::string read_channel(const Template_file& control, std::size_t i, const Doy_time& day,
                         Decoded_day& decoded) {
    Stdout_capture capture;
    decoded = read_day(day.year, day.doy, control.network[i], control.station[i],
                       control.location[i], control.channel[i], control);
    return capture.text.str();
}

// A read day waiting for its conditioning.
struct Pending_channel {
    Channel_day* channel = nullptr;
    Decoded_day decoded;
};

// Conditions the pending days on all threads (each the same trace as get_data for the whole
// day), then computes each one's spectra and window norms for every template length of its
// channel. The decoded days are released.
void prepare_channels(const Template_file& control, const Doy_time& day, const Scan_constants& sc,
                      std::vector<Pending_channel>& pending,
                      const std::vector<const std::set<int>*>& lengths,
                      const std::map<int, Correlation_plan>& plans) {
    const int count = static_cast<int>(pending.size());
    std::vector<std::vector<float>> traces(pending.size());
    // An exception must not leave a parallel region: the first is kept and thrown afterwards.
    std::exception_ptr failure;
#pragma omp parallel for schedule(dynamic, 1)
    for (int g = 0; g < count; ++g) {
        try {
            std::ostringstream text;
            traces[g] = condition_window(std::move(pending[g].decoded), day.year, day.doy, 0.0f,
                                         sc.n, control, text);
            pending[g].channel->conditioning_text = text.str();
        } catch (...) {
#pragma omp critical
            if (!failure) {
                failure = std::current_exception();
            }
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    for (int g = 0; g < count; ++g) {
        Channel_day& channel = *pending[g].channel;
        std::vector<float> trace = std::move(traces[g]);
        // A found day file always gives a whole day's window; should it not, its templates report
        // it as not found.
        channel.found = !is_not_found(trace);
        if (!channel.found) {
            continue;
        }
        channel.size = trace.size();
        for (int m : *lengths[g]) {
            const long long positions =
                std::min<long long>(sc.l, static_cast<long long>(trace.size()) - m + 1);
            if (positions >= 1) {
                channel.by_length.emplace(
                    m, make_day_spectra(plans.at(m), trace, static_cast<int>(positions), sc.l));
            }
        }
    }
    pending.clear();
}

// A template to correlate with its channel's day, and its moveout.
struct Correlation_job {
    const Correlation_plan* plan = nullptr;
    const Day_spectra* day = nullptr;
    const Template_spectrum* spectrum = nullptr;
    int s = 0;
};

// Correlates the jobs' templates with their days, adds the values into the stack and divides
// each position by its count. The stack is cut into chunks of positions shared out to the
// threads; within a chunk the jobs are added one after another, so every position sums its
// templates in template order whatever the threads. A job computes the blocks its shifted
// chunk overlaps (a few more than a pass over the day, no wait between templates).
void stack_event_day(const std::vector<Correlation_job>& jobs, std::vector<float>& stack,
                     std::vector<int>& stack_count) {
    const long long l = static_cast<long long>(std::min(stack.size(), stack_count.size()));
    const long long chunk = 1 << 18;
    const long long chunks = (l + chunk - 1) / chunk;
    bool out_of_memory = false;  // an exception must not leave the parallel region
#pragma omp parallel
    {
        std::map<const Correlation_plan*, std::pair<Correlation_workspace, std::vector<float>>>
            scratch;
#pragma omp for schedule(dynamic, 1)
        for (long long c = 0; c < chunks; ++c) {
            const long long q0 = c * chunk, q1 = std::min(l, q0 + chunk);
            try {
                for (const Correlation_job& job : jobs) {
                    if (scratch.count(job.plan) == 0) {
                        scratch.emplace(job.plan,
                                        std::make_pair(make_workspace(*job.plan),
                                                       std::vector<float>(job.plan->step)));
                    }
                }
            } catch (const std::bad_alloc&) {
#pragma omp atomic write
                out_of_memory = true;
                continue;
            }
            for (const Correlation_job& job : jobs) {
                const long long step = job.plan->step;
                const long long a = q0 + job.s;
                const long long b =
                    std::min(q1 + job.s, static_cast<long long>(job.day->positions));
                if (job.s < 0 || a >= b) {
                    continue;
                }
                const auto found = scratch.find(job.plan);
                Correlation_workspace& work = found->second.first;
                std::vector<float>& values = found->second.second;
                for (long long block = a / step; block * step < b; ++block) {
                    const long long first = block * step;
                    const int count = correlate_block(*job.plan, *job.day, *job.spectrum,
                                                      static_cast<int>(block), work, values.data());
                    const long long from = std::max(a, first);
                    const long long to = std::min(b, first + count);
                    add_block_to_stack(values.data() + (from - first), *job.day, from,
                                       static_cast<int>(to - from), job.s, stack, stack_count);
                }
            }
            // Positions nothing reached become 0/0 = NaN, which detection never picks.
            for (long long p = q0; p < q1; ++p) {
                stack[p] = stack[p] / static_cast<float>(stack_count[p]);
            }
        }
    }
    if (out_of_memory) {
        throw std::bad_alloc();
    }
}

// One day of a batch: fetches the channels, then runs each event's templates, detection and
// results.
void scan_day(const Template_file& control, const Template_bank& bank, const Scan_constants& sc,
              const Doy_time& day, std::vector<Batch_event>& events,
              const std::map<std::size_t, Batch_template>& templates,
              const std::map<std::string, std::set<int>>& lengths,
              const std::map<int, Correlation_plan>& plans, std::size_t group,
              Progress_line& progress) {
    std::map<std::string, Channel_day> channels;
    // Every fetch a scan template by template makes is made here in the same order: the first of
    // each channel, and again for a channel whose day file was not found before. The days read
    // are conditioned a few at a time, on as many threads.
    struct Fetch {
        std::size_t e = 0, i = 0;
        std::string said;   // before the template's own lines; or the line of a long template
        bool read = false;  // the day file was read for this template
        bool too_long = false;
    };
    std::vector<Fetch> fetches;
    std::vector<Pending_channel> pending;
    std::vector<const std::set<int>*> pending_lengths;
    for (std::size_t e = 0; e < events.size(); ++e) {
        for (std::size_t i : events[e].templates) {
            if (is_not_found(bank.waveforms[i])) {
                continue;  // reported when the bank was built; its day trace is not fetched
            }
            Fetch fetch;
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
            Channel_day& channel = channels[key];
            if (!channel.read) {
                Decoded_day decoded;
                fetch.said = read_channel(control, i, day, decoded);
                fetch.read = true;
                if (decoded.found) {
                    channel.read = true;
                    pending.push_back({&channel, std::move(decoded)});
                    pending_lengths.push_back(&lengths.at(key));
                    if (pending.size() == group) {
                        prepare_channels(control, day, sc, pending, pending_lengths, plans);
                        pending_lengths.clear();
                    }
                }
            }
            fetches.push_back(std::move(fetch));
        }
    }
    prepare_channels(control, day, sc, pending, pending_lengths, plans);

    // What each template prints before its correlation.
    std::map<std::pair<std::size_t, std::size_t>, std::string> before;
    std::map<std::pair<std::size_t, std::size_t>, bool> correlated;
    for (const Fetch& fetch : fetches) {
        const std::size_t i = fetch.i;
        std::ostringstream text;
        text << fetch.said;
        if (fetch.too_long) {
            before[{fetch.e, i}] = text.str();
            continue;
        }
        const Channel_day& channel = channels.at(channel_key(control, i));
        const int m = used_length(bank, i);
        if (channel.read) {
            text << channel.conditioning_text;
        }
        if (!channel.found) {
            text << "Data was not found for " << day.year << " " << day.doy << " 0 "
                 << control.network[i] << " " << control.station[i] << " " << control.location[i]
                 << " " << control.channel[i] << "\n";
        } else if (static_cast<long long>(channel.size) < m) {
            text << "Day trace holds " << channel.size << " samples, fewer than the " << m
                 << " of template #" << i + 1 << ": not correlated\n";
        } else {
            if (static_cast<long long>(channel.size) != sc.n) {
                text << "Day trace holds " << channel.size << " samples instead of " << sc.n
                     << "\n";
            }
            text << "assigning image...\ncross-correlating...done.\n";
            correlated[{fetch.e, i}] = true;
        }
        before[{fetch.e, i}] = text.str();
    }

    for (std::size_t e = 0; e < events.size(); ++e) {
        Batch_event& event = events[e];
        // Without templates every position would be 0/0: an empty stack reports the same
        // (no MAD, no match) without allocating a day of positions.
        const std::size_t positions = event.templates.empty() ? 0 : static_cast<std::size_t>(sc.l);
        std::vector<float> stack(positions, 0.0f);
        std::vector<int> stack_count(positions, 0);
        std::string text;
        std::vector<Correlation_job> jobs;
        for (std::size_t i : event.templates) {
            const auto said = before.find({e, i});
            if (said == before.end()) {
                continue;
            }
            text += said->second;
            if (correlated.count({e, i}) == 0) {
                continue;
            }
            const Batch_template& t = templates.at(i);
            const Channel_day& channel = channels.at(channel_key(control, i));
            jobs.push_back(
                {&plans.at(t.m), &channel.by_length.at(t.m), &t.spectrum, bank.moveout_samples[i]});
        }
        stack_event_day(jobs, stack, stack_count);
        // The event's templates are finished for this day.
        progress_advance(progress, static_cast<long long>(event.templates.size()));
        std::ostringstream detection_text;
        const Detection found = detect(stack, sc.w, control.mad_multiple, detection_text);
        put_text(event.output, text + detection_text.str());
        put_results(event.output, event.file_name,
                    format_result_lines(day.year, day.doy, sc.fs, found.matches, stack, stack_count,
                                        found.mad_value));
    }
}

}  // namespace

Status run_scan(const Template_file& control, const Template_bank& bank, long long budget) {
    Scan_constants sc;
    sc.fs = static_cast<float>(control.sample_rate);
    // The settings check keeps these in range whenever there are templates; a file without
    // templates is not checked, so the products are held to the int range here.
    sc.n = to_int(sc.fs * 86400.0f);
    sc.w = to_int(sc.fs * 30.0f);
    const long long positions_asked = static_cast<long long>(sc.n) - bank.template_samples + 1;
    sc.l = static_cast<int>(std::max(0LL, std::min<long long>(positions_asked, sc.n)));
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

    // Traces are conditioned a few at a time, one per thread, as far as half of what the budget
    // leaves beyond one of them allows; the batches take the rest.
    const long long conditioning = conditioning_bytes(sc.n);
    const long long spare = std::max(budget - scan_base_bytes(sc.n), 0LL) / 2;
    const std::size_t group = static_cast<std::size_t>(
        std::max(1LL, std::min<long long>(omp_get_max_threads(), 1 + spare / conditioning)));
    const long long base = scan_base_bytes(sc.n) + static_cast<long long>(group - 1) * conditioning;
    std::set<std::string> failed_files;
    std::size_t next = 1;
    while (next <= n_events) {
        // The batch: the following events, as many as the budget holds (at least one).
        std::vector<Batch_event> events;
        std::map<std::string, std::set<int>> lengths;
        long long held = 0;
        for (; next <= n_events; ++next) {
            Batch_event event;
            event.k = next;
            event.file_name = control.output_dir + control.event_names[next - 1] + ".txt";
            std::map<std::string, std::set<int>> added = lengths;
            long long more = 0;
            for (std::size_t i = 0; i < n_templates; ++i) {
                if (control.pick_event[i] != static_cast<long long>(next)) {
                    continue;
                }
                event.templates.push_back(i);
                const std::string key = channel_key(control, i);
                std::set<int>& set = added[key];
                if (correlatable(bank, i, sc.n)) {
                    more += template_bytes(used_length(bank, i));
                    if (set.insert(used_length(bank, i)).second) {
                        more += channel_length_bytes(sc.n, used_length(bank, i));
                    }
                }
            }
            if (!events.empty() && base + held + more > budget) {
                break;
            }
            held += more;
            lengths = std::move(added);
            events.push_back(std::move(event));
        }
        events.front().output.live = true;

        std::map<std::size_t, Batch_template> templates;
        for (const Batch_event& event : events) {
            for (std::size_t i : event.templates) {
                if (correlatable(bank, i, sc.n)) {
                    Batch_template& t = templates[i];
                    t.i = i;
                    t.m = used_length(bank, i);
                    t.spectrum = make_template_spectrum(plans.at(t.m), bank.waveforms[i].data());
                }
            }
        }

        for (Batch_event& event : events) {
            put_text(event.output, "Event #" + std::to_string(event.k) + "\n");
        }
        for (long long day_epoch = static_cast<long long>(first_day);
             static_cast<double>(day_epoch) <= last_day; day_epoch += 86400) {
            scan_day(control, bank, sc, epoch_to_time(day_epoch), events, templates, lengths, plans,
                     group, progress);
        }
        for (Batch_event& event : events) {
            release_output(event.output);
            failed_files.insert(event.output.failed_files.begin(), event.output.failed_files.end());
        }
    }
    return results_written(failed_files);
}

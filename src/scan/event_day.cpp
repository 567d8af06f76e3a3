#include "scan/event_day.h"

#include <algorithm>
#include <new>
#include <sstream>
#include <string>
#include <utility>

#include "scan/channels_file.h"
#include "scan/correlation_scan.h"
#include "scan/detection.h"
#include "scan/event_output.h"
#include "scan/results_file.h"

// The stack is cut into chunks of positions shared out to the threads; within a chunk the jobs
// are added one after another, so every position sums its templates in template order whatever
// the threads. A job computes the blocks its shifted chunk overlaps (a few more than a pass over
// the day, no wait between templates).
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

namespace {

// The channels rows of the matches of event e: for every match, each of the event's templates
// that added to the stack there, in template order.
std::string measure_matches(const Template_file& control, const Template_bank& bank,
                            const Scan_constants& sc, const Doy_time& day, std::size_t e,
                            const Batch& batch, const Day_channels& fetched,
                            const std::vector<int>& matches) {
    const double rate = control.sample_rate;
    std::string rows;
    for (int p : matches) {
        const std::string epoch = format_detection_time(day.year, day.doy, sc.fs, p);
        for (std::size_t i : batch.events[e].templates) {
            const auto said = fetched.templates.find({e, i});
            if (said == fetched.templates.end() || !said->second.correlated)
                continue;
            const Channel_day& channel = fetched.channels.at(channel_key(control, i));
            const int m = used_length(bank, i);
            const long long s = bank.moveout_samples[i];
            const Day_spectra& spectra = channel.by_length.at(m);
            // The template had data there when it added to the stack at p.
            if (s < 0 || p + s >= spectra.positions || is_gap(spectra, static_cast<int>(p + s)))
                continue;
            const Channel_measurement measured =
                measure_channel(channel.trace.data(), static_cast<long long>(channel.trace.size()),
                                p + s, bank.waveforms[i].data(), m, sc.max_lag);
            if (!measured.measured)
                continue;
            const double pick =
                static_cast<double>(p) / rate + static_cast<double>(s) / rate + measured.lag / rate;
            rows += format_channel_row(
                epoch,
                {control.network[i], control.station[i], control.location[i], control.channel[i]},
                measured, rate, day.year, day.doy, pick);
        }
    }
    return rows;
}

}  // namespace

void stack_and_detect(const Template_file& control, const Template_bank& bank,
                      const Scan_constants& sc, const Doy_time& day, std::size_t e, Batch& batch,
                      const Day_channels& fetched, const std::map<int, Correlation_plan>& plans,
                      Progress_line& progress) {
    Batch_event& event = batch.events[e];
    // Without templates every position would be 0/0: an empty stack reports the same (no MAD,
    // no match) without allocating a day of positions.
    const std::size_t positions = event.templates.empty() ? 0 : static_cast<std::size_t>(sc.n);
    std::vector<float> stack(positions, 0.0f);
    std::vector<int> stack_count(positions, 0);
    std::string text;
    std::vector<Correlation_job> jobs;
    for (std::size_t i : event.templates) {
        const auto said = fetched.templates.find({e, i});
        if (said == fetched.templates.end()) {
            continue;
        }
        text += said->second.text;
        if (!said->second.correlated) {
            continue;
        }
        const Batch_template& t = batch.templates.at(i);
        const Channel_day& channel = fetched.channels.at(channel_key(control, i));
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
                                    found.mad_value),
                channels_file_name(event.file_name),
                measure_matches(control, bank, sc, day, e, batch, fetched, found.matches));
}

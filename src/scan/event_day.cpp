#include "scan/event_day.h"

#include <algorithm>
#include <new>
#include <sstream>
#include <string>
#include <utility>

#include <omp.h>

#include "scan/block_kernels.h"
#include "scan/channels_file.h"
#include "scan/correlation_scan.h"
#include "scan/detection.h"
#include "scan/event_output.h"
#include "scan/mad.h"
#include "scan/results_file.h"

// The stack is cut into chunks of positions shared out to the threads; within a chunk the jobs
// are added one after another, so every position sums its templates in template order whatever
// the threads. A job computes the blocks its shifted chunk overlaps: a block across a chunk
// boundary is computed for both chunks, so the boundaries fall on block boundaries of the first
// job (whole blocks per chunk), which then computes each of its blocks once. Each chunk is
// zeroed, summed, divided and counted for the MAD by the thread that has it in cache.
void stack_event_day(const std::vector<Correlation_job>& jobs, std::vector<float>& stack,
                     std::vector<int>& stack_count, int threads,
                     std::vector<uint64_t>* value_counts) {
    const long long l = static_cast<long long>(std::min(stack.size(), stack_count.size()));
    long long chunk = 1 << 18, offset = 0;
    if (!jobs.empty() && jobs.front().s >= 0) {
        const long long step = jobs.front().plan->step;
        chunk = std::max(1LL, chunk / step) * step;
        offset = (step - jobs.front().s % step) % step;  // offset + s is a block boundary
    }
    // Chunk c holds positions [edge(c), edge(c + 1)).
    const auto edge = [&](long long c) { return c == 0 ? 0 : std::min(l, offset + c * chunk); };
    const long long chunks = l <= 0 ? 0 : l <= offset ? 1 : (l - offset + chunk - 1) / chunk;
    const int team = threads > 0 ? threads : omp_get_max_threads();
    std::vector<std::vector<uint32_t>> tables(static_cast<std::size_t>(team));
    bool out_of_memory = false;  // an exception must not leave the parallel region
#pragma omp parallel num_threads(team)
    {
        std::map<const Correlation_plan*, Correlation_workspace> scratch;
        std::vector<uint32_t>& table = tables[static_cast<std::size_t>(omp_get_thread_num())];
#pragma omp for schedule(dynamic, 1)
        for (long long c = 0; c < chunks; ++c) {
            const long long q0 = edge(c), q1 = edge(c + 1);
            try {
                for (const Correlation_job& job : jobs) {
                    if (scratch.count(job.plan) == 0) {
                        scratch.emplace(job.plan, make_workspace(*job.plan));
                    }
                }
                if (value_counts != nullptr && table.empty()) {
                    table = new_count_table();
                }
            } catch (const std::bad_alloc&) {
#pragma omp atomic write
                out_of_memory = true;
                continue;
            }
            std::fill(stack.begin() + q0, stack.begin() + q1, 0.0f);
            std::fill(stack_count.begin() + q0, stack_count.begin() + q1, 0);
            for (const Correlation_job& job : jobs) {
                const long long step = job.plan->step;
                const long long a = q0 + job.s;
                const long long b =
                    std::min(q1 + job.s, static_cast<long long>(job.day->positions));
                if (job.s < 0 || a >= b) {
                    continue;
                }
                Correlation_workspace& work = scratch.find(job.plan)->second;
                for (long long block = a / step; block * step < b; ++block) {
                    add_correlated_block(*job.plan, *job.day, *job.spectrum,
                                         static_cast<int>(block), a, b, job.s, work, stack,
                                         stack_count);
                }
            }
            // Positions nothing reached become 0/0 = NaN, which detection never picks.
            divide_by_counts(stack.data() + q0, stack_count.data() + q0, q1 - q0);
            if (value_counts != nullptr) {
                count_values(stack.data() + q0, q1 - q0, table);
            }
        }
    }
    if (out_of_memory) {
        throw std::bad_alloc();
    }
    if (value_counts != nullptr) {
        *value_counts = total_counts(tables);
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
                      Progress_line& progress, int threads, Event_stack& event_stack) {
    Batch_event& event = batch.events[e];
    // Without templates every position would be 0/0: an empty stack reports the same (no MAD,
    // no match) without allocating a day of positions.
    const std::size_t positions = event.templates.empty() ? 0 : static_cast<std::size_t>(sc.n);
    std::vector<float>& stack = event_stack.values;
    std::vector<int>& stack_count = event_stack.counts;
    stack.resize(positions);
    stack_count.resize(positions);
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
    std::vector<uint64_t> value_counts;
    stack_event_day(jobs, stack, stack_count, threads, &value_counts);
    // The event's templates are finished for this day.
    progress_advance(progress, static_cast<long long>(event.templates.size()));
    std::ostringstream detection_text;
    const Detection found =
        detect(stack, sc.w, control.mad_multiple, detection_text, &value_counts);
    put_text(event.output, text + detection_text.str());
    put_results(event.output, event.file_name,
                format_result_lines(day.year, day.doy, sc.fs, found.matches, stack, stack_count,
                                    found.mad_value),
                channels_file_name(event.file_name),
                measure_matches(control, bank, sc, day, e, batch, fetched, found.matches));
}

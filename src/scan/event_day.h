// One event on one day: its templates' correlations stacked, detection, and its output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "control/template_file.h"
#include "dsp/time_convert.h"
#include "scan/day_channels.h"
#include "scan/fft_correlation.h"
#include "scan/progress_line.h"
#include "scan/scan_plan.h"
#include "scan/template_bank.h"

// A template to correlate with its channel's day, and its moveout.
struct Correlation_job {
    const Correlation_plan* plan = nullptr;
    const Day_spectra* day = nullptr;
    const Template_spectrum* spectrum = nullptr;
    int s = 0;
};

// Correlates the jobs' templates with their days and writes the event-day stack over whatever
// stack and stack_count held: position q is the sum of value q + s of each job (gap positions
// skipped), in job order whatever the threads, divided by how many added to it; positions
// nothing reached become 0/0 = NaN. Uses at most threads threads (0: all), each holding a
// workspace per template length (workspace_bytes) and, when value_counts is given, a table of
// the MAD's counts of the stack's values, which it receives (see mad.h). Throws std::bad_alloc
// when memory runs out.
void stack_event_day(const std::vector<Correlation_job>& jobs, std::vector<float>& stack,
                     std::vector<int>& stack_count, int threads = 0,
                     std::vector<uint64_t>* value_counts = nullptr);

// An event-day stack's positions and counts, reused from one event to the next.
struct Event_stack {
    std::vector<float> values;
    std::vector<int> counts;
};

// Event e of batch on day: prints (or holds) what its templates printed when fetched, stacks its
// correlated templates over the day's sc.n positions, runs detection (the MAD over those
// positions) and appends the day's matches to its results file; counts its templates on
// progress. Correlates on at most threads threads, into stack. Throws std::bad_alloc when memory
// runs out.
void stack_and_detect(const Template_file& control, const Template_bank& bank,
                      const Scan_constants& sc, const Doy_time& day, std::size_t e, Batch& batch,
                      const Day_channels& fetched, const std::map<int, Correlation_plan>& plans,
                      Progress_line& progress, int threads, Event_stack& stack);

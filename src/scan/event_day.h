// One event on one day: its templates' correlations stacked, detection, and its output.
#pragma once

#include <cstddef>
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

// Correlates the jobs' templates with their days, adds value p of a job into stack position
// p - s (skipping gap positions) and divides each position by its count; positions nothing
// reached become 0/0 = NaN. Every position sums its templates in job order whatever the
// threads, of which it uses at most threads (0: all), each holding a workspace per template
// length (workspace_bytes). Throws std::bad_alloc when memory runs out.
void stack_event_day(const std::vector<Correlation_job>& jobs, std::vector<float>& stack,
                     std::vector<int>& stack_count, int threads = 0);

// Event e of batch on day: prints (or holds) what its templates printed when fetched, stacks its
// correlated templates over the day's sc.n positions, runs detection (the MAD over those
// positions) and appends the day's matches to its results file; counts its templates on
// progress. Correlates on at most threads threads. Throws std::bad_alloc when memory runs out.
void stack_and_detect(const Template_file& control, const Template_bank& bank,
                      const Scan_constants& sc, const Doy_time& day, std::size_t e, Batch& batch,
                      const Day_channels& fetched, const std::map<int, Correlation_plan>& plans,
                      Progress_line& progress, int threads);

// Correlating every event's templates with each day of the scan period.
#pragma once

#include <vector>

#include "control/outcome.h"
#include "control/template_file.h"
#include "scan/fft_correlation.h"
#include "scan/template_bank.h"

// Correlates templ (its first m_used samples) with day by the normalized correlation
// coefficient (see scan/fft_correlation.h) and returns the first l values: value p belongs to
// the template's first sample at day sample p. Returns an empty vector unless m_used is at
// least 1 and at most day.size() and templ.size(), and l at least 1; l is held to
// day.size() - m_used + 1.
std::vector<float> correlate(const std::vector<float>& day, const std::vector<float>& templ,
                             int m_used, int l);

// Adds correlation value p of a template with moveout s into stack position p - s for every p
// from s on that has a stack position and is not a gap position of day (day[p] exactly 0 and p
// at an end of the correlation's range or next to another exact 0), counting each addition in
// stack_count. Values past the stack's end plus s (those of a day trace that reaches past
// midnight) fill the stack's last positions.
void add_to_stack(const std::vector<float>& correlation, const std::vector<float>& day, int s,
                  std::vector<float>& stack, std::vector<int>& stack_count);

// As add_to_stack for the count values of block positions first.. of day, whose gap flags day
// carries (positions past day.positions are not added).
void add_block_to_stack(const float* values, const Day_spectra& day, long long first, int count,
                        int s, std::vector<float>& stack, std::vector<int>& stack_count);

// Correlates block b of day with templ and adds the values of day positions [from, to) of the
// block as add_block_to_stack does, with the same bits as correlate_block followed by it; the
// range is held to the block, the day's positions, the stack and positions from s on. Safe to
// call from several threads with separate workspaces and stack positions.
void add_correlated_block(const Correlation_plan& plan, const Day_spectra& day,
                          const Template_spectrum& templ, int b, long long from, long long to,
                          int s, Correlation_workspace& work, std::vector<float>& stack,
                          std::vector<int>& stack_count);

// The whole scan: banner, events, days, templates, detection and results, on standard output,
// with every detection measured on each template channel that had data there (lags up to
// max_lag seconds, see scan/channel_measure.h) into the event's channels file, in batches of
// events whose day data fit in budget bytes (see scan/memory_budget.h); a batch holds at least
// one event. Each day's traces reach past midnight into the next day's file as far as the
// templates need, so that every position of the day gets its stack value. The console text and
// results files do not depend on the budget or on the number of threads. Fails (see
// results_written) when any results or channels file could not be opened or written
// completely, and (see downloads_complete) when a day file of the templates
// (bank.failed_downloads) or of the scan could not be downloaded; the scan goes on to the end
// all the same. Fails at once, with a message naming the budget it needs, when an event alone or
// a day file it reaches does not fit in the budget. Throws std::bad_alloc when memory runs out.
Status run_scan(const Template_file& control, const Template_bank& bank, long long budget,
                double max_lag);

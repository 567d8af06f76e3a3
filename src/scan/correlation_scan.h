// Correlating every event's templates with each day of the scan period.
#pragma once

#include <vector>

#include "control/template_file.h"
#include "scan/template_bank.h"

// Correlates templ (its first m_used samples) with day by the normalized correlation
// coefficient and returns the first l values: value p belongs to the template's first sample at
// day sample p. m_used must be at least 1 and at most day.size(); l at most
// day.size() - m_used + 1.
std::vector<float> correlate(const std::vector<float>& day, const std::vector<float>& templ,
                             int m_used, int l);

// Adds correlation value p of a template with moveout s into stack position p - s for every p
// from s to l - 1 that is not a gap position of day (day[p] exactly 0 and p at an end of the
// range or next to another exact 0), counting each addition in stack_count.
void add_to_stack(const std::vector<float>& correlation, const std::vector<float>& day, int s,
                  std::vector<float>& stack, std::vector<int>& stack_count);

// The whole scan: banner, events, days, templates, detection and results, on standard output.
void run_scan(const Template_file& control, const Template_bank& bank);

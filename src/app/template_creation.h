// Template creation: results files, moveouts and the template bank.
#pragma once

#include <vector>

#include "acquire/get_data.h"
#include "control/outcome.h"
#include "control/template_file.h"
#include "scan/template_bank.h"

// Moveout of every template in samples at rate fs: its pick's delay after the earliest pick of
// its event, rounded to the nearest integer (halves away from zero).
std::vector<int32_t> compute_moveouts(const Template_file& control, float fs);

// Computes the moveouts and fetches every template window as get_data would, printing the
// creation and per-template lines. Each day file is read once while budget (bytes, beside the
// program) holds the decoded days that later templates still need, at their files' own rates,
// beside the reading of the next. Templates without data (no day file, or a window with not one
// sample of data: in a gap or a run of zeros) get the not-found vector (and a "Data was not found
// for template" line); day files whose download failed are counted in the bank's
// failed_downloads. Fails, with the templates before it made, when reading one
// day file takes more than the budget allows: the message names the file and the budget it
// needs. Writes nothing into the results directory.
Outcome<Template_bank> create_templates(const Template_file& control, long long budget);

// The samples of a template's conditioned window: the not-found vector when not one of them is
// data (the window lies in a gap of the day file or in a run of zeros), as when there is no day
// file.
std::vector<float> template_samples(Conditioned_trace&& window);

// How many templates of bank were made (found data).
std::size_t templates_made(const Template_bank& bank);

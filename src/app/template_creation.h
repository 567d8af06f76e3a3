// Template creation: results files, moveouts and the template bank.
#pragma once

#include <vector>

#include "control/template_file.h"
#include "scan/template_bank.h"

// Moveout of every template in samples at rate fs: its pick's delay after the earliest pick of
// its event, rounded to the nearest integer (halves away from zero).
std::vector<int32_t> compute_moveouts(const Template_file& control, float fs);

// Computes the moveouts and fetches every template window as get_data would, printing the
// creation and per-template lines. Each day file is read once while a quarter of budget (bytes)
// holds the decoded days that later templates still need. Templates without data get the
// not-found vector (and a "Data was not found for template" line), and day files whose download
// failed are counted in the bank's failed_downloads; never fails otherwise.
// Writes nothing into the results directory.
Template_bank create_templates(const Template_file& control, long long budget);

// How many templates of bank were made (found data).
std::size_t templates_made(const Template_bank& bank);

// Template creation: results files, moveouts and the template bank.
#pragma once

#include <vector>

#include "control/template_file.h"
#include "scan/template_bank.h"

// Moveout of every template in samples at rate fs: its pick's delay after the earliest pick of
// its event, rounded to the nearest integer (halves away from zero).
std::vector<int32_t> compute_moveouts(const Template_file& control, float fs);

// Creates output_dir, empties every event's results file, computes the moveouts and fetches
// every template window as get_data would, printing the creation and per-template lines. Each
// day file is read once while a quarter of budget (bytes) holds the decoded days that later
// templates still need. Templates without data get the not-found vector; never fails otherwise.
Template_bank create_templates(const Template_file& control, long long budget);

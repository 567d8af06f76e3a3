// Template creation: results files, moveouts and the template bank.
#pragma once

#include <vector>

#include "control/template_file.h"
#include "scan/template_bank.h"

// Moveout of every template in samples at rate fs: its pick's delay after the earliest pick of
// its event, rounded to the nearest integer (halves away from zero).
std::vector<int32_t> compute_moveouts(const Template_file& control, float fs);

// Creates output_dir, empties every event's results file, computes the moveouts and fetches
// every template window with get_data, printing the creation and per-template lines.
Template_bank create_templates(const Template_file& control);

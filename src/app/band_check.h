// Whether the run's band-pass can be applied at its sample rate.
#pragma once

#include <string>

#include "control/template_file.h"

// Returns an empty string when the file has no templates (nothing is filtered) or when the
// order-6 band-pass between freq_low and freq_high can be applied stably at sample_rate;
// otherwise one line beginning "Error: " that names the band and the rate (no line end). Meant
// for settings that check_settings accepts; the others are refused here too.
std::string check_band(const Template_file& control);

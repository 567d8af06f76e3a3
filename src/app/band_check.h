// Whether the run's band-pass can be applied at its sample rate.
#pragma once

#include "control/outcome.h"
#include "control/template_file.h"

// Succeeds when the file has no templates (nothing is filtered) or when the order-6 band-pass
// between freq_low and freq_high can be applied stably at sample_rate; otherwise fails with one
// line beginning "Error: " that names the band and the rate. Meant for settings that
// check_settings accepts; the others are refused here too.
Status check_band(const Template_file& control);

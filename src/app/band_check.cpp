#include "app/band_check.h"

#include <sstream>

#include "dsp/bandpass.h"

Status check_band(const Template_file& control) {
    if (control.pick_year.empty() ||
        bandpass_is_stable(control.freq_low, control.freq_high, 3, control.sample_rate))
        return success();
    std::ostringstream error;
    error << "Error: the band-pass from " << control.freq_low << " to " << control.freq_high
          << " Hz cannot be applied stably at " << control.sample_rate
          << " samples per second; use a wider or higher band, or a lower sample_rate";
    return failure(error.str());
}

// Conditioned waveform windows.
#pragma once

#include <string>
#include <vector>

#include "control/template_file.h"

// Element 0 of a not-found result: the float nearest to -987654321.
constexpr float not_found_sentinel = -987654336.0f;

// True when v is the one-element not-found result.
inline bool is_not_found(const std::vector<float>& v) {
    return v.empty() || v[0] == not_found_sentinel;
}

// Samples of one station channel at control.sample_rate, band-passed, for the window of length
// samples starting start seconds after 00:00:00 UTC of day doy of year (a whole day: start 0,
// length sample_rate × 86400). The day file comes from the archive or a download. Returns the
// one-element vector {not_found_sentinel} when no usable day file exists or it holds no usable
// samples. Prints its progress on standard output; the reader's messages go to standard error.
std::vector<float> get_data(int year, int doy, float start, std::string network,
                            std::string station, std::string location, std::string channel,
                            int length, Template_file control);

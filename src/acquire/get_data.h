// Conditioned waveform windows.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "control/template_file.h"

// Element 0 of a not-found result: the float nearest to -987654321.
constexpr float not_found_sentinel = -987654336.0f;

// True when v is the one-element not-found result.
inline bool is_not_found(const std::vector<float>& v) {
    return v.empty() || v[0] == not_found_sentinel;
}

// One station channel's day file as read, before any conditioning.
struct Decoded_day {
    bool found = false;      // false: no usable day file, or it held no usable samples
    double starttime = 0.0;  // first sample, microseconds since 1970-01-01T00:00:00 UTC
    double samprate = 0.0;   // the file's sample rate
    std::vector<float> samples;
};

// Finds (or downloads) and reads the day file of one station channel, as get_data does before
// conditioning: prints the download and deletion-notice lines on standard output, the reader's
// "Reading: " line on standard error. Returns a record with found
// false when no usable day file exists or it holds no usable samples.
Decoded_day read_day(int year, int doy, const std::string& network, const std::string& station,
                     const std::string& location, const std::string& channel,
                     const Template_file& control);

// The window of get_data (same arguments) cut from day, which must have been read for the same
// year, doy and codes: resampled to control.sample_rate, band-passed, the pads cut; its progress
// line goes to out. Returns {not_found_sentinel} when day was not found or the rate or length is
// unusable. The second form releases day's samples once they are no longer needed.
std::vector<float> condition_window(const Decoded_day& day, int year, int doy, float start,
                                    int length, const Template_file& control, std::ostream& out);
std::vector<float> condition_window(Decoded_day&& day, int year, int doy, float start, int length,
                                    const Template_file& control, std::ostream& out);

// Samples of one station channel at control.sample_rate, band-passed, for the window of length
// samples starting start seconds after 00:00:00 UTC of day doy of year (a whole day: start 0,
// length sample_rate × 86400). The day file comes from the archive or a download. Returns the
// one-element vector {not_found_sentinel} when no usable day file exists or it holds no usable
// samples. Prints its progress on standard output; the reader's messages go to standard error.
// The same as read_day followed by condition_window.
std::vector<float> get_data(int year, int doy, float start, std::string network,
                            std::string station, std::string location, std::string channel,
                            int length, Template_file control);

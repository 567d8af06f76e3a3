#include "acquire/get_data.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <utility>

#include "acquire/day_file.h"
#include "acquire/mseed_reader.h"
#include "dsp/bandpass.h"
#include "dsp/interp1.h"
#include "dsp/time_convert.h"

namespace {

// Samples cut off each padded side of a window after filtering, so that the filter's edge
// transient falls outside the returned samples.
constexpr int edge_pad = 200;

const std::vector<float> not_found{not_found_sentinel};

// The reader's words as float sample values; releases the block. Values of a float trace that
// are not finite (NaN or infinity) would spread through the filter over the whole window: they
// become 0, like missing data, and one line on standard error names path and their count.
std::vector<float> to_floats(Mseed_trace& trace, const std::string& path) {
    // Filled by appending, so a day of samples is written once rather than zeroed first.
    std::vector<float> samples;
    const size_t count = static_cast<size_t>(trace.numsamples);
    samples.reserve(count);
    size_t non_finite = 0;
    if (trace.wordtype == 'i') {
        samples.assign(trace.datasamples, trace.datasamples + count);
    } else {
        for (size_t i = 0; i < count; ++i) {
            float value;
            std::memcpy(&value, &trace.datasamples[i], sizeof(float));
            if (!std::isfinite(value)) {
                value = 0.0f;
                ++non_finite;
            }
            samples.push_back(value);
        }
    }
    std::free(trace.datasamples);
    trace.datasamples = nullptr;
    if (non_finite > 0) {
        std::cout.flush();
        std::cerr << path << ": " << non_finite
                  << " sample(s) not finite (NaN or infinity), read as missing data" << std::endl;
    }
    return samples;
}

// The conditioning of a window of a decoded day; release, when not null, is day itself, whose
// samples are released as soon as the window has been interpolated.
std::vector<float> condition(const Decoded_day& day, Decoded_day* release, int year, int doy,
                             float start, int length, const Template_file& control,
                             std::ostream& out);

}  // namespace

Decoded_day read_day(int year, int doy, const std::string& network, const std::string& station,
                     const std::string& location, const std::string& channel,
                     const Template_file& control) {
    Decoded_day day;
    const Day_file file = find_day_file(year, doy, network, station, location, channel, control);
    if (file.outcome == Day_file_outcome::not_found)
        return day;

    std::string path = file.path;
    char* names[] = {path.data(), nullptr};
    Mseed_trace trace = mseed2ascii(names);
    if (file.deletion_notice)
        std::cout << "Deleting downloaded data (***NOT IMPLEMENTED***)." << std::endl;
    if (trace.wordtype == 0) {
        std::free(trace.datasamples);
        return day;
    }
    day.found = true;
    day.starttime = trace.starttime;
    day.samprate = trace.samprate;
    day.samples = to_floats(trace, path);
    return day;
}

std::vector<float> condition_window(const Decoded_day& day, int year, int doy, float start,
                                    int length, const Template_file& control, std::ostream& out) {
    return condition(day, nullptr, year, doy, start, length, control, out);
}

std::vector<float> condition_window(Decoded_day&& day, int year, int doy, float start, int length,
                                    const Template_file& control, std::ostream& out) {
    return condition(day, &day, year, doy, start, length, control, out);
}

std::vector<float> get_data(int year, int doy, float start, std::string network,
                            std::string station, std::string location, std::string channel,
                            int length, Template_file control) {
    if (control.sample_rate <= 0 || length < 0)
        return not_found;  // nothing sensible can be cut out
    Decoded_day day = read_day(year, doy, network, station, location, channel, control);
    return condition_window(std::move(day), year, doy, start, length, control, std::cout);
}

namespace {

std::vector<float> condition(const Decoded_day& day, Decoded_day* release, int year, int doy,
                             float start, int length, const Template_file& control,
                             std::ostream& out) {
    const int fs = control.sample_rate;
    if (!day.found || fs <= 0 || length < 0)
        return not_found;
    const std::vector<float>& samples = day.samples;
    // Epoch of 00:00:00 UTC of the requested day; day numbers past the year's end roll over.
    const double day_start = time_to_epoch(year, doy, 0.0);
    const double t0 = day.starttime / 1000000 - day_start;

    out << "Interpolating...";
    // Windows away from the day's limits are read with extra data on each side, and 200 samples
    // are cut off each padded side after filtering. Both pads are exactly those 200 samples, so
    // that the first sample returned is the one at start and the window holds length samples at
    // every rate (pads rounded down to whole seconds would shift or shorten it at rates that do
    // not divide 200, and would leave a window shorter than a second empty).
    const bool cut_leading = start * static_cast<float>(fs) > 200.0f;
    const double window_start =
        cut_leading ? static_cast<double>(start) - static_cast<double>(edge_pad) / fs : start;
    const bool cut_trailing = static_cast<int64_t>(length) + edge_pad < int64_t{fs} * 86400;
    const int64_t wanted =
        (cut_leading ? edge_pad : 0) + int64_t{length} + (cut_trailing ? edge_pad : 0);
    // Half a sample more than wanted, so that rounding cannot cost the last one.
    const double window_end = window_start + (static_cast<double>(wanted) + 0.5) / fs;
    Sample_span covered;
    std::vector<float> result = interp1(t0, day.samprate, samples, window_start, window_end,
                                        static_cast<double>(fs), &covered);
    result.resize(static_cast<size_t>(wanted), 0.0f);
    if (release != nullptr)
        std::vector<float>().swap(release->samples);  // the day-long copy is not needed any more

    out << "interpolated."
        << " Bandpassing...";
    bandpass(result, control.freq_low, control.freq_high, 3, static_cast<double>(fs));
    out << "bandpassed." << std::endl;

    // Padding stays padding: the parts of the window the trace does not cover were zeros before
    // filtering and must not turn into a filter tail or rounding noise.
    const int size = static_cast<int>(result.size());
    const int first = std::clamp(covered.first, 0, size);
    const int end = std::clamp(covered.end, first, size);
    std::fill(result.begin(), result.begin() + first, 0.0f);
    std::fill(result.begin() + end, result.end(), 0.0f);

    if (cut_trailing)
        result.resize(result.size() - std::min<size_t>(edge_pad, result.size()));
    if (cut_leading)
        result.erase(result.begin(), result.begin() + std::min<size_t>(edge_pad, result.size()));
    return result;
}

}  // namespace

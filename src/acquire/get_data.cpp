#include "acquire/get_data.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <utility>

#include "acquire/day_file.h"
#include "acquire/mseed_reader.h"
#include "control/huge_pages.h"
#include "dsp/bandpass.h"
#include "dsp/time_convert.h"

namespace {

// Samples cut off each padded side of a window after filtering, so that the filter's edge
// transient falls outside the returned samples.
constexpr int edge_pad = 200;

Conditioned_trace not_found() {
    return {{not_found_sentinel}, {}};
}

// The conditioning of a window of a decoded day; release, when not null, is day itself, whose
// samples are released as soon as they have been placed on the window's grid.
Conditioned_trace condition(const Decoded_day& day, Decoded_day* release, int year, int doy,
                            float start, int length, const Template_file& control,
                            std::ostream& out);

// Sets every sample outside the spans of data to 0.
void zero_outside(std::vector<float>& samples, const std::vector<Sample_span>& data) {
    int next = 0;
    for (const Sample_span& span : data) {
        std::fill(samples.begin() + next, samples.begin() + span.first, 0.0f);
        next = span.end;
    }
    std::fill(samples.begin() + next, samples.end(), 0.0f);
}

}  // namespace

double window_reach(float start, int length, int fs) {
    // The trailing pad, the sample after the window that its last one is interpolated towards,
    // and one more for rounding.
    return static_cast<double>(start) +
           (static_cast<double>(length) + edge_pad + 2.0) / std::max(fs, 1);
}

long long decoded_bytes(const Decoded_day& day) {
    long long bytes = 0;
    for (const Day_segment& segment : day.segments)
        bytes += static_cast<long long>(segment.samples.capacity() * sizeof(float) +
                                        segment.data.capacity() * sizeof(Sample_span));
    return bytes;
}

long long reading_bytes(long long samples, int sample_bytes) {
    return samples * (sample_bytes + static_cast<long long>(sizeof(float)));
}

long long day_reading_bytes(const Day_sources& day) {
    long long bytes = 0;
    for (std::size_t k = 0; k < day.sources.size(); ++k) {
        const Mseed_first_record first = peek_mseed(day.sources[k].path);
        if (!(first.samprate > 0.0))
            return bytes;
        // A file holds its day give or take a record; the next day's file is read as far as
        // reach (a record more). 8192 samples is more than a 4096-byte record holds.
        const double seconds = k == 0 ? 86400.0 : std::clamp(day.reach - 86400.0, 0.0, 86400.0);
        bytes += reading_bytes(static_cast<long long>(std::ceil(first.samprate * seconds)) + 8192,
                               first.sample_bytes);
    }
    return bytes;
}

namespace {

Day_sources find_sources(int year, int doy, const std::string& network, const std::string& station,
                         const std::string& location, const std::string& channel,
                         const Template_file& control, std::ostream& out, double reach,
                         bool quiet) {
    Day_sources day;
    day.reach = reach;
    const Day_file file =
        find_day_file(year, doy, network, station, location, channel, control, out, !quiet);
    day.download_failed = file.download_failed;
    if (file.outcome == Day_file_outcome::not_found)
        return day;
    day.sources.push_back({file.path});
    day.deletion_notice[0] = file.deletion_notice;
    const double midnight = time_to_epoch(year, doy, 0.0);
    if (reach > 86400.0) {
        const Doy_time next = epoch_to_time(static_cast<long>(midnight) + 86400);
        // Without it the day ends at midnight, as it always did: nothing to say.
        const Day_file next_file = find_day_file(next.year, next.doy, network, station, location,
                                                 channel, control, out, false);
        day.download_failed = next_file.download_failed;
        if (next_file.outcome != Day_file_outcome::not_found) {
            day.sources.push_back({next_file.path, (midnight + reach) * 1000000.0});
            day.deletion_notice[1] = next_file.deletion_notice;
        }
    }
    return day;
}

}  // namespace

Day_sources find_day_sources(int year, int doy, const std::string& network,
                             const std::string& station, const std::string& location,
                             const std::string& channel, const Template_file& control,
                             std::ostream& out, double reach) {
    return find_sources(year, doy, network, station, location, channel, control, out, reach, false);
}

Day_sources existing_day_sources(int year, int doy, const std::string& network,
                                 const std::string& station, const std::string& location,
                                 const std::string& channel, const Template_file& control,
                                 double reach) {
    Template_file quiet = control;
    quiet.download_missing = 0;
    std::ostringstream unused;
    return find_sources(year, doy, network, station, location, channel, quiet, unused, reach, true);
}

Decoded_day read_day_sources(const Day_sources& sources, std::ostream& out) {
    Decoded_day day;
    day.download_failed = sources.download_failed;
    if (sources.sources.empty())
        return day;
    day.next_day = sources.sources.size() > 1;
    reserve_heap(static_cast<std::size_t>(day_reading_bytes(sources)));
    std::vector<Mseed_segment> segments = read_mseed_channel(sources.sources);
    for (bool notice : sources.deletion_notice) {
        if (notice)
            out << "Deleting downloaded data (***NOT IMPLEMENTED***)." << std::endl;
    }
    long long non_finite = 0;
    for (Mseed_segment& segment : segments)
        day.segments.push_back(judge_segment(std::move(segment), non_finite));
    if (non_finite > 0) {
        out.flush();
        std::cout.flush();
        std::cerr << sources.sources[0].path << ": " << non_finite
                  << " sample(s) not finite (NaN or infinity), read as missing data" << std::endl;
    }
    day.found = !day.segments.empty();
    return day;
}

Decoded_day read_day(int year, int doy, const std::string& network, const std::string& station,
                     const std::string& location, const std::string& channel,
                     const Template_file& control, std::ostream& out, double reach) {
    return read_day_sources(
        find_day_sources(year, doy, network, station, location, channel, control, out, reach), out);
}

Conditioned_trace condition_window(const Decoded_day& day, int year, int doy, float start,
                                   int length, const Template_file& control, std::ostream& out) {
    return condition(day, nullptr, year, doy, start, length, control, out);
}

Conditioned_trace condition_window(Decoded_day&& day, int year, int doy, float start, int length,
                                   const Template_file& control, std::ostream& out) {
    return condition(day, &day, year, doy, start, length, control, out);
}

std::vector<float> get_data(int year, int doy, float start, std::string network,
                            std::string station, std::string location, std::string channel,
                            int length, Template_file control) {
    if (control.sample_rate <= 0 || length < 0)
        return not_found().samples;  // nothing sensible can be cut out
    Decoded_day day = read_day(year, doy, network, station, location, channel, control, std::cout,
                               window_reach(start, length, control.sample_rate));
    return condition_window(std::move(day), year, doy, start, length, control, std::cout).samples;
}

namespace {

Window_in_progress place(const Decoded_day& day, Decoded_day* release, int year, int doy,
                         float start, int length, const Template_file& control, std::ostream& out) {
    Window_in_progress placed;
    const int fs = control.sample_rate;
    if (!day.found || fs <= 0 || length < 0)
        return placed;
    // Epoch of 00:00:00 UTC of the requested day; day numbers past the year's end roll over.
    const double day_start = time_to_epoch(year, doy, 0.0);

    // Windows away from the day's limits are read with extra data on each side, and 200 samples
    // are cut off each padded side after filtering. Both pads are exactly those 200 samples, so
    // that the first sample returned is the one at start and the window holds length samples at
    // every rate (pads rounded down to whole seconds would shift or shorten it at rates that do
    // not divide 200, and would leave a window shorter than a second empty). A window that
    // reaches the day's end has a trailing pad only when the next day's file gives one.
    placed.cut_leading = start * static_cast<float>(fs) > 200.0f;
    const double window_start =
        placed.cut_leading ? static_cast<double>(start) - static_cast<double>(edge_pad) / fs
                           : start;
    placed.cut_trailing =
        static_cast<int64_t>(length) + edge_pad < int64_t{fs} * 86400 || day.next_day;
    const int64_t wanted = (placed.cut_leading ? edge_pad : 0) + int64_t{length} +
                           (placed.cut_trailing ? edge_pad : 0);
    if (wanted > INT32_MAX)
        return placed;  // beyond what one trace can hold
    out << "Interpolating...";
    placed.window = place_segments(day.segments, day_start, window_start, static_cast<int>(wanted),
                                   fs, release != nullptr ? &release->segments : nullptr);
    out << "interpolated."
        << " Bandpassing...";
    placed.found = true;
    return placed;
}

Conditioned_trace condition(const Decoded_day& day, Decoded_day* release, int year, int doy,
                            float start, int length, const Template_file& control,
                            std::ostream& out) {
    Window_in_progress placed = place(day, release, year, doy, start, length, control, out);
    if (!placed.found)
        return not_found();
    bandpass(placed.window.samples, control.freq_low, control.freq_high, 3,
             static_cast<double>(control.sample_rate));
    return finish_window(std::move(placed), out);
}

}  // namespace

Window_in_progress place_window(Decoded_day&& day, int year, int doy, float start, int length,
                                const Template_file& control, std::ostream& out) {
    return place(day, &day, year, doy, start, length, control, out);
}

Conditioned_trace finish_window(Window_in_progress&& placed, std::ostream& out) {
    if (!placed.found)
        return not_found();
    out << "bandpassed." << std::endl;
    Placed_window& window = placed.window;
    // What is not data stays 0: the filter would fill gaps and padding with its ringing, which
    // the correlation would take for a signal.
    zero_outside(window.samples, window.data);

    Conditioned_trace result{std::move(window.samples), {}};
    if (placed.cut_trailing)
        result.samples.resize(result.samples.size() -
                              std::min<size_t>(edge_pad, result.samples.size()));
    const int cut =
        placed.cut_leading ? std::min<int>(edge_pad, static_cast<int>(result.samples.size())) : 0;
    result.samples.erase(result.samples.begin(), result.samples.begin() + cut);
    const int size = static_cast<int>(result.samples.size());
    for (const Sample_span& span : window.data) {
        const Sample_span kept{std::clamp(span.first - cut, 0, size),
                               std::clamp(span.end - cut, 0, size)};
        if (kept.first < kept.end)
            result.data.push_back(kept);
    }
    return result;
}

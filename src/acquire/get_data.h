// Conditioned waveform windows.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "acquire/segment_placement.h"
#include "control/template_file.h"

// Element 0 of a not-found result: the float nearest to -987654321.
constexpr float not_found_sentinel = -987654336.0f;

// True when v is the one-element not-found result.
inline bool is_not_found(const std::vector<float>& v) {
    return v.empty() || v[0] == not_found_sentinel;
}

// One station channel's day file as read, before any conditioning.
struct Decoded_day {
    bool found = false;  // false: no usable day file, or it held no usable samples
    // The next day's file was found; its records up to the time asked for are among the
    // segments (joined to the day's last one where they continue it).
    bool next_day = false;
    // Downloading the day's file, or the next day's, failed (see Day_file): data may be missing
    // that a later run would have.
    bool download_failed = false;
    std::vector<Day_segment> segments;  // first come first
};

// The files of one station channel's day as found (and downloaded), before they are read.
struct Day_sources {
    std::vector<Mseed_source> sources;  // empty when no usable day file exists
    bool deletion_notice[2] = {false, false};
    double reach = 0.0;            // seconds after midnight read, as read_day's
    bool download_failed = false;  // as Decoded_day's
};

// Bytes the decoded samples of day hold (4 a sample at the file's own rate).
long long decoded_bytes(const Decoded_day& day);

// Bytes that reading samples samples of sample_bytes each (see peek_mseed) takes at its peak:
// the library's block of the whole stretch beside the float copy made from it.
long long reading_bytes(long long samples, int sample_bytes);

// Bytes that reading day's files takes at their own rates (reading_bytes of a whole day from
// the day file, and from the next day's file as far as it is read), as their first records
// tell; 0 when there are none or the first cannot be read as miniSEED. Prints nothing.
long long day_reading_bytes(const Day_sources& day);

// The files read_day reads for the same arguments: finds (or downloads) them, printing the
// download lines on out and a missing day file's line on standard error.
Day_sources find_day_sources(int year, int doy, const std::string& network,
                             const std::string& station, const std::string& location,
                             const std::string& channel, const Template_file& control,
                             std::ostream& out, double reach);

// The files of find_day_sources that exist now, looked up quietly and never downloaded.
Day_sources existing_day_sources(int year, int doy, const std::string& network,
                                 const std::string& station, const std::string& location,
                                 const std::string& channel, const Template_file& control,
                                 double reach);

// Reads the files found by find_day_sources as read_day does (deletion notices on out).
Decoded_day read_day_sources(const Day_sources& day, std::ostream& out);

// A conditioned window and which of its samples are data.
struct Conditioned_trace {
    std::vector<float> samples;  // {not_found_sentinel} when not found
    // Ascending, disjoint spans of samples that are data. Every other sample (between segments,
    // outside the trace, non-finite in the file, long runs of zeros in the file) is exactly 0.
    std::vector<Sample_span> data;
};

// Seconds after 00:00:00 UTC of the window's day up to which condition_window reads samples
// for a window of length samples at fs per second starting start seconds after it (the
// trailing pad included): what read_day must be given as reach.
double window_reach(float start, int length, int fs);

// Finds (or downloads) and reads the day file of one station channel, as get_data does before
// conditioning: prints the download and deletion-notice lines on out, the reader's lines on
// standard error. When reach (seconds after the day's midnight) lies past the day's end, the
// next day's file is looked up (and downloaded) too, and its records that begin before reach
// are read. Returns a record with found false when no usable day file exists or it holds no
// usable samples; a missing or unusable next day's file only leaves next_day false.
Decoded_day read_day(int year, int doy, const std::string& network, const std::string& station,
                     const std::string& location, const std::string& channel,
                     const Template_file& control, std::ostream& out, double reach = 0.0);

// The window of get_data (same arguments) cut from day, which must have been read for the same
// year, doy and codes with a reach of at least window_reach: resampled to control.sample_rate,
// band-passed, the samples that are not data set to 0 again, the pads cut; its progress line
// goes to out. The window is read with 200 samples more on each side, which are cut after
// filtering: before it unless it starts within 200 samples of midnight, after it unless it
// reaches the day's end and the next day's file was not found. Returns samples
// {not_found_sentinel} when day was not found or the rate or length is unusable. The second
// form releases day's samples once they are no longer needed.
Conditioned_trace condition_window(const Decoded_day& day, int year, int doy, float start,
                                   int length, const Template_file& control, std::ostream& out);
Conditioned_trace condition_window(Decoded_day&& day, int year, int doy, float start, int length,
                                   const Template_file& control, std::ostream& out);

// condition_window in two steps, for a caller that band-passes the window itself (several
// together): place_window resamples the window and prints the first part of the progress line;
// the caller then band-passes window.samples with control's band and order 3 (see bandpass);
// finish_window prints the rest of the line, sets the samples that are not data to 0 again and
// cuts the pads. Together they give exactly what condition_window gives. found is false (and
// finish_window gives the not-found result) when day was not found or the rate or length is
// unusable.
struct Window_in_progress {
    bool found = false;
    bool cut_leading = false, cut_trailing = false;
    Placed_window window;
};
Window_in_progress place_window(Decoded_day&& day, int year, int doy, float start, int length,
                                const Template_file& control, std::ostream& out);
Conditioned_trace finish_window(Window_in_progress&& placed, std::ostream& out);

// Samples of one station channel at control.sample_rate, band-passed, for the window of length
// samples starting start seconds after 00:00:00 UTC of day doy of year (a whole day: start 0,
// length sample_rate × 86400); a window that reaches past midnight takes its samples there from
// the next day's file. The day file comes from the archive or a download. Returns the
// one-element vector {not_found_sentinel} when no usable day file exists or it holds no usable
// samples. Prints its progress on standard output; the reader's messages go to standard error.
// The same as read_day followed by condition_window.
std::vector<float> get_data(int year, int doy, float start, std::string network,
                            std::string station, std::string location, std::string channel,
                            int length, Template_file control);

// The per-channel measurements of an event's detections, <event>.channels.csv beside its results
// file: one row per detection and template channel with data there.
#pragma once

#include <string>

#include "scan/channel_measure.h"

// The file's first line, with its "\n".
extern const char channels_header[];

// The channels file of the results file results_name (<event>.txt): <event>.channels.csv.
std::string channels_file_name(const std::string& results_name);

// The codes of a template's station channel as a row names them.
struct Channel_codes {
    std::string network, station, location, channel;
};

// One row (with its "\n"): detection_epoch (the results line's first field), the codes (a
// location "--" written empty; a code holding a comma or quote is quoted), cc, the lag in seconds
// at rate samples per second, the pick time (pick_seconds after midnight of day doy of year) in
// UTC with microseconds, and the amplitude ratio (nan when there is none).
std::string format_channel_row(const std::string& detection_epoch, const Channel_codes& codes,
                               const Channel_measurement& measured, double rate, int year, int doy,
                               double pick_seconds);

// The instant seconds after midnight of day doy of year as "YYYY-MM-DDTHH:MM:SS.ffffffZ",
// rounded to the microsecond (seconds past either end of the day carry into the next dates).
std::string utc_microseconds(int year, int doy, double seconds);

// Appends rows to file_name, printing nothing. Returns true when the file could be opened and
// every row was written.
[[nodiscard]] bool append_channel_rows(const std::string& file_name, const std::string& rows);

// The run's control record and its reader.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "control/outcome.h"

// Everything a run reads from its control file. A plain value record: members are filled by
// parse_template_file and never changed afterwards. Members 20 to 28 are parallel sequences with
// one entry per template line, in file order across all events.
struct Template_file {
    std::string output_dir;  // ends in '/'
    int32_t start_year = 0;
    int32_t start_day = 0;
    int32_t start_reserved = 0;
    int32_t end_year = 0;
    int32_t end_day = 0;
    int32_t end_reserved = 0;
    double template_length = 0.0;  // seconds
    double freq_low = 0.0;         // Hz
    double freq_high = 0.0;        // Hz
    double mad_multiple = 0.0;
    int32_t sample_rate = 0;  // samples per second
    int32_t reserved_int_1 = 0;
    std::string data_dir;  // ends in '/'
    std::string reserved_text;
    int32_t reserved_int_2 = 0;
    int32_t download_missing = 0;
    int32_t keep_downloads = 0;
    std::vector<std::string> event_names;
    std::vector<int32_t> pick_year;
    std::vector<int32_t> pick_day;
    std::vector<double> pick_seconds;
    std::vector<std::string> network;
    std::vector<std::string> station;
    std::vector<std::string> location;
    std::vector<std::string> channel;
    std::vector<int32_t> pick_reserved;
    std::vector<int32_t> pick_event;  // 1-based event number
};

// Parses a control file from a stream (LF or CR LF line ends).
//
// Settings: line 2 (results directory) and line 26 (archive directory) are taken whole, blanks
// around them and a CR trimmed, a '/' added when missing; neither may be empty. The numeric
// lines hold their values as the first words: line 5 and line 8 year, day of year and an
// optional reserved integer; line 11 the template length; line 14 the two band-pass corners;
// line 17 the MAD multiple; line 20 the sample rate (an integer); line 35 the download switch
// and an optional keep-downloads switch (integers). Each value must be a number as a whole word;
// an optional value is absent when its word does not begin like a number (a digit, sign or
// point), and the words after the values are free notes. Lines 23, 29 and 32 are reserved and not
// checked; the other lines up to 37 are labels.
//
// Events from line 38: a name line, one pick per line (year, day of year, seconds of the day,
// network, station, location, channel, an optional reserved integer, then free notes), and a
// line that is blank or holds one character between events. Blank lines at the end add no event.
//
// Fails with one line "Error: line N of the control file: ..." for the first of: a missing
// directory or value, a value that is not a number ("'eight' is not a number"), a pick line that
// cannot be read, an event name that reads as a pick line (a blank line inside an event's picks),
// an empty name followed by picks, or a name that cannot be a file name (holding '/' or a control
// character, or the name of the run record, see run_record.h).
Outcome<Template_file> parse_template_file(std::istream& in);

// The whole text of the named control file. Fails with "Error: Unable to open template file:
// <filename>" when it cannot be opened or read, or is a directory.
Outcome<std::string> read_control_text(const std::string& filename);

// read_control_text followed by parse_template_file; fails with the first one's message.
Outcome<Template_file> read_temp_file(const std::string& filename);

// Number of samples in one template window: sample_rate × template_length (product in double
// precision, the rate taken as a 32-bit float), truncated toward zero. Only meaningful for
// settings that pass check_settings.
int32_t template_sample_count(const Template_file& control);

// Checks the settings that waveform processing depends on, the scan period
// (check_scan_period) and the template lines (check_template_lines). Succeeds when they are
// usable (the settings and lines of a file without templates are not checked, as nothing is
// processed); otherwise fails with one line beginning "Error: " that names the offending setting
// or control-file line and its value.
Status check_settings(const Template_file& control);

// Control-file line number of each template line (entry i for template i), rebuilt from the
// event numbering; 0 for a template whose event numbering does not follow the file's order.
std::vector<long> template_line_numbers(const Template_file& control);

// Checks that the first and last day to scan are days of the years 1 to 9999 (day numbers past
// a year's end count into the next year) and that the last is not before the first. Succeeds
// when they are, or when there is no event and so no day to scan; otherwise fails with one line
// "Error: line N of the control file: ..." naming the setting's line and value.
Status check_scan_period(const Template_file& control);

// Checks every template line: its network, station, location and channel codes become path
// components and URL values, so none may hold '/' or a control character or be "." or "..";
// the pick's day must be a day of the years 1 to 9999. Succeeds when all pass, otherwise fails
// with one line "Error: line N of the control file: ..." for the first offence.
Status check_template_lines(const Template_file& control);

// The run's control record and its reader.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

// Everything a run reads from its control file. A plain value record: members are filled by
// read_temp_file and never changed afterwards. Members 20 to 28 are parallel sequences with one
// entry per template line, in file order across all events.
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

// Parses a control file from a stream. Never fails: missing lines read as empty, unreadable
// numbers leave 0.
Template_file parse_template_file(std::istream& in);

// Reads the named control file. When it cannot be opened or is a directory, prints
// "Error: Unable to open template file: <filename>" on standard output and ends the process
// with status 1.
Template_file read_temp_file(std::string filename);

// Number of samples in one template window: sample_rate × template_length (product in double
// precision, the rate taken as a 32-bit float), truncated toward zero. Only meaningful for
// settings that pass check_settings.
int32_t template_sample_count(const Template_file& control);

// Checks the settings that waveform processing depends on, the scan period
// (check_scan_period) and the template lines (check_template_lines). Returns an empty string
// when they are usable (the settings and lines of a file without templates are not checked,
// as nothing is processed), otherwise one line beginning "Error: " that names the offending
// setting or control-file line and its value (no line end).
std::string check_settings(const Template_file& control);

// Control-file line number of each template line (entry i for template i), rebuilt from the
// event numbering; 0 for a template whose event numbering does not follow the file's order.
std::vector<long> template_line_numbers(const Template_file& control);

// Checks that the first and last day to scan are days of the years 1 to 9999 (day numbers past
// a year's end count into the next year). Returns "" when they are, or when there is no event
// and so no day to scan; otherwise one line "Error: line N of the control file: ..." naming the
// setting's line and value.
std::string check_scan_period(const Template_file& control);

// Checks every template line: its network, station, location and channel codes become path
// components and URL values, so none may hold '/' or a control character or be "." or "..";
// the pick's day must be a day of the years 1 to 9999. Returns "" when all pass, otherwise one
// line "Error: line N of the control file: ..." for the first offence.
std::string check_template_lines(const Template_file& control);

// Appending an event-day's detections to the event's results file.
#pragma once

#include <cstddef>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "control/outcome.h"

// The first field of a results line: the epoch seconds of stack position p on day doy of year
// at rate fs, 3 decimals.
std::string format_detection_time(int year, int doy, float fs, int p);

// One results line (with its "\n"): the detection time of stack position p on day doy of year
// at rate fs (3 decimals), the stack value and the MAD (8 decimals), the template count.
std::string format_result_line(int year, int doy, float fs, int p, float stack_value,
                               float mad_value, int count);

// The results lines (format_result_line) of every match, in order.
std::string format_result_lines(int year, int doy, float fs, const std::vector<int>& matches,
                                const std::vector<float>& stack,
                                const std::vector<int>& stack_count, float mad_value);

// Appends lines to file_name, printing "\nWriting results to file..." and "done." (with a line
// "Unable to open output file <file_name>!" when it cannot be opened, or "Unable to write output
// file <file_name>!" when it could not be written completely) on out. Returns true when every
// line was written.
[[nodiscard]] bool append_lines(const std::string& file_name, const std::string& lines,
                                std::ostream& out);

// Appends one line per match to file_name as append_lines does. Returns true when every line was
// written.
[[nodiscard]] bool append_results(const std::string& file_name, int year, int doy, float fs,
                                  const std::vector<int>& matches, const std::vector<float>& stack,
                                  const std::vector<int>& stack_count, float mad_value,
                                  std::ostream& out);

// The outcome of a run's results files: succeeds when failed_files is empty, otherwise fails with
// "Error: detections are missing from results file(s) <names, comma-separated>: they could not be
// opened or written completely".
Status results_written(const std::set<std::string>& failed_files);

// The outcome of a run's downloads: succeeds when failed_downloads is 0, otherwise fails with
// "Error: <n> day file(s) could not be downloaded (see the lines above); what they hold is
// missing from the results: run vemlo again to fetch them".
Status downloads_complete(std::size_t failed_downloads);

// One outcome of two: success when both succeeded, else the errors, one line each.
Status both(const Status& first, const Status& second);

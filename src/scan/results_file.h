// Appending an event-day's detections to the event's results file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// One results line (with its "\n"): the detection time of stack position p on day doy of year
// at rate fs (3 decimals), the stack value and the MAD (8 decimals), the template count.
std::string format_result_line(int year, int doy, float fs, int p, float stack_value,
                               float mad_value, int count);

// The results lines (format_result_line) of every match, in order.
std::string format_result_lines(int year, int doy, float fs, const std::vector<int>& matches,
                                const std::vector<float>& stack,
                                const std::vector<int>& stack_count, float mad_value);

// Appends lines to file_name, printing "\nWriting results to file..." and "done." (with
// "\nUnable to open output file!" when it cannot be opened, or a line naming the file when it
// could not be written completely) on out. Returns true when every line was written.
bool append_lines(const std::string& file_name, const std::string& lines, std::ostream& out);

// Appends one line per match to file_name, printing "\nWriting results to file..." and
// "done." (with "\nUnable to open output file!" when it cannot be opened, or a line naming the
// file when it could not be written completely) on out. Returns true when every line was
// written.
bool append_results(const std::string& file_name, int year, int doy, float fs,
                    const std::vector<int>& matches, const std::vector<float>& stack,
                    const std::vector<int>& stack_count, float mad_value, std::ostream& out);

#include "scan/results_file.h"

#include <fstream>
#include <iomanip>
#include <sstream>

#include "control/messages.h"
#include "dsp/time_convert.h"

namespace {

// Epoch seconds of stack position p: midnight of the day plus p / fs, the division in single
// precision (late in the day the fraction moves in steps of about 8 ms at 100 per second).
double detection_time(int year, int doy, float fs, int p) {
    // Whole seconds go through the calendar (which carries the day of year into its month),
    // the fraction is added afterwards.
    return time_to_epoch(year, doy, static_cast<double>(static_cast<float>(p) / fs));
}

void write_line(std::ostream& os, int year, int doy, float fs, int p, float stack_value,
                float mad_value, int count) {
    os << format_detection_time(year, doy, fs, p) << " " << std::fixed << std::setprecision(8)
       << static_cast<double>(stack_value) << " " << static_cast<double>(mad_value) << " " << count
       << "\n";
}

}  // namespace

std::string format_detection_time(int year, int doy, float fs, int p) {
    std::ostringstream os;
    os << std::fixed << std::setprecision(3) << detection_time(year, doy, fs, p);
    return os.str();
}

std::string format_result_line(int year, int doy, float fs, int p, float stack_value,
                               float mad_value, int count) {
    std::ostringstream os;
    write_line(os, year, doy, fs, p, stack_value, mad_value, count);
    return os.str();
}

std::string format_result_lines(int year, int doy, float fs, const std::vector<int>& matches,
                                const std::vector<float>& stack,
                                const std::vector<int>& stack_count, float mad_value) {
    std::ostringstream os;
    for (int p : matches) {
        write_line(os, year, doy, fs, p, stack[p], mad_value, stack_count[p]);
    }
    return os.str();
}

bool append_lines(const std::string& file_name, const std::string& lines, std::ostream& out) {
    out << "\nWriting results to file...";
    std::ofstream file(file_name, std::ios::out | std::ios::app);
    if (!file.is_open()) {
        out << "\n" << results_open_failure << " " << file_name << "!\n";
        out << "done.\n";
        return false;
    }
    file << lines;
    // Buffered lines reach the file only on close: a full disk or an I/O error shows up here.
    file.close();
    const bool written = !file.fail();
    if (!written) {
        out << "\n" << results_write_failure << " " << file_name << "!\n";
    }
    out << "done.\n";
    return written;
}

bool append_results(const std::string& file_name, int year, int doy, float fs,
                    const std::vector<int>& matches, const std::vector<float>& stack,
                    const std::vector<int>& stack_count, float mad_value, std::ostream& out) {
    return append_lines(
        file_name, format_result_lines(year, doy, fs, matches, stack, stack_count, mad_value), out);
}

Status results_written(const std::set<std::string>& failed_files) {
    if (failed_files.empty())
        return success();
    std::string names;
    for (const std::string& name : failed_files)
        names += (names.empty() ? "" : ", ") + name;
    return failure("Error: detections are missing from results file(s) " + names +
                   ": they could not be opened or written completely");
}

Status downloads_complete(std::size_t failed_downloads) {
    if (failed_downloads == 0)
        return success();
    return failure("Error: " + std::to_string(failed_downloads) +
                   " day file(s) could not be downloaded (see the lines above); what they hold is "
                   "missing from the results: run vemlo again to fetch them");
}

Status both(const Status& first, const Status& second) {
    if (first.ok() || second.ok())
        return first.ok() ? second : first;
    return failure(*first.error + "\n" + *second.error);
}

#include "scan/results_file.h"

#include <cmath>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace {

// Epoch seconds of stack position p: midnight of the day plus p / fs, the division in single
// precision (late in the day the fraction moves in steps of about 8 ms at 100 per second).
double detection_time(int year, int doy, float fs, int p) {
    const double x = static_cast<double>(static_cast<float>(p) / fs);
    double whole = 0.0;
    const double fraction = std::modf(x, &whole);
    std::tm broken{};
    broken.tm_year = year - 1900;
    broken.tm_mon = 0;
    broken.tm_mday = doy;  // timegm carries the day of year into the right month
    broken.tm_hour = 0;
    broken.tm_min = 0;
    broken.tm_sec = static_cast<int>(whole);
    broken.tm_isdst = 0;
    const std::time_t t = timegm(&broken);
    return static_cast<double>(t) + fraction;
}

void write_line(std::ostream& os, int year, int doy, float fs, int p, float stack_value,
                float mad_value, int count) {
    os << std::fixed << std::setprecision(3) << detection_time(year, doy, fs, p) << " "
       << std::setprecision(8) << static_cast<double>(stack_value) << " "
       << static_cast<double>(mad_value) << " " << count << "\n";
}

}  // namespace

std::string format_result_line(int year, int doy, float fs, int p, float stack_value,
                               float mad_value, int count) {
    std::ostringstream os;
    write_line(os, year, doy, fs, p, stack_value, mad_value, count);
    return os.str();
}

bool append_results(const std::string& file_name, int year, int doy, float fs,
                    const std::vector<int>& matches, const std::vector<float>& stack,
                    const std::vector<int>& stack_count, float mad_value, std::ostream& out) {
    out << "\nWriting results to file...";
    std::ofstream file(file_name, std::ios::out | std::ios::app);
    if (!file.is_open()) {
        out << "\nUnable to open output file!\n";
        out << "done.\n";
        return false;
    }
    for (int p : matches) {
        write_line(file, year, doy, fs, p, stack[p], mad_value, stack_count[p]);
    }
    // Buffered lines reach the file only on close: a full disk or an I/O error shows up here.
    file.close();
    const bool written = !file.fail();
    if (!written) {
        out << "\nUnable to write output file " << file_name << "!\n";
    }
    out << "done.\n";
    return written;
}

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "control/template_file.h"

namespace {

// Lines 1 to 37 hold the settings; the template section starts on line 38.
constexpr int settings_lines = 37;

// Removes one trailing carriage return, so CR LF files read like LF files.
std::string without_cr(std::string line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string with_trailing_slash(std::string line) {
    if (line.empty() || line.back() != '/')
        line += '/';
    return line;
}

// Stream extraction of consecutive values from one line: a value that cannot be read leaves
// its member as it was (0) and nothing after it on the line is read.
struct Value_line {
    std::istringstream in;
    explicit Value_line(const std::string& line) : in(line) {}
    template <typename T>
    Value_line& operator>>(T& member) {
        T value{};
        if (in >> value)
            member = value;
        return *this;
    }
};

void read_template_line(const std::string& line, int32_t event, Template_file& t) {
    int32_t year = 0, day = 0, reserved = 0;
    double seconds = 0.0;
    std::string network, station, location, channel;
    Value_line(line) >> year >> day >> seconds >> network >> station >> location >> channel >>
        reserved;
    t.pick_year.push_back(year);
    t.pick_day.push_back(day);
    t.pick_seconds.push_back(seconds);
    t.network.push_back(network);
    t.station.push_back(station);
    t.location.push_back(location);
    t.channel.push_back(channel);
    t.pick_reserved.push_back(reserved);
    t.pick_event.push_back(event);
}

}  // namespace

Template_file parse_template_file(std::istream& in) {
    Template_file t;
    // Settings: a line past the end of the file reads as an empty line.
    std::string lines[settings_lines + 1];
    for (int n = 1; n <= settings_lines; ++n) {
        std::string line;
        if (std::getline(in, line))
            lines[n] = without_cr(line);
    }

    std::istringstream(with_trailing_slash(lines[2])) >> t.output_dir;
    Value_line(lines[5]) >> t.start_year >> t.start_day >> t.start_reserved;
    Value_line(lines[8]) >> t.end_year >> t.end_day >> t.end_reserved;
    Value_line(lines[11]) >> t.template_length;
    Value_line(lines[14]) >> t.freq_low >> t.freq_high;
    Value_line(lines[17]) >> t.mad_multiple;
    Value_line(lines[20]) >> t.sample_rate;
    Value_line(lines[23]) >> t.reserved_int_1;
    t.data_dir = with_trailing_slash(lines[26]);
    t.reserved_text = lines[29];
    Value_line(lines[32]) >> t.reserved_int_2;
    Value_line(lines[35]) >> t.download_missing >> t.keep_downloads;

    // Template section: event blocks separated by lines of at most one character.
    int32_t event = 0;
    bool next_is_name = true;
    std::string line;
    while (std::getline(in, line)) {
        line = without_cr(line);
        if (next_is_name) {
            t.event_names.push_back(line);
            ++event;
            next_is_name = false;
        } else if (line.size() <= 1) {
            next_is_name = true;
        } else {
            read_template_line(line, event, t);
        }
    }
    return t;
}

Template_file read_temp_file(std::string filename) {
    // A directory opens as a stream on Linux and reads as an empty file; it is no control file.
    struct stat status;
    const bool directory = stat(filename.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    std::ifstream file(filename);
    if (directory || !file) {
        std::cout << "Error: Unable to open template file: " << filename << std::endl;
        std::exit(1);
    }
    return parse_template_file(file);
}

#include "control/run_record.h"

#include <filesystem>

#include <charconv>
#include <sstream>

#include "control/calendar.h"

std::string format_run_record(const std::string& version, const std::string& control_path,
                              const std::string& control_text, const Template_file& control) {
    const long long first = day_number(control.start_year, control.start_day);
    const long long last = day_number(control.end_year, control.end_day);
    char mad[64];
    const auto end = std::to_chars(mad, mad + sizeof mad, control.mad_multiple).ptr;
    std::ostringstream out;
    out << "vemlo run record\nvemlo version: " << version << "\ncontrol file: " << control_path
        << "\nscan period: " << day_label(first) << " to " << day_label(last) << ", "
        << (last < first ? 0 : last - first + 1)
        << " day(s)\nMAD multiple: " << std::string(mad, end) << "\ncontrol file text follows ("
        << control_text.size() << " bytes):\n"
        << control_text;
    return out.str();
}

std::string record_path(const std::string& filename) {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(filename, error);
    return error ? filename : path.lexically_normal().string();
}

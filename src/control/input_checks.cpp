// Checks of what the control file hands to the file system, the download URL and the calendar:
// station channel codes, pick days and the scan period.
#include <cstdint>
#include <sstream>

#include "control/calendar.h"
#include "control/quoted.h"
#include "control/template_file.h"

namespace {

// The control file's first template-section line (the first event name).
constexpr long first_section_line = 38;

// True when day doy of year, with day numbers past either end of the year carried into the
// neighbouring years as everywhere else, is a day of the years 1 to 9999.
bool calendar_day(int32_t year, int32_t doy) {
    const long long day = day_number(year, doy);
    return day >= day_number(1, 1) && day < day_number(10000, 1);
}

// True when code can stand as one path component and one URL value: it holds no '/' and no
// control character, and is neither "." nor "..".
bool safe_code(const std::string& code) {
    if (code == "." || code == "..")
        return false;
    for (const unsigned char c : code)
        if (c == '/' || c < 0x20 || c == 0x7f)
            return false;
    return true;
}

}  // namespace

std::vector<long> template_line_numbers(const Template_file& control) {
    std::vector<long> lines(control.pick_event.size(), 0);
    long line = first_section_line;
    size_t i = 0;
    for (size_t event = 1; event <= control.event_names.size(); ++event) {
        ++line;  // past the event's name
        for (; i < lines.size() && control.pick_event[i] == static_cast<int32_t>(event); ++i)
            lines[i] = line++;
        ++line;  // past the separator
    }
    return lines;
}

Status check_scan_period(const Template_file& control) {
    if (control.event_names.empty())
        return success();  // no event: no day is scanned
    const struct {
        int line;
        const char* name;
        int32_t year, doy;
    } ends[] = {{5, "first", control.start_year, control.start_day},
                {8, "last", control.end_year, control.end_day}};
    for (const auto& end : ends) {
        if (!calendar_day(end.year, end.doy)) {
            std::ostringstream error;
            error << "Error: line " << end.line << " of the control file: the " << end.name
                  << " day to scan, day " << end.doy << " of year " << end.year
                  << ", is not a calendar day of the years 1 to 9999";
            return failure(error.str());
        }
    }
    if (day_number(control.end_year, control.end_day) <
        day_number(control.start_year, control.start_day)) {
        std::ostringstream error;
        error << "Error: line 8 of the control file: the last day to scan, day " << control.end_day
              << " of year " << control.end_year << ", is before the first day, day "
              << control.start_day << " of year " << control.start_year << " (line 5)";
        return failure(error.str());
    }
    return success();
}

Status check_template_lines(const Template_file& control) {
    const std::vector<long> lines = template_line_numbers(control);
    for (size_t i = 0; i < control.pick_year.size(); ++i) {
        std::ostringstream where;
        if (i < lines.size() && lines[i] > 0)
            where << "Error: line " << lines[i] << " of the control file: ";
        else
            where << "Error: template " << i + 1 << " of the control file: ";
        const std::pair<const char*, const std::vector<std::string>*> codes[] = {
            {"network", &control.network},
            {"station", &control.station},
            {"location", &control.location},
            {"channel", &control.channel}};
        for (const auto& [kind, values] : codes) {
            if (i < values->size() && !safe_code((*values)[i]))
                return failure(where.str() + kind + " code " + quoted((*values)[i]) +
                               " must not hold '/' or control characters, nor be \".\" or \"..\"");
        }
        const int32_t doy = i < control.pick_day.size() ? control.pick_day[i] : 0;
        if (!calendar_day(control.pick_year[i], doy)) {
            where << "the pick's day " << doy << " of year " << control.pick_year[i]
                  << " is not a calendar day of the years 1 to 9999";
            return failure(where.str());
        }
    }
    return success();
}

#include <cctype>

#include "acquire/day_file.h"
#include "dsp/time_convert.h"

namespace {

// Two digits for months and days of month.
std::string two_digits(int value) {
    return (value <= 9 ? "0" : "") + std::to_string(value);
}

// code as a URL query value: letters, digits and "-._~" as they are, every other byte as %XX,
// so that no code can end its parameter ('&'), the query ('#') or add one.
std::string url_value(const std::string& code) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : code) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace

const char* fdsn_base_url() {
    return VEMLO_FDSN_BASE_URL;
}

std::vector<std::string> download_command(const std::string& base_url, const std::string& network,
                                          const std::string& station, const std::string& location,
                                          const std::string& channel, int year, int doy,
                                          const std::string& path, const std::string& log_path) {
    // The day the file is named after; day numbers past the year's end roll over.
    const Calendar_time date = doy_to_day(year, doy, 0.0);
    const std::string day =
        std::to_string(date.year) + "-" + two_digits(date.month) + "-" + two_digits(date.day);
    // The query asks for the whole UTC day; the blank after the end time belongs to the URL.
    std::string url = base_url + "fdsnws/dataselect/1/query?net=" + url_value(network) +
                      "&sta=" + url_value(station) + "&loc=" + url_value(location) +
                      "&cha=" + url_value(channel) + "&starttime=" + day +
                      "T00:00:00&endtime=" + day + "T23:59:59.999 ";
    return {"wget", url, "--no-verbose", "--server-response", "-o", log_path, "-O", path};
}

Outcome<Child_status> run_download(const std::vector<std::string>& argv) {
    Child_options options;
    options.null_input = false;
    // wget's report in English, as it is read back (LANGUAGE sets the messages' language
    // alone: a C locale would also make wget re-encode the URL).
    options.environment = {"LANGUAGE=en"};
    return run_child(argv, options);
}

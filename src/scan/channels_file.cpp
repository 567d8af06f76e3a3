#include "scan/channels_file.h"

#include <cmath>
#include <cstdio>
#include <fstream>

#include "dsp/time_convert.h"

const char channels_header[] =
    "detection_epoch_s,network,station,location,channel,cc,lag_s,pick_time_utc,"
    "amplitude_ratio\n";

namespace {

// A CSV field: as it is, or quoted (quotes doubled) when it holds a comma, quote or line end.
std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// value with the printf format, or "nan" for a value that is not a number.
std::string number(const char* format, double value) {
    if (std::isnan(value))
        return "nan";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string channels_file_name(const std::string& results_name) {
    const std::string stem =
        results_name.size() >= 4 && results_name.compare(results_name.size() - 4, 4, ".txt") == 0
            ? results_name.substr(0, results_name.size() - 4)
            : results_name;
    return stem + ".channels.csv";
}

std::string format_channel_row(const std::string& detection_epoch, const Channel_codes& codes,
                               const Channel_measurement& measured, double rate, int year, int doy,
                               double pick_seconds) {
    return detection_epoch + "," + csv_field(codes.network) + "," + csv_field(codes.station) + "," +
           csv_field(codes.location == "--" ? "" : codes.location) + "," +
           csv_field(codes.channel) + "," + number("%.6f", measured.cc) + "," +
           number("%.7f", measured.lag / rate) + "," + utc_microseconds(year, doy, pick_seconds) +
           "," + number("%.7g", measured.ratio) + "\n";
}

std::string utc_microseconds(int year, int doy, double seconds) {
    const long long us = std::llround(seconds * 1e6);
    long long whole = us / 1000000, fraction = us % 1000000;
    if (fraction < 0) {
        fraction += 1000000;
        whole -= 1;
    }
    const Calendar_time t = doy_to_day(year, doy, static_cast<double>(whole));
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", t.year, t.month,
                  t.day, t.hour, t.minute, static_cast<int>(t.second), fraction);
    return text;
}

bool append_channel_rows(const std::string& file_name, const std::string& rows) {
    std::ofstream file(file_name, std::ios::out | std::ios::app | std::ios::binary);
    if (!file.is_open())
        return false;
    file << rows;
    file.close();  // buffered rows reach the file here: a full disk shows now
    return !file.fail();
}

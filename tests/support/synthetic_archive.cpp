#include "support/synthetic_archive.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "support/mseed_writer.h"
#include "support/temp_dir.h"

std::vector<int32_t> synthetic_day(int fs, uint32_t seed, const std::vector<Wavelet>& wavelets) {
    std::vector<int32_t> counts(fs * 86400);
    for (size_t i = 0; i < counts.size(); ++i) {
        double value = 0.0;
        for (int k = 0; k < 4; ++k)
            value += ((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0 - 0.5;
        value *= 173.0;
        for (const Wavelet& w : wavelets) {
            const double t = double(i) / fs - w.seconds, u = t / w.scale;
            if (u >= 0 && u <= 9)
                value += 2000 * w.amplitude * u * std::exp(1 - u) *
                         std::sin(2 * M_PI * w.frequency * t + 0.4);
        }
        counts[i] = static_cast<int32_t>(std::lround(value));
    }
    return counts;
}

void write_day_file(const std::string& archive, const std::string& station,
                    const std::string& channel, int doy, int fs, const std::vector<int32_t>& counts,
                    double from) {
    const std::string folder = archive + "/" + station + "/2013";
    std::filesystem::create_directories(folder);
    const std::string day = std::to_string(1000 + doy).substr(1);
    write_mseed_int(folder + "/" + station + ".XX.00." + channel + ".2013." + day,
                    {"XX", station, "00", channel, double(fs), day_start_us(2013, doy, from), 8192},
                    counts);
}

std::string control_text(const Control& c) {
    // Each value under a line naming it, then a blank line: values on lines 5, 8, ..., 35.
    const std::string names[] = {"start",        "end",      "length",       "band",
                                 "mad multiple", "rate",     "reserved",     "archive",
                                 "reserved",     "reserved", "download keep"};
    const std::string values[] = {c.start, c.end,     c.length, c.band, c.mad,     c.rate,
                                  "0",     c.archive, "",       "0",    c.download};
    std::string text = c.label + "\n" + c.output + "\n\n";
    for (int k = 0; k < 11; ++k)
        text += names[k] + "\n" + values[k] + "\n\n";
    return text + "templates\n" + c.templates;
}

std::vector<std::array<double, 4>> read_results(const std::string& path) {
    std::istringstream in(read_file(path));
    std::vector<std::array<double, 4>> lines;
    for (double time, value, mad, count; in >> time >> value >> mad >> count;)
        lines.push_back({time, value, mad, count});
    return lines;
}

// Synthetic day files in a scratch archive, and the control files of whole runs over them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// 2000 amplitude (t/scale) e^(1 - t/scale) sin(2 pi frequency t + 0.4) from `seconds` on.
struct Wavelet {
    double seconds, amplitude, frequency, scale = 1.0;
};

// A day at fs/s: noise from seed (standard deviation about 100 counts) plus the wavelets.
std::vector<int32_t> synthetic_day(int fs, uint32_t seed, const std::vector<Wavelet>& wavelets);

// Appends counts from `from` s after midnight of day doy of 2013 to its day file in archive.
void write_day_file(const std::string& archive, const std::string& station,
                    const std::string& channel, int doy, int fs, const std::vector<int32_t>& counts,
                    double from = 0.0);

// The settings of a control file and its template section.
struct Control {
    std::string label = "results", output = "out", start = "2013 45 0", end = "2013 45 0",
                length = "10", band = "0.5 3", mad = "8", rate = "10", archive = "archive",
                templates, download = "0 1";
};
std::string control_text(const Control& c);

// Results lines: epoch seconds, mean correlation, MAD, templates.
std::vector<std::array<double, 4>> read_results(const std::string& path);

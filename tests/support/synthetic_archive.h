// Synthetic day files in a scratch archive, and the control files of whole runs over them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// amplitude * 2000 * (t/scale) e^(1 - t/scale) sin(2 pi frequency t + 0.4), from `seconds`
// after midnight for 9 * scale seconds.
struct Wavelet {
    double seconds, amplitude, frequency, scale = 1.0;
};

// A day at fs samples per second: noise from seed (a sum of four uniforms, standard deviation
// about 100 counts) plus the wavelets.
std::vector<int32_t> synthetic_day(int fs, uint32_t seed, const std::vector<Wavelet>& wavelets);

// Appends counts from `from` seconds after midnight of day doy of 2013 to
// archive/STATION/2013/STATION.XX.00.CHANNEL.2013.DOY, making the folders; a second call on the
// same file adds a segment.
void write_day_file(const std::string& archive, const std::string& station,
                    const std::string& channel, int doy, int fs, const std::vector<int32_t>& counts,
                    double from = 0.0);

// The settings of a control file, each on its line, and the template section.
struct Control {
    std::string label = "results", output = "out", start = "2013 45 0", end = "2013 45 0",
                length = "10", band = "0.5 3", mad = "8", rate = "10", archive = "archive",
                templates, download = "0 1";
};
std::string control_text(const Control& c);

// The lines of a results file: epoch seconds, mean correlation, MAD, templates.
std::vector<std::array<double, 4>> read_results(const std::string& path);

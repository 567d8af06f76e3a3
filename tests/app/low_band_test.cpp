// A run in a low band finds the repeats of a quake, and a band that cannot be filtered stably at
// the run's rate stops the run before any work. At 10 samples per second, 0.05-0.1 Hz is the
// same digital filter as 0.5-1 Hz at 100 (the corners are the same fractions of the rate), at a
// tenth of the samples.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "support/mseed_writer.h"
#include "support/temp_dir.h"

namespace {

constexpr int fs = 10, n = fs * 86400;

// {first arrival in seconds, amplitude}: the template quake and two repeats.
const double quakes[][2] = {{7200, 1.0}, {30000, 0.6}, {61000, 1.4}};

// Noise (sum of four uniforms, standard deviation about 100 counts) and a 0.07 Hz wavelet of
// about 200 s for every quake.
std::vector<int32_t> day_counts() {
    std::vector<int32_t> counts(n);
    uint32_t state = 2024;
    for (int i = 0; i < n; ++i) {
        double value = 0.0;
        for (int k = 0; k < 4; ++k)
            value += ((state = state * 1664525u + 1013904223u) >> 8) / 16777216.0 - 0.5;
        value *= 173.0;
        for (const auto& q : quakes) {
            const double t = double(i) / fs - q[0];
            if (t >= 0 && t <= 200)
                value += 3000 * q[1] * (t / 30) * std::exp(1 - t / 30) *
                         std::sin(2 * M_PI * 0.07 * t + 0.4);
        }
        counts[i] = static_cast<int32_t>(std::lround(value));
    }
    return counts;
}

std::string control_text(const std::string& band) {
    return "results\nout\n\nstart\n2013 45 0\n\nend\n2013 45 0\n\nlength\n200\n\nband\n" + band +
           "\n\nmad multiple\n5.5\n\nrate\n10\n\nreserved\n0\n\narchive\narchive\n\nreserved\n\n\n"
           "reserved\n0\n\ndownload keep\n0 1\n\ntemplates\nquake\n2013 45 7180 XX S1 00 HHZ 0\n";
}

}  // namespace

TEST(LowBand, FindsTheRepeatsAndRefusesABandItCannotFilter) {
    Temp_dir dir;
    const std::string folder = dir.path + "/archive/S1/2013";
    ASSERT_EQ(run_program({"mkdir", "-p", folder}).status, 0);
    write_mseed_int(folder + "/S1.XX.00.HHZ.2013.045",
                    {"XX", "S1", "00", "HHZ", fs, day_start_us(2013, 45), 8192}, day_counts());

    write_file(dir.path + "/low.txt", control_text("0.05 0.1"));
    const Run_result run = run_program({VEMLO_BINARY, "low.txt"}, dir.path);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::istringstream results(read_file(dir.path + "/out/quake.txt"));
    std::vector<std::vector<double>> lines;
    for (double time, value, mad, count; results >> time >> value >> mad >> count;)
        lines.push_back({time, value, mad, count});
    // The template starts 20 s before the quake; so does every match.
    ASSERT_EQ(lines.size(), 3u) << run.out;
    const double midnight = day_start_us(2013, 45) / 1e6;
    for (size_t k = 0; k < lines.size(); ++k) {
        EXPECT_NEAR(lines[k][0] - midnight, quakes[k][0] - 20, 1.0 / fs) << "line " << k;
        EXPECT_GT(lines[k][1], 0.95) << "line " << k;
        EXPECT_GT(lines[k][2], 0.0) << "line " << k;  // a finite, non-zero spread
        EXPECT_LT(lines[k][2] * 5.5, 0.95) << "line " << k;
    }

    // 0.01-0.02 Hz is a band the filter design cannot hold at 10 samples per second.
    write_file(dir.path + "/narrow.txt", control_text("0.01 0.02"));
    const Run_result refused = run_program({VEMLO_BINARY, "narrow.txt"}, dir.path);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("\nError: the band-pass from 0.01 to 0.02 Hz cannot be applied "
                               "stably at 10 samples per second; use a wider or higher band, "
                               "or a lower sample_rate\n"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.out.find("Creating"), std::string::npos);
}

// A run in a low band finds the repeats of a quake, and a band that cannot be filtered stably at
// the run's rate stops the run before any work. At 10 samples per second, 0.05-0.1 Hz is the
// same digital filter as 0.5-1 Hz at 100 (the corners are the same fractions of the rate), at a
// tenth of the samples.
#include <gtest/gtest.h>

#include "support/mseed_writer.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

TEST(LowBand, FindsTheRepeatsAndRefusesABandItCannotFilter) {
    Temp_dir dir;
    // The template quake and two repeats: 0.07 Hz wavelets rising over 30 s.
    const std::vector<Wavelet> quakes = {
        {7200, 1.5, 0.07, 30}, {30000, 0.9, 0.07, 30}, {61000, 2.1, 0.07, 30}};
    write_day_file(dir.path + "/archive", "S1", "HHZ", 45, 10, synthetic_day(10, 2024, quakes));
    Control control;
    control.length = "200", control.band = "0.05 0.1", control.mad = "5.5";
    control.templates = "quake\n2013 45 7180 XX S1 00 HHZ 0\n";
    write_file(dir.path + "/low.txt", control_text(control));
    const Run_result run = run_program({VEMLO_BINARY, "low.txt"}, dir.path);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    // The template starts 20 s before the quake; so does every match.
    const auto lines = read_results(dir.path + "/out/quake.txt");
    ASSERT_EQ(lines.size(), 3u) << run.out;
    for (size_t k = 0; k < lines.size(); ++k) {
        EXPECT_NEAR(lines[k][0] - day_start_us(2013, 45) / 1e6, quakes[k].seconds - 20, 0.1) << k;
        EXPECT_GT(lines[k][1], 0.95) << k;
        EXPECT_GT(lines[k][2], 0.0) << k;  // a finite, non-zero spread
        EXPECT_LT(lines[k][2] * 5.5, 0.95) << k;
    }

    // 0.01-0.02 Hz is a band the filter design cannot hold at 10 samples per second.
    control.band = "0.01 0.02";
    write_file(dir.path + "/narrow.txt", control_text(control));
    const Run_result refused = run_program({VEMLO_BINARY, "narrow.txt"}, dir.path);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("\nError: the band-pass from 0.01 to 0.02 Hz cannot be applied "
                               "stably at 10 samples per second; use a wider or higher band, "
                               "or a lower sample_rate\n"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.out.find("Creating"), std::string::npos);
    // vemlo-batch refuses it before making any chunk.
    const Run_result batch = run_program({VEMLO_BATCH_BINARY, "narrow.txt"}, dir.path);
    EXPECT_EQ(batch.status, 1);
    EXPECT_EQ(batch.out.rfind("Error: the band-pass from 0.01 to 0.02 Hz", 0), 0u) << batch.out;
}

// A run in a low band at a rate far above it (0.1-0.2 Hz at 40 samples per second, a band of
// tremor studies) finds the repeats of a quake, and a band too far below the rate for any
// filter in double precision stops the run before any work.
#include <gtest/gtest.h>

#include "support/mseed_writer.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

TEST(LowBand, FindsTheRepeatsAndRefusesABandItCannotFilter) {
    Temp_dir dir;
    // The template quake and two repeats: 0.14 Hz wavelets rising over 10 s.
    const std::vector<Wavelet> quakes = {
        {7200, 1.5, 0.14, 10}, {30000, 0.9, 0.14, 10}, {61000, 2.1, 0.14, 10}};
    write_day_file(dir.path + "/archive", "S1", "HHZ", 45, 40, synthetic_day(40, 2024, quakes));
    Control control;
    control.length = "100", control.band = "0.1 0.2", control.mad = "5.5", control.rate = "40";
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

    // Corners of a millionth of a hertz are beyond the filter at 40 samples per second.
    control.band = "1e-06 2e-06";
    write_file(dir.path + "/narrow.txt", control_text(control));
    const Run_result refused = run_program({VEMLO_BINARY, "narrow.txt"}, dir.path);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("\nError: the band-pass from 1e-06 to 2e-06 Hz cannot be applied "
                               "stably at 40 samples per second; use a wider or higher band, "
                               "or a lower sample_rate\n"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.out.find("Creating"), std::string::npos);
    // vemlo-batch refuses it before making any chunk.
    const Run_result batch = run_program({VEMLO_BATCH_BINARY, "narrow.txt"}, dir.path);
    EXPECT_EQ(batch.status, 1);
    EXPECT_EQ(batch.out.rfind("Error: the band-pass from 1e-06 to 2e-06 Hz", 0), 0u) << batch.out;
}

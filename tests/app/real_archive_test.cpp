// Whole runs on archives as real networks leave them: zero-filled telemetry gaps, events in the
// last seconds of a day, detections the 30-second thinning must tell apart to the sample, and a
// low band at a rate far above it.
#include <gtest/gtest.h>

#include "support/mseed_writer.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

constexpr int fs = 10;

// The lines of event's results file in results, times in seconds after midnight of day doy of
// 2013.
std::vector<std::array<double, 4>> day_lines(const std::string& results, const std::string& event,
                                             int doy) {
    std::vector<std::array<double, 4>> lines = read_results(results + "/" + event + ".txt");
    for (auto& line : lines)
        line[0] -= day_start_us(2013, doy) / 1e6;
    return lines;
}

}  // namespace

// A noise day with zero-filled gaps of 1 h, 10 min and 2 min on S1: neither a one-template event
// on S1 nor a three-station event finds anything in them (before, the filter's ringing in the
// gaps gave detections up to 1.0; that zero runs stay 0 and are no data the acquire tests check
// to the sample). Two noise draws.
TEST(RealArchive, ZeroFilledGapsGiveNoDetections) {
    const std::pair<int, int> gaps[] = {{20000, 23600}, {40000, 40600}, {60000, 60120}};
    for (const uint32_t seed : {1u, 4u}) {
        Temp_dir dir;
        for (const char* station : {"S1", "S2", "S3"}) {
            std::vector<int32_t> counts = synthetic_day(fs, seed * 100 + station[1], {});
            if (station[1] == '1')
                for (const auto& [from, to] : gaps)
                    std::fill(counts.begin() + from * fs, counts.begin() + to * fs, 0);
            write_day_file(dir.path + "/archive", station, "HHZ", 45, fs, counts);
        }
        Control c;
        c.templates =
            "one\n2013 45 3600 XX S1 00 HHZ 0\n\nthree\n2013 45 7000 XX S1 00 HHZ 0\n"
            "2013 45 7001 XX S2 00 HHZ 0\n2013 45 7002 XX S3 00 HHZ 0\n";
        write_file(dir.path + "/control.txt", control_text(c));
        const Run_result run = run_program({VEMLO_BINARY, "control.txt"}, dir.path);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        // Each event finds itself and nothing else.
        for (const auto& [event, seconds] : {std::pair{"one", 3600}, {"three", 7000}}) {
            const auto lines = day_lines(dir.path + "/out", event, 45);
            ASSERT_EQ(lines.size(), 1u) << event << " seed " << seed << "\n" << run.out;
            EXPECT_NEAR(lines[0][0], seconds, 1e-3);
            EXPECT_GT(lines[0][1], 0.9999);
        }
    }
}

// An event at 86396 s, whose templates run past midnight, and one whose moveouts cross it: both
// find themselves on the day they belong to, whether the scan period ends with that day or not.
TEST(RealArchive, EventsAtMidnightFindThemselves) {
    Temp_dir dir;
    const std::string stations[] = {"S1", "S2", "S3"};
    const double frequencies[] = {1.2, 1.6, 2.1};
    // First arrivals at S1, S2 and S3, in seconds after midnight of day 45.
    const double late[] = {86396.0, 86397.5, 86399.0}, across[] = {86390.0, 86398.0, 86405.0};
    for (int s = 0; s < 3; ++s) {
        for (int doy : {45, 46}) {
            const double shift = (doy - 45) * 86400.0;
            write_day_file(dir.path + "/archive", stations[s], "HHZ", doy, fs,
                           synthetic_day(fs, 77 + 10 * s + doy,
                                         {{late[s] - shift, 1.0, frequencies[s]},
                                          {across[s] - shift, 0.8, frequencies[2 - s]}}));
        }
    }
    auto pick = [&](int s, double seconds) {
        const int doy = seconds < 86400 ? 45 : 46;
        return "2013 " + std::to_string(doy) + " " + std::to_string(seconds - (doy - 45) * 86400) +
               " XX " + stations[s] + " 00 HHZ 0\n";
    };
    Control c;
    c.templates = "late\n" + pick(0, late[0]) + pick(1, late[1]) + pick(2, late[2]) + "\nacross\n" +
                  pick(0, across[0]) + pick(1, across[1]) + pick(2, across[2]);
    for (const std::string end : {"2013 45 0", "2013 46 0"}) {
        c.end = end;
        c.output = "out" + end.substr(5, 2);
        write_file(dir.path + "/control.txt", control_text(c));
        const Run_result run = run_program({VEMLO_BINARY, "control.txt"}, dir.path);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
    }
    // Scanning day 45 alone or with day 46 gives the same lines for day 45.
    for (const std::string event : {"late", "across"}) {
        const std::string alone = read_file(dir.path + "/out45/" + event + ".txt");
        const std::string both = read_file(dir.path + "/out46/" + event + ".txt");
        EXPECT_EQ(both.substr(0, alone.size()), alone) << event;
    }

    // Each finds itself once with every template, at the first arrival and with the value of
    // samples aligned across midnight (a day trace or template cut, or shifted by a sample,
    // there would lose a template or the match).
    for (const auto& [event, arrival] : {std::pair{"late", late[0]}, {"across", across[0]}}) {
        const auto lines = day_lines(dir.path + "/out45", event, 45);
        ASSERT_EQ(lines.size(), 1u) << event;
        EXPECT_NEAR(lines[0][0], arrival, 1e-3) << event;
        EXPECT_EQ(lines[0][3], 3) << event;
        EXPECT_GT(lines[0][1], 0.999) << event;
    }
}

// Pulses at 10 samples per second have a single sharp correlation peak: a weaker one 29.9 s
// after a stronger one is suppressed, one 30.0 s after is kept.
TEST(RealArchive, DetectionsAreThirtySecondsApartToTheSample) {
    Temp_dir dir;
    // {seconds, amplitude, frequency, scale}: pulses of a few samples.
    const std::vector<Wavelet> pulses = {{3600, 30, 2, 0.05},
                                         {20000, 30, 2, 0.05},
                                         {20029.9, 12, 2, 0.05},
                                         {50000, 30, 2, 0.05},
                                         {50030, 12, 2, 0.05}};
    write_day_file(dir.path + "/archive", "S1", "HHZ", 45, fs, synthetic_day(fs, 5, pulses));
    Control c;
    c.templates = "pulse\n2013 45 3599 XX S1 00 HHZ 0\n";
    write_file(dir.path + "/control.txt", control_text(c));
    const Run_result run = run_program({VEMLO_BINARY, "control.txt"}, dir.path);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const auto lines = day_lines(dir.path + "/out", "pulse", 45);
    const double expected[] = {3599, 19999, 49999, 50029};
    ASSERT_EQ(lines.size(), 4u) << run.out;
    for (size_t k = 0; k < 4; ++k)
        EXPECT_NEAR(lines[k][0], expected[k], 1e-3) << k;
}

// A run in a low band at a rate far above it (0.1-0.2 Hz at 40 samples per second, a band of
// tremor studies) finds the repeats of a quake, and a band too far below the rate for any
// filter in double precision stops the run before any work.
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
    const auto lines = day_lines(dir.path + "/out", "quake", 45);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    for (size_t k = 0; k < lines.size(); ++k) {
        EXPECT_NEAR(lines[k][0], quakes[k].seconds - 20, 0.1) << k;
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

// Whole runs on archives as real networks leave them: zero-filled gaps, events at midnight, the
// 30-second thinning to the sample, and a low band at a rate far above it.
#include <gtest/gtest.h>

#include <map>

#include "support/mseed_writer.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

constexpr int fs = 10;

// Runs vemlo on control c in dir; each event's lines, times in seconds after midnight of day 45.
std::map<std::string, std::vector<std::array<double, 4>>> run_lines(
    const std::string& dir, const Control& c, const std::vector<std::string>& events,
    std::string* console = nullptr) {
    write_file(dir + "/control.txt", control_text(c));
    const Run_result run = run_program({VEMLO_BINARY, "control.txt"}, dir);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    if (console != nullptr)
        *console = run.out;
    std::map<std::string, std::vector<std::array<double, 4>>> lines;
    for (const std::string& event : events)
        for (auto line : read_results(dir + "/" + c.output + "/" + event + ".txt")) {
            line[0] -= day_start_us(2013, 45) / 1e6;
            lines[event].push_back(line);
        }
    return lines;
}

}  // namespace

// Gaps of 1 h, 10 min and 2 min zero-filled on S1: a one- and a three-station event find only
// themselves (the filter's ringing in the gaps once gave detections); an event picked in S1's gap
// makes no template there and finds itself with the other two, undiluted. On S4, pulses a few
// samples long: a weaker one 29.9 s after a stronger one is suppressed, one 30.0 s after is kept.
TEST(RealArchive, ZeroFilledGapsAndThirtySecondsApartToTheSample) {
    Temp_dir dir;
    for (const char* station : {"S1", "S2", "S3"}) {
        std::vector<int32_t> counts = synthetic_day(fs, 400 + station[1], {});
        if (station[1] == '1')
            for (const auto& [from, to] : {std::pair{20000, 23600}, {40000, 40600}, {60000, 60120}})
                std::fill(counts.begin() + from * fs, counts.begin() + to * fs, 0);
        write_day_file(dir.path + "/archive", station, "HHZ", 45, fs, counts);
    }
    write_day_file(dir.path + "/archive", "S4", "HHZ", 45, fs,
                   synthetic_day(fs, 5,
                                 {{3600, 30, 2, 0.05},
                                  {20000, 30, 2, 0.05},
                                  {20029.9, 12, 2, 0.05},
                                  {50000, 30, 2, 0.05},
                                  {50030, 12, 2, 0.05}}));
    Control c;
    c.templates =
        "one\n2013 45 3600 XX S1 00 HHZ 0\n\nthree\n2013 45 7000 XX S1 00 HHZ 0\n"
        "2013 45 7001 XX S2 00 HHZ 0\n2013 45 7002 XX S3 00 HHZ 0\n\n"
        "pulse\n2013 45 3599 XX S4 00 HHZ 0\n\ngap\n2013 45 21000 XX S1 00 HHZ 0\n"
        "2013 45 21001 XX S2 00 HHZ 0\n2013 45 21002 XX S3 00 HHZ 0\n";
    std::string console;
    auto found = run_lines(dir.path, c, {"one", "three", "pulse", "gap"}, &console);
    EXPECT_NE(console.find("Data was not found for template #6 (2013 45 21000 XX S1 00 HHZ)\n"),
              std::string::npos);
    for (const auto& [event, seconds] : {std::pair{"one", 3600}, {"three", 7000}, {"gap", 21000}}) {
        ASSERT_EQ(found[event].size(), 1u) << event;
        EXPECT_NEAR(found[event][0][0], seconds, 1e-3);
        EXPECT_GT(found[event][0][1], 0.9999);
    }
    const double expected[] = {3599, 19999, 49999, 50029};
    ASSERT_EQ(found["pulse"].size(), 4u);
    for (size_t k = 0; k < 4; ++k)
        EXPECT_NEAR(found["pulse"][k][0], expected[k], 1e-3) << k;
}

// An event at 86396 s and one whose moveouts cross midnight find themselves with every template,
// whether the scan ends with day 45 or day 46.
TEST(RealArchive, EventsAtMidnightFindThemselves) {
    Temp_dir dir;
    const double late[] = {86396.0, 86397.5, 86399.0}, across[] = {86390.0, 86398.0, 86405.0};
    const double frequencies[] = {1.2, 1.6, 2.1};
    Control c;
    std::string picks[2];
    for (int s = 0; s < 3; ++s) {
        const std::string station = "S" + std::to_string(s + 1);
        for (int doy : {45, 46})
            write_day_file(
                dir.path + "/archive", station, "HHZ", doy, fs,
                synthetic_day(fs, 77 + 10 * s + doy,
                              {{late[s] - (doy - 45) * 86400.0, 1.0, frequencies[s]},
                               {across[s] - (doy - 45) * 86400.0, 0.8, frequencies[2 - s]}}));
        for (int e = 0; e < 2; ++e) {
            const double at = e == 0 ? late[s] : across[s];
            const int doy = at < 86400 ? 45 : 46;
            picks[e] += "2013 " + std::to_string(doy) + " " +
                        std::to_string(at - (doy - 45) * 86400) + " XX " + station + " 00 HHZ 0\n";
        }
    }
    c.templates = "late\n" + picks[0] + "\nacross\n" + picks[1];
    for (const char* end : {"2013 45 0", "2013 46 0"}) {
        c.end = end, c.output = std::string("out") + end[6];
        auto found = run_lines(dir.path, c, {"late", "across"});
        for (const auto& [event, arrival] : {std::pair{"late", late[0]}, {"across", across[0]}}) {
            const auto& lines = found[event];
            ASSERT_EQ(lines.size(), end[6] == '5' ? 1u : lines.size()) << event;
            ASSERT_GE(lines.size(), 1u) << event << end;
            EXPECT_NEAR(lines[0][0], arrival, 1e-3) << event << end;
            EXPECT_EQ(lines[0][3], 3) << event << end;
            EXPECT_GT(lines[0][1], 0.999) << event << end;
        }
    }
}

// 0.1-0.2 Hz at 40 samples per second finds the quake's repeats (templates start 20 s early).
TEST(LowBand, FindsTheRepeatsAndRefusesABandItCannotFilter) {
    Temp_dir dir;
    const std::vector<Wavelet> quakes = {
        {7200, 1.5, 0.14, 10}, {30000, 0.9, 0.14, 10}, {61000, 2.1, 0.14, 10}};
    write_day_file(dir.path + "/archive", "S1", "HHZ", 45, 40, synthetic_day(40, 2024, quakes));
    Control c;
    c.length = "100", c.band = "0.1 0.2", c.mad = "5.5", c.rate = "40";
    c.templates = "quake\n2013 45 7180 XX S1 00 HHZ 0\n";
    const auto lines = run_lines(dir.path, c, {"quake"})["quake"];
    ASSERT_EQ(lines.size(), 3u);
    for (size_t k = 0; k < lines.size(); ++k) {
        EXPECT_NEAR(lines[k][0], quakes[k].seconds - 20, 0.1) << k;
        EXPECT_GT(lines[k][1], 0.95) << k;
        EXPECT_GT(lines[k][2], 0.0) << k;  // a finite, non-zero spread
        EXPECT_LT(lines[k][2] * 5.5, 0.95) << k;
    }
    c.band = "1e-06 2e-06";  // corners beyond any filter at this rate stop the run first
    write_file(dir.path + "/control.txt", control_text(c));
    const Run_result refused = run_program({VEMLO_BINARY, "control.txt"}, dir.path);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("Error: the band-pass from 1e-06 to 2e-06 Hz cannot be applied "
                               "stably at 40 samples per second"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.out.find("Creating"), std::string::npos);
}
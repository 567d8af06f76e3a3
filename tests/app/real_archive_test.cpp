// Whole runs on archives as real networks leave them: zero-filled telemetry gaps, events in the
// last seconds of a day, and detections the 30-second thinning must tell apart to the sample.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>

#include "acquire/get_data.h"
#include "control/template_file.h"
#include "support/mseed_writer.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

constexpr int fs = 10, n = fs * 86400, m = 100;  // 10-second templates

// The lines of event's results file in results, times in seconds after midnight of day doy of
// 2013.
std::vector<std::array<double, 4>> day_lines(const std::string& results, const std::string& event,
                                             int doy) {
    std::vector<std::array<double, 4>> lines = read_results(results + "/" + event + ".txt");
    for (auto& line : lines)
        line[0] -= day_start_us(2013, doy) / 1e6;
    return lines;
}

// The direct double-precision normalized correlation of a and b over their m samples from
// a_first and b_first.
double coefficient(const std::vector<float>& a, long a_first, const std::vector<float>& b,
                   long b_first) {
    double sa = 0, sb = 0;
    for (int j = 0; j < m; ++j)
        sa += a[a_first + j], sb += b[b_first + j];
    double ab = 0, aa = 0, bb = 0;
    for (int j = 0; j < m; ++j) {
        const double x = a[a_first + j] - sa / m, y = b[b_first + j] - sb / m;
        ab += x * y, aa += x * x, bb += y * y;
    }
    return ab / std::sqrt(aa * bb);
}

}  // namespace

// A noise day with zero-filled gaps of 1 h, 10 min and 2 min on S1: the gaps stay exactly 0
// after filtering, and neither a one-template event on S1 nor a three-station event finds
// anything in them (before, the filter's ringing in the gaps gave detections up to 1.0). Two
// noise draws.
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

        // The day trace: what lies in the gaps (and the last sample before each, which has
        // nothing to interpolate towards, and the day's last) is exactly 0 and not data.
        Template_file control;
        control.data_dir = dir.path + "/archive/";
        control.sample_rate = fs;
        control.freq_low = 0.5;
        control.freq_high = 3;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const Conditioned_trace day =
            condition_window(read_day(2013, 45, "XX", "S1", "00", "HHZ", control, std::cout), 2013,
                             45, 0.0f, n, control, std::cout);
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        ASSERT_EQ(day.samples.size(), static_cast<size_t>(n));
        std::vector<Sample_span> expected;
        int from = 0;
        for (const auto& [first, end] : gaps) {
            expected.push_back({from, first * fs - 1});
            from = end * fs;
        }
        expected.push_back({from, n - 1});
        ASSERT_EQ(day.data.size(), expected.size());
        int zeros = 0, next = 0;
        for (size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(day.data[k].first, expected[k].first) << k;
            EXPECT_EQ(day.data[k].end, expected[k].end) << k;
            for (int p = next; p < expected[k].first; ++p)
                zeros += day.samples[p] == 0.0f;
            next = expected[k].end;
        }
        EXPECT_EQ(zeros, (3600 + 600 + 120) * fs + 3);
    }
}

// An event at 86396 s, whose templates run past midnight, and one whose moveouts cross it: both
// find themselves on the day they belong to, with the value a direct computation gives, whether
// the scan period ends with that day or not.
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

    std::istringstream text(control_text(c));
    const Outcome<Template_file> parsed = parse_template_file(text);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    Template_file control = *parsed.value;
    control.data_dir = dir.path + "/archive/";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::vector<float> days[3], templates[6];
    for (int s = 0; s < 3; ++s)  // day 45 and the first 30 s of day 46
        days[s] = get_data(2013, 45, 0.0f, "XX", stations[s], "00", "HHZ", n + 30 * fs, control);
    for (int i = 0; i < 6; ++i)
        templates[i] =
            get_data(control.pick_year[i], control.pick_day[i], float(control.pick_seconds[i]),
                     "XX", stations[i % 3], "00", "HHZ", m, control);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    for (const auto& [event, arrivals, first] :
         {std::tuple{"late", late, 0}, std::tuple{"across", across, 3}}) {
        const auto lines = day_lines(dir.path + "/out45", event, 45);
        ASSERT_EQ(lines.size(), 1u) << event;
        EXPECT_NEAR(lines[0][0], arrivals[0], 1e-3) << event;
        EXPECT_EQ(lines[0][3], 3) << event;
        double direct = 0;
        for (int s = 0; s < 3; ++s)
            direct +=
                coefficient(templates[first + s], 0, days[s], std::lround(arrivals[s] * fs)) / 3;
        EXPECT_NEAR(lines[0][1], direct, 1e-4) << event;
        EXPECT_GT(direct, 0.999) << event;
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

// A whole run on a small synthetic archive at 10 samples per second: console output, results
// files, and detections checked against known truth and an independent stack computation (a day
// file of two segments, day traces that go on into the next day's file); the same run on 1, 2
// and 4 threads and in several batches; memory budgets that do not do.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "acquire/get_data.h"
#include "control/template_file.h"
#include "scan/correlation_scan.h"
#include "scan/mad.h"
#include "scan/memory_budget.h"
#include "support/mseed_writer.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

constexpr int fs = 10, n = fs * 86400, m = 100;  // 10-second templates

struct Station {
    std::string code;
    double moveout, frequency;
};
const Station stations[] = {{"S1", 0.0, 1.2}, {"S2", 1.5, 1.6}, {"S3", 3.0, 2.1}};

// {day, first arrival at S1, amplitude}: the template quake, four repeats, and a weak quake
// 20 s after a strong one. On day 46, S3 records two segments, up to 30000 s and from 40000 to
// 60000 s.
const struct {
    int doy;
    double seconds, amplitude;
} quakes[] = {{45, 3600, 1.0},  {45, 20000, 0.7},  {46, 10000, 1.3},
              {46, 50000, 0.9}, {46, 50020, 0.25}, {46, 70000, 0.8}};

// Days 45 and 46; two events named "quake", one whose station has no data.
std::string control_file() {
    Control c;
    c.end = "2013 46 0", c.archive = "@archive";
    c.templates =
        "quake\n2013 45 3600 XX S1 00 HHZ 0\n2013 45 3601.5 XX S2 00 HHZ 0\n"
        "2013 45 3603 XX S3 00 HHZ 0\n\nquake\n2013 45 3601.5 XX S2 00 HHN 0\n\n"
        "ghost\n2013 45 3600 XX S9 00 HHZ 0\n";
    return control_text(c);
}

struct Event_day {
    std::vector<float> stack;
    std::vector<int> count;
    float mad = 0.0f;
};

// The event-day stack of templates {index, moveout} built plainly from the pieces the unit tests
// check (correlation, stacking, MAD); day traces, 20 s longer than a day where the next day's
// file exists, are read once per station and day into days.
Event_day reference_stack(const Template_file& c, const std::vector<std::pair<int, int>>& templates,
                          int doy, std::map<std::string, std::vector<float>>& days) {
    Event_day ed{std::vector<float>(n), std::vector<int>(n)};
    for (const auto& [i, s] : templates) {
        std::vector<float>& day = days[c.station[i] + c.channel[i] + std::to_string(doy)];
        const int length = doy == 45 ? n + 20 * fs : n;
        if (day.empty())
            day = get_data(2013, doy, 0.0f, "XX", c.station[i], "00", c.channel[i], length, c);
        const std::vector<float> templ = get_data(2013, 45, float(c.pick_seconds[i]), "XX",
                                                  c.station[i], "00", c.channel[i], m, c);
        add_to_stack(correlate(day, templ, m, length - m + 1), day, s, ed.stack, ed.count);
    }
    std::vector<float> values;
    for (size_t p = 0; p < ed.stack.size(); ++p)
        if (ed.count[p] > 0)
            values.push_back(ed.stack[p] /= ed.count[p]);
    ed.mad = mad(values);
    return ed;
}

}  // namespace

TEST(EndToEnd, FindsTheRepeatsOfASyntheticArchive) {
    Temp_dir dir;
    uint32_t seed = 12345;
    for (const Station& s : stations) {
        for (int doy : {45, 46}) {
            std::vector<Wavelet> wavelets;
            for (const auto& q : quakes)
                if (q.doy == doy)
                    wavelets.push_back({q.seconds + s.moveout, q.amplitude, s.frequency});
            std::vector<int32_t> counts = synthetic_day(fs, seed++, wavelets);
            if (s.code == "S3" && doy == 46) {
                write_day_file(dir.path + "/@archive", "S3", "HHZ", 46, fs,
                               {counts.begin(), counts.begin() + 30000 * fs});
                write_day_file(dir.path + "/@archive", "S3", "HHZ", 46, fs,
                               {counts.begin() + 40000 * fs, counts.begin() + 60000 * fs}, 40000);
                continue;
            }
            // S2 records the same on a second channel, which only the second event uses.
            for (const char* channel : {"HHZ", "HHN"})
                if (channel[2] == 'Z' || s.code == "S2")
                    write_day_file(dir.path + "/@archive", s.code, channel, doy, fs, counts);
        }
    }
    write_file(dir.path + "/control.txt", control_file());
    ASSERT_EQ(run_program({"mkdir", "-p", dir.path + "/out"}).status, 0);
    write_file(dir.path + "/out/quake.txt", "stale line of an earlier run\n");

    // Standard error on the same file as standard output, which is buffered as on a pipe.
    const Run_result run =
        run_program({"sh", "-c", "exec \"$0\" control.txt 2>&1", VEMLO_BINARY}, dir.path);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    // The console with (on one pipe) or without the "Reading: " and missing-file lines of standard
    // error.
    auto console = [](bool with_reads) {
        auto reading = [&](const std::string& station, const char* channel, int doy) {
            return with_reads ? "Reading: @archive/" + station + "/2013/" + station + ".XX.00." +
                                    channel + ".2013.0" + std::to_string(doy) + "\n"
                              : "";
        };
        // A day of the scan and the next day's file, of which day 47 has none.
        auto scanned = [&](const std::string& station, const char* channel, int doy) {
            return reading(station, channel, doy) +
                   (doy == 45 ? reading(station, channel, doy + 1) : "");
        };
        const std::string read = "Interpolating...interpolated. Bandpassing...bandpassed.\n";
        const std::string correlated = read + "assigning image...\ncross-correlating...done.\n";
        auto day = [&](const std::string& templates, int matches) {
            return templates + "\n\tMAD*8: T\n\t# Matches: " + std::to_string(matches) +
                   "\n\nWriting results to file...done.\n";
        };
        auto scan = [&](int doy) {  // one batch: every channel of the day is read first
            return day(scanned("S1", "HHZ", doy) + scanned("S2", "HHZ", doy) +
                           scanned("S3", "HHZ", doy) + scanned("S2", "HHN", doy) + correlated +
                           correlated + correlated,
                       doy == 45 ? 2 : 3);
        };
        return "\n\tvemlo v0.2\n\tUtilizing C code.\n\n\tCreating 5 template(s) for 3 event(s)...\n"
               "Template #1\n" +
               reading("S1", "HHZ", 45) + read + "Template #2\n" + reading("S2", "HHZ", 45) + read +
               "Template #3\n" + reading("S3", "HHZ", 45) + read + "Template #4\n" +
               reading("S2", "HHN", 45) + read + "Template #5\n" +
               (with_reads ? "No usable day file at @archive/S9/2013/S9.XX.00.HHZ.2013.045 or "
                             "@archive/2013/XX/S9/HHZ.D/XX.S9.00.HHZ.D.2013.045\n"
                           : "") +
               "Data was not found for template #5 (2013 45 3600 XX S9 00 HHZ)\n"
               "\n\tCross-correlating 3 event(s) for 2 day(s)...\nEvent #1\n" +
               scan(45) + scan(46) + "Event #2\n" + day(correlated, 2) + day(correlated, 3) +
               "Event #3\n" + day("", 0) + day("", 0) + "Run time: ~N\n";
    };
    auto masked = [](const std::string& out) {
        return mask_after(mask_after(out, "MAD*8: ", '\n', "T"), "Run time: ~", '\n', "N");
    };
    EXPECT_EQ(masked(run.out), console(true));

    // Both events named "quake" share one file, emptied at the start: event 1's days in order,
    // then event 2's. The weak quake 20 s after a strong one is not reported. S3 has data for
    // the quake after its gap, and has stopped before the last one.
    const auto lines = read_results(dir.path + "/out/quake.txt");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(read_file(dir.path + "/out/ghost.txt"), "");
    const double arrivals[] = {3600, 20000, 10000, 50000, 70000};  // days 45, 45, 46, 46, 46
    const int counts[] = {3, 3, 3, 3, 2, 1, 1, 1, 1, 1};

    Template_file control;
    std::istringstream in(control_file());
    control = *parse_template_file(in).value;
    control.data_dir = dir.path + "/@archive/";
    std::map<std::string, std::vector<float>> days;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const Event_day reference[2][2] = {
        {reference_stack(control, {{0, 0}, {1, 15}, {2, 30}}, 45, days),
         reference_stack(control, {{0, 0}, {1, 15}, {2, 30}}, 46, days)},
        {reference_stack(control, {{3, 0}}, 45, days),
         reference_stack(control, {{3, 0}}, 46, days)}};
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    const std::vector<std::string> thresholds = values_after(run.out, "MAD*8: ", '\n');
    ASSERT_EQ(thresholds.size(), 6u);
    EXPECT_EQ(thresholds[4], "nan");  // no template of event 3 had data
    for (size_t k = 0; k < lines.size(); ++k) {
        const int event = k / 5, doy = k % 5 < 2 ? 45 : 46;
        const double arrival = arrivals[k % 5] + (event == 1 ? 1.5 : 0.0);  // event 2: S2 alone
        const double midnight = day_start_us(2013, doy) / 1e6;
        EXPECT_NEAR(lines[k][0] - midnight, arrival, 1.0 / fs) << "line " << k;
        const Event_day& ref = reference[event][doy - 45];
        const long p = std::lround((lines[k][0] - midnight) * fs);
        EXPECT_NEAR(lines[k][1], ref.stack[p], 1e-4) << "line " << k;
        EXPECT_GT(lines[k][1], 0.9);
        EXPECT_NEAR(lines[k][2], ref.mad, 1e-5) << "line " << k;
        EXPECT_EQ(lines[k][3], counts[k]);
        EXPECT_EQ(ref.count[p], counts[k]);
        EXPECT_NEAR(std::stod(thresholds[2 * event + doy - 45]), 8 * ref.mad, 1e-4);
    }

    // The same bytes on 1, 2 and 4 threads, and with a budget that holds event 1 but not event 2
    // with it. What event 1 alone needs, from this test's sizes: the program's 64 MiB; a day's
    // stack, counts and MAD selection of up to twice n keys (more than reading and conditioning a
    // day trace of n + m samples); one thread's FFT buffers; and per template and station channel,
    // its spectrum and samples in double, and the day's block spectra, window norms and the
    // conditioned trace (kept for the channel measurements). FFTs of
    // 2048 samples (16 m up to a power of two) take 1949 positions a block (444 blocks for a day
    // trace), a block spectrum 1025 complex floats rounded up to 1032.
    const long long mib = 1 << 20, trace = n + m, spectrum = 1032 * 8;
    const long long stack = 4LL * 4 * n;
    ASSERT_GT(stack, 2 * 4 * trace);
    const long long workspace = spectrum + (2048 + 1949) * 4;
    const long long one_template = spectrum + m * 8;
    const long long one_channel = 444 * spectrum + (trace - m + 1) * 4 + trace * 4;
    const long long event_1 = 64 * mib + stack + workspace + 3 * (one_template + one_channel);
    const long long budget_mb = (event_1 + mib - 1) / mib;
    ASSERT_LT(budget_mb * mib, event_1 + one_template + one_channel);
    const std::string expected_results = read_file(dir.path + "/out/quake.txt");
    const std::vector<std::string> settings = {"OMP_NUM_THREADS=1", "OMP_NUM_THREADS=2",
                                               "OMP_NUM_THREADS=4",
                                               "VEMLO_MEMORY_MB=" + std::to_string(budget_mb)};
    for (const std::string& setting : settings) {
        const Run_result again =
            run_program({"env", setting, VEMLO_BINARY, "control.txt"}, dir.path);
        EXPECT_EQ(masked(again.out), console(false)) << setting;
        EXPECT_EQ(values_after(again.out, "MAD*8: ", '\n'), thresholds) << setting;
        EXPECT_EQ(read_file(dir.path + "/out/quake.txt"), expected_results) << setting;
        // Creation reads 4 files; one batch scans S1, S2, S3 and S2 HHN day by day (day 45 with
        // the first records of day 46), two batches scan event 1's three channels over both
        // days before S2 HHN.
        const std::vector<std::string> reads = values_after(again.err, "Reading: ", '\n');
        ASSERT_EQ(reads.size(), 16u);
        EXPECT_NE(reads[setting[0] == 'V' ? 13 : 10].find("HHN.2013.045"), std::string::npos);
    }

    // A budget too small for event 1, or not a number: an error before anything is written.
    for (const std::string& budget : {std::to_string(budget_mb - 1), std::string("12x")}) {
        const Run_result refused = run_program(
            {"env", "VEMLO_MEMORY_MB=" + budget, VEMLO_BINARY, "control.txt"}, dir.path);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.out.substr(refused.out.find("Utilizing C code.\n") + 18),
                  budget == "12x"
                      ? "Error: VEMLO_MEMORY_MB must be a whole number of megabytes from 1 to "
                        "1073741824, not \"12x\"\n"
                      : "Error: the memory budget of " + budget +
                            " MB is too small for event #1 (quake), which needs about " +
                            std::to_string(budget_mb) +
                            " MB: set VEMLO_MEMORY_MB to at least "
                            "that\n");
        EXPECT_EQ(read_file(dir.path + "/out/quake.txt"), expected_results);
    }
}

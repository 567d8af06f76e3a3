// A whole run on a synthetic archive at 10 samples per second, checked against known arrivals and
// a direct stack computation; the same bytes (results and channels files) on 1 and 2 threads and
// in two batches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "acquire/get_data.h"
#include "control/template_file.h"
#include "scan/correlation_scan.h"
#include "scan/mad.h"
#include "support/mseed_writer.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

constexpr int fs = 10, n = fs * 86400, m = 100;  // 10-second templates

const char* stations[] = {"S1", "S2", "S3"};
const double moveouts[] = {0.0, 1.5, 3.0}, frequencies[] = {1.2, 1.6, 2.1};

// {day, arrival at S1, amplitude}: the template quake, repeats, a weak quake 20 s after a strong
// one. On day 46, S3 records 0-30000 s and 40000-60000 s.
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

// The event-day stack of templates {index, moveout} built plainly from correlation, stacking and
// MAD; day 45's traces run 20 s into day 46's file.
Event_day reference_stack(const Template_file& c, const std::vector<std::pair<int, int>>& templates,
                          int doy) {
    Event_day ed{std::vector<float>(n), std::vector<int>(n)};
    const int length = doy == 45 ? n + 20 * fs : n;
    for (const auto& [i, s] : templates) {
        const auto day =
            get_data(2013, doy, 0.0f, "XX", c.station[i], "00", c.channel[i], length, c);
        const auto templ = get_data(2013, 45, float(c.pick_seconds[i]), "XX", c.station[i], "00",
                                    c.channel[i], m, c);
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
    for (int s = 0; s < 3; ++s) {
        for (int doy : {45, 46}) {
            std::vector<Wavelet> wavelets;
            for (const auto& q : quakes)
                if (q.doy == doy)
                    wavelets.push_back({q.seconds + moveouts[s], q.amplitude, frequencies[s]});
            const std::vector<int32_t> counts = synthetic_day(fs, seed++, wavelets);
            if (s == 2 && doy == 46) {  // two segments
                for (const auto& [from, to] : {std::pair{0, 30000}, {40000, 60000}})
                    write_day_file(dir.path + "/@archive", "S3", "HHZ", 46, fs,
                                   {counts.begin() + from * fs, counts.begin() + to * fs}, from);
                continue;
            }
            for (const char* channel : {"HHZ", "HHN"})  // S2 HHN, for the second event only
                if (channel[2] == 'Z' || s == 1)
                    write_day_file(dir.path + "/@archive", stations[s], channel, doy, fs, counts);
        }
    }
    write_file(dir.path + "/control.txt", control_file());
    ASSERT_EQ(run_program({"mkdir", "-p", dir.path + "/out"}).status, 0);
    write_file(dir.path + "/out/quake.txt", "stale line of an earlier run\n");

    const Run_result run = run_program({VEMLO_BINARY, "control.txt"}, dir.path);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    auto masked = [](const std::string& out) { return mask_after(out, "Run time: ~", '\n', "N"); };
    EXPECT_EQ(values_after(run.out, "# Matches: ", '\n'),
              (std::vector<std::string>{"2", "3", "2", "3", "0", "0"}));
    EXPECT_NE(run.out.find("Data was not found for template #5 (2013 45 3600 XX S9 00 HHZ)\n"),
              std::string::npos);

    // Both "quake" events share one emptied file, event 1's days then event 2's; the weak quake
    // 20 s after a strong one is not reported; S3 finds the quake after its gap.
    const auto lines = read_results(dir.path + "/out/quake.txt");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(read_file(dir.path + "/out/ghost.txt"), "");
    const double arrivals[] = {3600, 20000, 10000, 50000, 70000};  // days 45, 45, 46, 46, 46
    const int counts[] = {3, 3, 3, 3, 2, 1, 1, 1, 1, 1};

    std::istringstream in(control_file());
    Template_file control = *parse_template_file(in).value;
    control.data_dir = dir.path + "/@archive/";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const std::vector<std::pair<int, int>> templates[] = {{{0, 0}, {1, 15}, {2, 30}}, {{3, 0}}};
    const Event_day reference[2][2] = {
        {reference_stack(control, templates[0], 45), reference_stack(control, templates[0], 46)},
        {reference_stack(control, templates[1], 45), reference_stack(control, templates[1], 46)}};
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
        EXPECT_NEAR(lines[k][2], ref.mad, 1e-5) << "line " << k;
        EXPECT_EQ(lines[k][3], counts[k]);
        EXPECT_NEAR(std::stod(thresholds[2 * event + doy - 45]), 8 * ref.mad, 1e-4);
    }

    // The budget the program asks for event 1, which cannot hold event 2 with it: two batches.
    const std::string expected_results = read_file(dir.path + "/out/quake.txt"),
                      channels = read_file(dir.path + "/out/quake.channels.csv");
    EXPECT_EQ(std::count(channels.begin(), channels.end(), '\n'), 1 + 3 * 4 + 2 + 5);
    std::string budget_mb;
    for (const std::string budget : {"12x", "1"}) {  // refused before anything is written
        const Run_result refused = run_program(
            {"env", "VEMLO_MEMORY_MB=" + budget, VEMLO_BINARY, "control.txt"}, dir.path);
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.out.find(budget == "1" ? "too small for event #1 (quake)"
                                                 : "VEMLO_MEMORY_MB must be a whole number"),
                  std::string::npos)
            << refused.out;
        EXPECT_EQ(read_file(dir.path + "/out/quake.txt"), expected_results);
        const std::vector<std::string> asked = values_after(refused.out, "needs about ", ' ');
        budget_mb = asked.empty() ? budget_mb : asked[0];
    }
    ASSERT_FALSE(budget_mb.empty()) << "the refused run names the budget event 1 needs";
    for (const std::string& setting : std::vector<std::string>{
             "OMP_NUM_THREADS=1", "OMP_NUM_THREADS=2", "VEMLO_MEMORY_MB=" + budget_mb}) {
        const Run_result again =
            run_program({"env", setting, VEMLO_BINARY, "control.txt"}, dir.path);
        EXPECT_EQ(masked(again.out), masked(run.out)) << setting;
        EXPECT_EQ(read_file(dir.path + "/out/quake.txt"), expected_results) << setting;
        EXPECT_EQ(read_file(dir.path + "/out/quake.channels.csv"), channels) << setting;
        // Two batches read S2 HHN for the scan after event 1's channels of both days.
        const std::vector<std::string> reads = values_after(again.err, "Reading: ", '\n');
        ASSERT_EQ(reads.size(), 16u);
        EXPECT_NE(reads[setting[0] == 'V' ? 13 : 10].find("HHN.2013.045"), std::string::npos);
    }
    // Teams smaller than the threads asked for (as OMP_DYNAMIC gives on a loaded machine).
    const Run_result limited = run_program(
        {"env", "OMP_NUM_THREADS=2", "OMP_THREAD_LIMIT=1", VEMLO_BINARY, "control.txt"}, dir.path);
    EXPECT_EQ(masked(limited.out), masked(run.out));
    EXPECT_EQ(read_file(dir.path + "/out/quake.txt"), expected_results);
}

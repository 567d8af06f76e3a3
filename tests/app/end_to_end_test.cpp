// A whole run on a small synthetic archive at 10 samples per second: console output, results
// files, and detections checked against known truth and an independent stack computation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "acquire/get_data.h"
#include "control/template_file.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

namespace {

constexpr int fs = 10;
constexpr int year = 2013;
constexpr double pi = 3.141592653589793;

struct Station {
    std::string code;
    double moveout;  // seconds after S1
    double frequency;
};
const Station stations[] = {{"S1", 0.0, 1.2}, {"S2", 1.5, 1.6}, {"S3", 3.0, 2.1}};

struct Quake {
    int doy;
    double seconds;  // first arrival, at S1
    double amplitude;
};
// The template earthquake, three repeats, and a weak one 20 s after a strong one.
const Quake quakes[] = {{45, 3600.0, 1.0},
                        {45, 20000.0, 0.7},
                        {46, 10000.0, 1.3},
                        {46, 50000.0, 0.9},
                        {46, 50020.0, 0.25}};
// S3 stops recording at this second of day 46.
constexpr double s3_end_day46 = 40000.0;

double wavelet(const Station& s, double t) {
    if (t < 0.0 || t > 9.0)
        return 0.0;
    return t * std::exp(1.0 - t) * std::sin(2.0 * pi * s.frequency * t + 0.4);
}

std::vector<int32_t> day_counts(const Station& s, int doy, uint32_t seed) {
    std::vector<int32_t> counts(fs * 86400);
    uint32_t state = seed;
    for (size_t i = 0; i < counts.size(); ++i) {
        double noise = 0.0;  // sum of uniforms: roughly normal, standard deviation about 100
        for (int k = 0; k < 4; ++k) {
            state = state * 1664525u + 1013904223u;
            noise += (state >> 8) / double(1 << 24) - 0.5;
        }
        double value = 173.0 * noise;
        for (const Quake& q : quakes) {
            if (q.doy == doy)
                value += 2000.0 * q.amplitude * wavelet(s, i / double(fs) - q.seconds - s.moveout);
        }
        counts[i] = static_cast<int32_t>(std::lround(value));
    }
    if (s.code == "S3" && doy == 46)
        counts.resize(static_cast<size_t>(s3_end_day46 * fs));
    return counts;
}

void write_archive(const std::string& root) {
    uint32_t seed = 12345;
    for (const Station& s : stations) {
        const std::string dir = root + "/" + s.code + "/2013";
        ASSERT_EQ(run_program({"mkdir", "-p", dir}).status, 0);
        for (int doy : {45, 46}) {
            Mseed_series series;
            series.station = s.code;
            series.samprate = fs;
            series.reclen = 8192;
            series.start_us = day_start_us(year, doy);
            write_mseed_int(dir + "/" + s.code + ".XX.00.HHZ.2013.0" + std::to_string(doy), series,
                            day_counts(s, doy, seed++));
        }
    }
}

const char* control_text =
    "results\nout\n\nstart\n2013 45 0\n\nend\n2013 46 0\n\nlength\n10\n\nband\n0.5 3\n\n"
    "mad multiple\n8\n\nrate\n10\n\nreserved\n0\n\narchive\narchive\n\nreserved\n\n\n"
    "reserved\n0\n\ndownload keep\n0 1\n\ntemplates\n"
    "quake\n"
    "2013 45 3600 XX S1 00 HHZ 0\n"
    "2013 45 3601.5 XX S2 00 HHZ 0\n"
    "2013 45 3603 XX S3 00 HHZ 0\n"
    "\n"
    "quake\n"
    "2013 45 3601.5 XX S2 00 HHZ 0\n"
    "\n"
    "ghost\n"
    "2013 45 3600 XX S9 00 HHZ 0\n";

const std::string conditioned = "Interpolating...interpolated. Bandpassing...bandpassed.\n";
const std::string correlated = conditioned + "assigning image...\ncross-correlating...done.\n";

std::string repeat(const std::string& s, int n) {
    std::string all;
    for (int k = 0; k < n; ++k)
        all += s;
    return all;
}

std::string day_lines(int templates, int matches) {
    return repeat(correlated, templates) + "\n\tMAD*8: T\n\t# Matches: " + std::to_string(matches) +
           "\n\nWriting results to file...done.\n";
}

// Normalized correlation coefficient of templ with every placement in day, in double.
std::vector<double> correlation(const std::vector<float>& day, const std::vector<float>& templ) {
    const size_t m = templ.size(), l = day.size() - m + 1;
    double mean_t = 0.0;
    for (float v : templ)
        mean_t += v;
    mean_t /= m;
    double energy_t = 0.0;
    for (float v : templ)
        energy_t += (v - mean_t) * (v - mean_t);
    std::vector<double> cc(l);
    for (size_t p = 0; p < l; ++p) {
        double sum = 0.0, sum2 = 0.0, cross = 0.0;
        for (size_t k = 0; k < m; ++k) {
            sum += day[p + k];
            sum2 += double(day[p + k]) * day[p + k];
            cross += (templ[k] - mean_t) * day[p + k];
        }
        const double energy_d = sum2 - sum * sum / m;
        cc[p] =
            energy_d > 1e-9 * sum2 && energy_d > 0 ? cross / std::sqrt(energy_t * energy_d) : 0.0;
    }
    return cc;
}

struct Event_day {
    std::vector<double> stack;
    std::vector<int> count;
    double mad = 0.0;
};

// The event-day stack computed directly from the conditioned traces.
// Day traces are read once per station and day into days.
Event_day reference_stack(const Template_file& control, const std::vector<int>& templates,
                          const std::vector<int>& moveouts, int doy,
                          std::map<std::string, std::vector<float>>& days) {
    const int n = fs * 86400, m = 100, l = n - m + 1;
    Event_day ed;
    ed.stack.assign(l, 0.0);
    ed.count.assign(l, 0);
    for (size_t k = 0; k < templates.size(); ++k) {
        const int i = templates[k], s = moveouts[k];
        const std::vector<float> templ =
            get_data(year, control.pick_day[i], float(control.pick_seconds[i]), "XX",
                     control.station[i], "00", "HHZ", m, control);
        const std::string key = control.station[i] + std::to_string(doy);
        if (!days.count(key)) {
            days[key] =
                get_data(year, doy, 0.0f, "XX", control.station[i], "00", "HHZ", n, control);
        }
        const std::vector<float>& day = days[key];
        const std::vector<double> cc = correlation(day, templ);
        for (int p = s; p < l; ++p) {
            const bool gap = day[p] == 0.0f &&
                             (p == 0 || p == l - 1 || day[p - 1] == 0.0f || day[p + 1] == 0.0f);
            if (gap)
                continue;
            ed.stack[p - s] += cc[p];
            ed.count[p - s] += 1;
        }
    }
    std::vector<double> values;
    for (int p = 0; p < l; ++p) {
        if (ed.count[p] > 0)
            values.push_back(ed.stack[p] /= ed.count[p]);
    }
    std::sort(values.begin(), values.end());
    const double median = values[values.size() / 2];
    for (double& v : values)
        v = std::fabs(v - median);
    std::sort(values.begin(), values.end());
    ed.mad = values[values.size() / 2];
    return ed;
}

struct Result_line {
    double time, value, mad;
    int count;
};

std::vector<Result_line> read_results(const std::string& path) {
    std::istringstream in(read_file(path));
    std::vector<Result_line> lines;
    Result_line r;
    while (in >> r.time >> r.value >> r.mad >> r.count)
        lines.push_back(r);
    return lines;
}

double day_epoch(int doy) {
    return day_start_us(year, doy) / 1e6;
}

}  // namespace

TEST(EndToEnd, FindsTheRepeatsOfASyntheticArchive) {
    Temp_dir dir;
    write_archive(dir.path + "/archive");
    write_file(dir.path + "/control.txt", control_text);
    ASSERT_EQ(run_program({"mkdir", "-p", dir.path + "/out"}).status, 0);
    write_file(dir.path + "/out/quake.txt", "stale line of an earlier run\n");

    const Run_result run = run_program({VEMLO_BINARY, "control.txt"}, dir.path);
    ASSERT_EQ(run.status, 0) << run.out << run.err;

    // Console, with the threshold values and the run seconds masked (checked below).
    const std::string out =
        mask_after(mask_after(run.out, "MAD*8: ", '\n', "T"), "Run time: ~", '\n', "N");
    const std::string expected =
        "\n\tvemlo v0.2\n\tUtilizing C code.\n"
        "\n\tCreating 5 template(s) for 3 event(s)...\n" +
        repeat("Template #", 1) + "1\n" + conditioned + "Template #2\n" + conditioned +
        "Template #3\n" + conditioned + "Template #4\n" + conditioned +
        "Template #5\nData was not found for template #5 (2013 45 3600 XX S9 00 HHZ)\n"
        "\n\tCross-correlating 3 event(s) for 2 day(s)...\n"
        "Event #1\n" +
        day_lines(3, 2) + day_lines(3, 2) + "Event #2\n" + day_lines(1, 2) + day_lines(1, 2) +
        "Event #3\n" + day_lines(0, 0) + day_lines(0, 0) + "Run time: ~N\n";
    EXPECT_EQ(out, expected);

    // Both events named "quake" share one file, emptied at the start: event 1's days in order,
    // then event 2's.
    const std::vector<Result_line> lines = read_results(dir.path + "/out/quake.txt");
    ASSERT_EQ(lines.size(), 8u) << read_file(dir.path + "/out/quake.txt");
    EXPECT_EQ(read_file(dir.path + "/out/quake.txt").find("stale"), std::string::npos);
    EXPECT_EQ(read_file(dir.path + "/out/ghost.txt"), "");

    // Detection times: the injected first arrivals, to one sample; the weak quake 20 s after
    // the strong one on day 46 is suppressed, and the event of S2 alone sees S2's arrivals.
    const double expected_times[] = {day_epoch(45) + 3600.0,  day_epoch(45) + 20000.0,
                                     day_epoch(46) + 10000.0, day_epoch(46) + 50000.0,
                                     day_epoch(45) + 3601.5,  day_epoch(45) + 20001.5,
                                     day_epoch(46) + 10001.5, day_epoch(46) + 50001.5};
    for (size_t k = 0; k < lines.size(); ++k) {
        EXPECT_NEAR(lines[k].time, expected_times[k], 1.0 / fs) << "line " << k;
    }
    // Where S3 has stopped recording, only two templates are averaged.
    const int expected_counts[] = {3, 3, 3, 2, 1, 1, 1, 1};
    for (size_t k = 0; k < lines.size(); ++k)
        EXPECT_EQ(lines[k].count, expected_counts[k]);

    // Stack values and MADs against a direct computation from the conditioned traces.
    Template_file control;
    {
        std::istringstream in(control_text);
        control = parse_template_file(in);
        control.data_dir = dir.path + "/archive/";
    }
    std::map<std::string, std::vector<float>> days;
    testing::internal::CaptureStdout();
    const Event_day reference[2][2] = {{reference_stack(control, {0, 1, 2}, {0, 15, 30}, 45, days),
                                        reference_stack(control, {0, 1, 2}, {0, 15, 30}, 46, days)},
                                       {reference_stack(control, {3}, {0}, 45, days),
                                        reference_stack(control, {3}, {0}, 46, days)}};
    testing::internal::GetCapturedStdout();
    for (size_t k = 0; k < lines.size(); ++k) {
        const int event = k < 4 ? 0 : 1, day = (k % 4) < 2 ? 0 : 1;
        const Event_day& ref = reference[event][day];
        const long p = std::lround((lines[k].time - day_epoch(45 + day)) * fs);
        EXPECT_NEAR(lines[k].value, ref.stack[p], 1e-4) << "line " << k;
        EXPECT_NEAR(lines[k].mad, ref.mad, 1e-5) << "line " << k;
        EXPECT_EQ(lines[k].count, ref.count[p]) << "line " << k;
        EXPECT_GT(lines[k].value, 0.9);
    }

    // The printed thresholds are 8 × each event-day's MAD.
    std::vector<double> thresholds;
    for (const std::string& value : values_after(run.out, "MAD*8: ", '\n')) {
        thresholds.push_back(std::atof(value.c_str()));
    }
    ASSERT_EQ(thresholds.size(), 6u);
    EXPECT_NEAR(thresholds[0], 8 * reference[0][0].mad, 1e-4);
    EXPECT_NEAR(thresholds[1], 8 * reference[0][1].mad, 1e-4);
    EXPECT_NEAR(thresholds[2], 8 * reference[1][0].mad, 1e-4);
    EXPECT_NEAR(thresholds[3], 8 * reference[1][1].mad, 1e-4);
    EXPECT_TRUE(std::isnan(thresholds[4]) && std::isnan(thresholds[5]));
}

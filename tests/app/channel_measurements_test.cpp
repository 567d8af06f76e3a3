// Per-channel measurements of a whole run at 20 samples per second: picks and ratios of repeats
// injected at sub-sample delays against truth and a direct computation, and vemlo-report's
// relative magnitudes from them (the end-to-end test runs them at other thread counts and budgets).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>

#include "acquire/get_data.h"
#include "control/template_file.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

constexpr int fs = 20, n = fs * 86400, m = 10 * fs, max_lag = fs / 2;  // 10 s, 0.5 s
constexpr double moveouts[3] = {0.0, 1.5, 3.0};
constexpr double frequencies[3] = {1.2, 1.6, 2.1};

// {arrival at S1, amplitude, extra delay at S1, S2, S3}: the template quake and three repeats.
// S3 records until 40000 s only.
const struct {
    double seconds, amplitude, delay[3];
} quakes[] = {{3600, 4.0, {0, 0, 0}},
              {20000, 2.0, {0.013, -0.027, 0.041}},
              {30000, 8.0, {-0.035, 0.022, 0.007}},
              {60000, 4.0, {0.004, -0.006, 0}}};

// Event "quake" picks the template quake on S1, S2, S3.
std::string control_file() {
    Control c;
    c.length = "10", c.rate = std::to_string(fs);
    c.templates =
        "quake\n2013 45 3600 XX S1 00 HHZ 0\n2013 45 3601.5 XX S2 00 HHZ 0\n"
        "2013 45 3603 XX S3 00 HHZ 0\n";
    return control_text(c);
}

struct Row {
    std::string epoch, station;
    double cc, lag, pick_seconds, ratio;  // the pick in seconds after midnight
};

// The rows of a channels file: XX.*.00.HHZ, picks on 2013-02-14.
std::vector<Row> read_rows(const std::string& text) {
    std::istringstream in(text.substr(text.find('\n') + 1));
    std::vector<Row> rows;
    for (std::string line; std::getline(in, line);) {
        char epoch[32], station[8];
        double cc, lag, h, min, sec, ratio;
        EXPECT_EQ(std::sscanf(line.c_str(),
                              "%31[^,],XX,%7[^,],00,HHZ,%lf,%lf,2013-02-14T%lf:%lf:%lfZ,%lf", epoch,
                              station, &cc, &lag, &h, &min, &sec, &ratio),
                  8)
            << line;
        rows.push_back({epoch, station, cc, lag, h * 3600 + min * 60 + sec, ratio});
    }
    return rows;
}

// Direct measurement: coefficients at every lag within max_lag, the largest refined by a parabola;
// RMS ratio at the peak's sample.
Row direct_measurement(const std::vector<float>& day, const std::vector<float>& t, long aligned) {
    std::vector<double> cc, ratio;
    const long from = std::max<long>(aligned - max_lag, 0L),
               to = std::min<long>(aligned + max_lag, day.size() - m);
    for (long at = from; at <= to; ++at) {
        double sx = 0, st = 0, sxx = 0, stt = 0, sxt = 0;
        for (int k = 0; k < m; ++k) {
            const double x = day[at + k], y = t[k];
            sx += x, st += y, sxx += x * x, stt += y * y, sxt += x * y;
        }
        cc.push_back((sxt - sx * st / m) / std::sqrt((sxx - sx * sx / m) * (stt - st * st / m)));
        ratio.push_back(std::sqrt(sxx / stt));
    }
    const size_t j = std::max_element(cc.begin(), cc.end()) - cc.begin();
    Row row{"", "", cc[j], double(from + long(j) - aligned), 0, ratio[j]};
    if (j > 0 && j + 1 < cc.size()) {
        const double a = cc[j - 1], b = cc[j], c = cc[j + 1], d = 0.5 * (a - c) / (a - 2 * b + c);
        row.lag += d, row.cc = b - 0.25 * (a - c) * d;
    }
    return row;
}

}  // namespace

TEST(ChannelMeasurements, PicksAndRatiosOfInjectedRepeats) {
    Temp_dir dir;
    for (int s = 0; s < 3; ++s) {
        std::vector<Wavelet> wavelets;
        for (const auto& q : quakes)
            wavelets.push_back({q.seconds + moveouts[s] + q.delay[s], q.amplitude, frequencies[s]});
        std::vector<int32_t> counts = synthetic_day(fs, 77 + s, wavelets);
        counts.resize(s == 2 ? 40000 * fs : counts.size());
        write_day_file(dir.path + "/archive", "S" + std::to_string(s + 1), "HHZ", 45, fs, counts);
    }
    write_file(dir.path + "/control.txt", control_file());
    const Run_result run = run_program({VEMLO_BINARY, "control.txt"}, dir.path);
    ASSERT_EQ(run.status, 0) << run.out << run.err;

    const auto lines = read_results(dir.path + "/out/quake.txt");
    ASSERT_EQ(lines.size(), 4u);
    const std::vector<Row> rows = read_rows(read_file(dir.path + "/out/quake.channels.csv"));
    ASSERT_EQ(rows.size(), 11u);  // none for S3 at the last repeat: it has no data then

    std::istringstream in(control_file());
    Template_file control = *parse_template_file(in).value;
    control.data_dir = dir.path + "/archive/";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::vector<std::vector<float>> days, templates;
    for (int s = 0; s < 3; ++s) {
        const std::string station = "S" + std::to_string(s + 1);
        days.push_back(get_data(2013, 45, 0.0f, "XX", station, "00", "HHZ", n, control));
        templates.push_back(
            get_data(2013, 45, float(3600 + moveouts[s]), "XX", station, "00", "HHZ", m, control));
    }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    const double midnight = 1360800000;  // 2013-02-14
    size_t r = 0;                        // rows join the results lines by their first field
    for (size_t k = 0; k < lines.size(); ++k) {
        std::ostringstream epoch;
        epoch << std::fixed << std::setprecision(3) << lines[k][0];
        const long p = std::lround((lines[k][0] - midnight) * fs);
        for (int s = 0; s < (k == 3 ? 2 : 3); ++s, ++r) {
            const Row& row = rows[r];
            EXPECT_EQ(row.epoch + row.station, epoch.str() + "S" + std::to_string(s + 1));
            const double truth = quakes[k].seconds + moveouts[s] + quakes[k].delay[s];
            EXPECT_NEAR(row.pick_seconds, truth, 0.1 / fs) << "row " << r;
            const double ratio = quakes[k].amplitude / quakes[0].amplitude;
            EXPECT_NEAR(row.ratio, ratio, 0.01 * ratio) << "row " << r;
            const Row direct =
                direct_measurement(days[s], templates[s], p + long(moveouts[s] * fs));
            EXPECT_NEAR(row.cc, direct.cc, 1e-5) << "row " << r;
            EXPECT_NEAR(row.lag * fs, direct.lag, 1e-3) << "row " << r;
            EXPECT_NEAR(row.ratio, direct.ratio, 1e-5 * direct.ratio) << "row " << r;
        }
    }

    // vemlo-report on this run: repeats at half and twice the template's amplitude are 0.30
    // below and above its magnitude.
    write_file(dir.path + "/mags.csv", "event,magnitude\nquake,2.0\n");
    const std::string vemlo = VEMLO_BINARY;
    const Run_result report = run_program(
        {vemlo.substr(0, vemlo.rfind('/')) + "/vemlo-report", "out", "--magnitudes", "mags.csv"},
        dir.path);
    ASSERT_EQ(report.status, 0) << report.out << report.err;
    std::istringstream detections(read_file(dir.path + "/out/detections.csv"));
    std::vector<double> delta;  // in time order; the last two fields are magnitudes
    for (std::string line; std::getline(detections, line);)
        if (line.rfind("quake,", 0) == 0) {
            const size_t last = line.rfind(','), before = line.rfind(',', last - 1);
            delta.push_back(std::stod(line.substr(before + 1, last - before - 1)));
        }
    ASSERT_EQ(delta.size(), 4u);
    for (size_t k = 0; k < 4; ++k)
        EXPECT_NEAR(delta[k], std::log10(quakes[k].amplitude / quakes[0].amplitude), 0.01) << k;
}

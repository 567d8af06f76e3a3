#include <gtest/gtest.h>

#include <cmath>

#include "acquire/create_path.h"
#include "acquire/day_file.h"
#include "acquire/get_data.h"
#include "dsp/bandpass.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

namespace {

const double two_pi = 6.283185307179586;

// Sample n (at rate fs, from 00:00:00 UTC of the day) of the test signal: two sines inside the
// pass band, rounded to counts.
int32_t signal(int64_t n, int fs) {
    const double t = static_cast<double>(n) / fs;
    return static_cast<int32_t>(std::lround(1000.0 * std::sin(two_pi * 2.0 * t) +
                                            400.0 * std::sin(two_pi * 5.0 * t + 0.3)));
}

struct Archive {
    Temp_dir tmp;
    Template_file control;
    Archive(int fs, double f_low, double f_high) {
        control.data_dir = tmp.path + "/";
        control.sample_rate = fs;
        control.freq_low = f_low;
        control.freq_high = f_high;
    }
    // Writes samples first..last-1 of the test signal at rate fs as the day file of day 41.
    void write_day(int fs, int64_t first, int64_t last, int doy = 41) const {
        std::vector<int32_t> samples;
        for (int64_t n = first; n < last; ++n)
            samples.push_back(signal(n, fs));
        Mseed_series series;
        series.samprate = fs;
        series.start_us = day_start_us(2013, doy) + first * 1000000 / fs;
        series.reclen = 4096;  // few records: libmseed grows the trace once per record
        ASSERT_EQ(createPath(day_directory(control.data_dir, "ABC", 2013)), 0);
        write_mseed_int(day_file_path(control.data_dir, "XX", "ABC", "00", "HHZ", 2013, doy),
                        series, samples);
    }
    std::vector<float> get(float start, int length, std::string* out = nullptr) const {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        std::vector<float> data =
            get_data(2013, 41, start, "XX", "ABC", "00", "HHZ", length, control);
        const std::string printed = testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        if (out != nullptr)
            *out = printed;
        return data;
    }
};

// The filtered signal over samples [first, first + count) of the day, then cut to
// [first + cut_front, first + count - cut_back).
std::vector<float> reference(int fs, int64_t first, int count, int cut_front, int cut_back,
                             double f_low, double f_high) {
    std::vector<float> x;
    for (int k = 0; k < count; ++k)
        x.push_back(static_cast<float>(signal(first + k, fs)));
    bandpass(x, f_low, f_high, 3, fs);
    return std::vector<float>(x.begin() + cut_front, x.end() - cut_back);
}

// The filter keeps its outputs in single precision, so two runs on inputs that differ by
// interpolation rounding (a few hundredths here) differ by up to about 0.5 on a signal of
// amplitude 1400; a window off by one sample or cut at the wrong place is off by 100 and more.
void expect_close(const std::vector<float>& got, const std::vector<float>& want, float tol) {
    ASSERT_EQ(got.size(), want.size());
    float worst = 0.0f;
    for (size_t i = 0; i < got.size(); ++i)
        worst = std::max(worst, std::fabs(got[i] - want[i]));
    EXPECT_LE(worst, tol);
}

TEST(GetData, WindowsArePaddedFilteredAndCut) {
    Archive archive(100, 1.0, 8.0);
    archive.write_day(100, 0, 6000);  // the first minute of the day
    std::string out;
    // start 10.0, 500 samples: read 8.0 to 17.0 s, 200 cut at each end.
    expect_close(archive.get(10.0f, 500, &out), reference(100, 800, 900, 200, 200, 1.0, 8.0), 2.0f);
    EXPECT_EQ(out, "Interpolating...interpolated. Bandpassing...bandpassed.\n");
    // 550 samples are truncated to whole seconds of window.
    expect_close(archive.get(10.0f, 550), reference(100, 800, 900, 200, 200, 1.0, 8.0), 2.0f);
    // start 1.5 and 2.0: too close to midnight for a leading pad, only the trailing one is cut.
    expect_close(archive.get(1.5f, 500), reference(100, 150, 700, 0, 200, 1.0, 8.0), 2.0f);
    expect_close(archive.get(2.0f, 500), reference(100, 200, 700, 0, 200, 1.0, 8.0), 2.0f);
    // Rates that do not divide 200 get whole-second pads; a window too short to cut from
    // comes back empty rather than breaking.
    Archive odd(300, 1.0, 8.0);
    odd.write_day(300, 0, 3000);
    EXPECT_TRUE(odd.get(5.0f, 10).empty());
}

// Phase (radians) and amplitude of the f Hz component of x, sample i at time t_first + i / fs.
std::pair<double, double> fit(const std::vector<float>& x, size_t from, size_t to, double f,
                              double t_first, int fs) {
    double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
    for (size_t i = from; i < to; ++i) {
        const double t = t_first + static_cast<double>(i) / fs;
        const double s = std::sin(two_pi * f * t), c = std::cos(two_pi * f * t);
        ss += s * s, sc += s * c, cc += c * c, xs += x[i] * s, xc += x[i] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    return {std::atan2(b, a), std::hypot(a, b)};
}

TEST(GetData, WholeDayFromATraceStartingBeforeMidnight) {
    const int fs = 10;
    Archive archive(fs, 1.5, 3.0);  // keeps the 2 Hz sine, damps the 5 Hz one
    archive.write_day(fs, -30 * fs, 86430 * fs);
    std::vector<float> day = archive.get(0.0f, fs * 86400);
    ASSERT_EQ(day.size(), static_cast<size_t>(fs) * 86400);
    // Sample i lies at i / fs after midnight: the 2 Hz sine keeps its phase (one sample of
    // shift would be 1.26 rad) at the start and at the end of the day.
    for (size_t from : {size_t{1000}, day.size() - 37000}) {
        const auto [phase, amplitude] = fit(day, from, from + 36000, 2.0, 0.0, fs);
        EXPECT_NEAR(phase, 0.0, 0.02) << from;
        EXPECT_NEAR(amplitude, 1000.0, 100.0) << from;
    }
}

TEST(GetData, PaddingOutsideTheTraceStaysZero) {
    const int fs = 20;
    Archive archive(fs, 1.0, 8.0);
    archive.write_day(fs, 130 * fs, 170 * fs);            // 130 s to 170 s after midnight
    std::vector<float> data = archive.get(100.0f, 2000);  // 100 s to 200 s
    ASSERT_EQ(data.size(), 2000u);
    for (size_t i = 0; i < data.size(); ++i) {
        const double t = 100.0 + static_cast<double>(i) / fs;
        if (t < 129.99 || t > 169.99) {
            EXPECT_EQ(data[i], 0.0f) << t;
        } else if (t > 130.01 && t < 169.9) {
            EXPECT_NE(data[i], 0.0f) << t;
        }
    }
}

TEST(GetData, MissingOrUnusableDayFilesGiveTheSentinel) {
    Archive archive(20, 1.0, 8.0);
    std::string out;
    std::vector<float> missing = archive.get(0.0f, 20 * 86400, &out);
    EXPECT_EQ(missing, std::vector<float>{-987654336.0f});
    EXPECT_EQ(out, "");

    const std::string path =
        day_file_path(archive.control.data_dir, "XX", "ABC", "00", "HHZ", 2013, 41);
    ASSERT_EQ(createPath(day_directory(archive.control.data_dir, "ABC", 2013)), 0);
    const std::string testdata = std::string(VEMLO_TESTDATA_DIR) + "/libmseed/";
    std::string random_bytes(2000, '\0');
    for (size_t i = 0; i < random_bytes.size(); ++i)
        random_bytes[i] = static_cast<char>((i * 7919u + 13u) % 251u);
    for (const std::string& content :
         {read_file(testdata + "reference-testdata-headeronly.mseed"),
          read_file(testdata + "reference-testdata-text.mseed"), random_bytes}) {
        write_file(path, content);
        EXPECT_TRUE(is_not_found(archive.get(10.0f, 200, &out)));
        EXPECT_EQ(out, "");
    }
    // A damaged file gives what was read before the damage.
    write_file(path, read_file(testdata + "reference-testdata-int32.mseed").substr(0, 1300));
    EXPECT_FALSE(is_not_found(archive.get(0.0f, 20 * 86400)));
}

}  // namespace

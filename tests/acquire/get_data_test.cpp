#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "acquire/create_path.h"
#include "acquire/get_data.h"
#include "dsp/bandpass.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

namespace {

// Sample n after midnight at rate fs of the test signal: sines of 2 and 5 Hz, in counts.
float signal(int64_t n, int fs) {
    const double t = 6.283185307179586 * static_cast<double>(n) / fs;
    return static_cast<float>(std::round(1000 * std::sin(2 * t) + 400 * std::sin(5 * t + 0.3)));
}

// An archive at fs/s, band 1 to 0.4 fs Hz, and the path of its day file of XX.ABC.00.HHZ on
// 2013-02-10.
struct Day {
    Temp_dir tmp;
    Template_file control;
    const std::string path = tmp.path + "/ABC/2013/ABC.XX.00.HHZ.2013.041";
    explicit Day(int fs) {
        control.data_dir = tmp.path + "/";
        control.sample_rate = fs;
        control.freq_low = 1.0;
        control.freq_high = 0.4 * fs;
        EXPECT_EQ(createPath(tmp.path + "/ABC/2013"), 0);
    }
};

// The day file: the signal over samples [from, to), a gap, 800 more; bad samples (from midnight)
// are NaN and infinities in a float file.
struct Archive : Day {
    int64_t from, to;
    std::vector<int64_t> bad;
    Archive(int fs, int64_t from_, int64_t to_, std::vector<int64_t> bad_ = {})
        : Day(fs), from(from_), to(to_), bad(std::move(bad_)) {
        const float non_finite[] = {std::nanf(""), HUGE_VALF, -HUGE_VALF};
        for (int64_t first : {from, to + 800}) {
            std::vector<float> samples;
            for (int64_t n = first; n < (first == from ? to : first + 800); ++n)
                samples.push_back(signal(n, fs));
            for (size_t k = 0; k < bad.size() && first == from; ++k)
                samples[bad[k] - from] = non_finite[k % 3];
            const int64_t start_us = day_start_us(2013, 41) + first * 1000000 / fs;
            const Mseed_series series{"XX", "ABC", "00", "HHZ", double(fs), start_us, 4096};
            if (bad.empty())
                write_mseed_int(path, series, std::vector<int32_t>(samples.begin(), samples.end()));
            else
                write_mseed_float(path, series, samples);
        }
    }
    // Not data, so 0: outside the segments, bad samples, and each stretch's last sample.
    bool not_data(int64_t n) const {
        return n < from || (n >= to - 1 && n < to + 800) || n >= to + 1600 - 1 ||
               std::count(bad.begin(), bad.end(), n) > 0 ||
               std::count(bad.begin(), bad.end(), n + 1) > 0;
    }
    std::vector<float> get(float start, int length) const {
        return get_data(2013, 41, start, "XX", "ABC", "00", "HHZ", length, control);
    }
};

}  // namespace

// Windows at several rates, late in the day too, against a fresh double computation: the signal
// at the window's sample times (0 where no data) band-passed with up to 200 samples of padding.
TEST(GetData, WindowsHoldTheAskedSamplesAtEveryRateAndBadFilesDoNotCrash) {
    const Archive minute(100, 175, 6000), day(8, -240, 8 * 86000), fast(250, 0, 250 * 300),
        bad(100, 0, 6000, {3000, 3001, 3002, 3400});
    const Archive later(1000, 1000 * 79990, 1000 * 80070);  // float times step by 8 ms there
    // Window; first sample read; whether a leading and a trailing pad are cut.
    const std::tuple<const Archive*, float, int, int64_t, bool, bool> cases[] = {
        {&minute, 10.0f, 500, 800, true, true},         // read 8.0 to 17.0 s
        {&minute, 2.0f, 500, 200, false, true},         // too close to midnight for a leading pad
        {&day, 0.0f, 8 * 86400, 0, false, false},       // the whole day, both segments
        {&fast, 200.3f, 125, 50075 - 200, true, true},  // 0.5 s off the seconds grid
        {&bad, 30.0f, 500, 2800, true, true},           // non-finite samples are gaps
        {&later, 80000.0f, 1000 * 60, 1000 * 80000 - 200, true, true},
    };
    for (const auto& [archive, start, length, first, leading, trailing] : cases) {
        const int fs = archive->control.sample_rate;
        const int front = leading ? 200 : 0;
        std::vector<float> want;
        for (int64_t n = first; n < first + front + length + (trailing ? 200 : 0); ++n)
            want.push_back(archive->not_data(n) ? 0.0f : signal(n, fs));
        bandpass(want, 1.0, archive->control.freq_high, 3, fs);
        const std::vector<float> got = archive->get(start, length);
        ASSERT_EQ(got.size(), static_cast<size_t>(length)) << fs << "/s at " << start;
        // Interpolation rounding moves the output by about 0.5; a one-sample shift by over 100.
        for (size_t i = 0; i < got.size(); ++i) {
            const bool pad = archive->not_data(first + front + static_cast<int64_t>(i));
            ASSERT_NEAR(got[i], pad ? 0.0f : want[i + front], pad ? 0.0 : 2.0)
                << fs << "/s at " << start << ": " << i;
        }
    }

    // Bad samples are reported once per read; damaged files do not crash.
    testing::internal::CaptureStderr();
    EXPECT_EQ(bad.get(10.0f, 500).size(), 500u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Reading: " + bad.path + "\n" + bad.path +
                  ": 4 sample(s) not finite (NaN or infinity), read as missing data\n");

    write_file(minute.path, read_file(minute.path).substr(0, 4096 + 1300));  // truncated
    EXPECT_EQ(minute.get(10.0f, 500).size(), 500u);
    write_file(minute.path, std::string(2000, 'n'));  // not miniSEED
    EXPECT_EQ(minute.get(10.0f, 500), std::vector<float>{not_found_sentinel});
}

// Overlapping segments: the first comes first; a second of exact zeros is a gap, less is data.
TEST(GetData, OverlapsFirstComeAndZeroRunsOfASecondAreGaps) {
    const Day day(10);
    const Template_file& control = day.control;
    // 0 to 99.9 s with zeros at 20.0-20.8 s and 50.0-50.9 s; then 80 to 149.9 s.
    std::vector<int32_t> first(1000), second(700);
    for (int n = 0; n < 1000; ++n) {
        first[n] = (n >= 200 && n < 209) || (n >= 500 && n < 510) ? 0 : signal(n, 10);
        second[n % 700] = -3 * signal(800 + n % 700, 10);
    }
    const int64_t midnight = day_start_us(2013, 41);
    write_mseed_int(day.path, {"XX", "ABC", "00", "HHZ", 10.0, midnight, 512}, first);
    write_mseed_int(day.path, {"XX", "ABC", "00", "HHZ", 10.0, midnight + 80000000, 512}, second);

    testing::internal::CaptureStderr();
    std::ostringstream out;
    const Conditioned_trace got =
        condition_window(read_day(2013, 41, "XX", "ABC", "00", "HHZ", control, out), 2013, 41, 0.0f,
                         1600, control, out);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(got.data.size(), 2u);
    EXPECT_EQ(std::make_pair(got.data[0].first, got.data[0].end), std::make_pair(0, 499));
    EXPECT_EQ(std::make_pair(got.data[1].first, got.data[1].end), std::make_pair(510, 1499));
    std::vector<float> want(1800, 0.0f);
    for (int n = 0; n < 1499; ++n)
        want[n] = n < 499 || (n >= 510 && n < 999) ? first[n] : n >= 510 ? second[n - 800] : 0;
    bandpass(want, 1.0, 4.0, 3, 10);
    ASSERT_EQ(got.samples.size(), 1600u);
    for (int n = 0; n < 1600; ++n) {
        const bool data = n < 499 || (n >= 510 && n < 1499);
        ASSERT_NEAR(got.samples[n], data ? want[n] : 0.0f, data ? 0.1 : 0.0) << n;
    }
}

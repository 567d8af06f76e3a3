#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <random>

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

// Station XX.ABC.00.HHZ on 2013-02-10 in a scratch archive; the day file holds the signal at
// rate fs over samples [from, to) and, after a gap, 800 more.
struct Archive {
    Temp_dir tmp;
    Template_file control;
    const std::string path = tmp.path + "/ABC/2013/ABC.XX.00.HHZ.2013.041";
    int64_t from, to;
    Archive(int fs, int64_t from_, int64_t to_) : from(from_), to(to_) {
        control.data_dir = tmp.path + "/";
        control.sample_rate = fs;
        control.freq_low = 1.0;
        control.freq_high = 0.4 * fs;
        EXPECT_EQ(createPath(tmp.path + "/ABC/2013"), 0);
        for (int64_t first : {from, to + 800}) {
            std::vector<int32_t> samples;
            for (int64_t n = first; n < (first == from ? to : first + 800); ++n)
                samples.push_back(static_cast<int32_t>(signal(n, fs)));
            const int64_t start_us = day_start_us(2013, 41) + first * 1000000 / fs;
            write_mseed_int(path, {"XX", "ABC", "00", "HHZ", double(fs), start_us, 4096}, samples);
        }
    }
    std::vector<float> get(float start, int length) const {
        return get_data(2013, 41, start, "XX", "ABC", "00", "HHZ", length, control);
    }
};

TEST(GetData, WindowsMatchAFreshComputationAndDamageIsHandled) {
    const Archive minute(100, 175, 6000);   // the first minute, from 1.75 s
    const Archive day(8, -240, 8 * 86000);  // at 8/s every sample time is exact
    const Archive odd(16, 0, 16 * 300);     // 200 samples are 12.5 s
    // Window, then the samples it reads and how many are cut off each end after filtering.
    const std::tuple<const Archive*, float, int, int64_t, int, int, int> cases[] = {
        {&minute, 10.0f, 500, 800, 900, 200, 200},  // read 8.0 to 17.0 s
        {&minute, 10.0f, 550, 800, 900, 200, 200},  // the window is whole seconds
        {&minute, 1.5f, 500, 150, 700, 0, 200},     // too close to midnight for a leading pad
        {&minute, 2.0f, 500, 200, 700, 0, 200},
        {&day, 0.0f, 8 * 86400, 0, 8 * 86400, 0, 0},  // the whole day, up to the gap
        {&day, 85950.0f, 800, 8 * 85925, 1200, 200, 200},
        {&odd, 100.0f, 1600, 1400, 1992, 200, 200},  // still starts at 100 s
    };
    for (const auto& [archive, start, length, first, count, front, back] : cases) {
        // Outside the trace's first segment (its last sample included) the window is padding:
        // zero before and after filtering. Interpolation rounding moves the filter's
        // single-precision output by up to about 0.5; a one-sample shift by over 100.
        std::vector<float> want;
        auto padding = [&](int64_t n) { return n < archive->from || n >= archive->to - 1; };
        for (int64_t n = first; n < first + count; ++n)
            want.push_back(padding(n) ? 0.0f : signal(n, archive->control.sample_rate));
        bandpass(want, 1.0, archive->control.freq_high, 3, archive->control.sample_rate);
        const std::vector<float> got = archive->get(start, length);
        ASSERT_EQ(got.size(), static_cast<size_t>(count - front - back)) << start;
        for (size_t i = 0; i < got.size(); ++i) {
            const bool pad = padding(first + front + static_cast<int64_t>(i));
            ASSERT_NEAR(got[i], pad ? 0.0f : want[i + front], pad ? 0.0 : 2.0) << start << " " << i;
        }
    }
    EXPECT_TRUE(Archive(300, 0, 3000).get(5.0f, 10).empty());  // cuts never overrun

    std::string noise(2000, '\0');
    std::generate(noise.begin(), noise.end(), std::mt19937(11));
    write_file(minute.path, noise);
    EXPECT_EQ(minute.get(10.0f, 500), std::vector<float>{not_found_sentinel});
    const std::string ref = std::string(VEMLO_TESTDATA_DIR) + "/libmseed/reference-testdata-";
    write_file(minute.path, read_file(ref + "int32.mseed").substr(0, 1300));  // truncated
    EXPECT_EQ(minute.get(10.0f, 500).size(), 500u);

    testing::internal::CaptureStdout();
    errno = 0;
    EXPECT_EQ(createPath(minute.path + "/x"), -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "path [" + minute.path + "] not a dir \n");
}

}  // namespace

#include "scan/channel_measure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "scan/channels_file.h"
#include "support/temp_dir.h"

namespace {

// A smooth pulse of 2 Hz at 100 samples per second, zero outside [0, 60) samples.
double pulse(double k) {
    return k < 0 || k >= 60 ? 0.0 : std::sin(M_PI * k / 60) * std::sin(2 * M_PI * k / 50 + 0.3);
}

}  // namespace

TEST(ChannelMeasure, SubSampleLagsRatiosAndTheEdgesOfTheTrace) {
    const int m = 80;
    std::vector<float> templ(m), trace(400);
    for (int k = 0; k < m; ++k)
        templ[k] = float(pulse(k - 10));
    // The pulse again at twice the amplitude, 1.3 samples after position 200 and 2.6 before 100
    // at half.
    for (int k = 0; k < 400; ++k)
        trace[k] = float(2.0 * pulse(k - 210 - 1.3) + 0.5 * pulse(k - 110 + 2.6));
    Channel_measurement found = measure_channel(trace.data(), 400, 200, templ.data(), m, 5);
    ASSERT_TRUE(found.measured);
    EXPECT_NEAR(found.lag, 1.3, 0.02);
    EXPECT_NEAR(found.cc, 1.0, 1e-3);
    EXPECT_LE(found.cc, 1.0 + 1e-9);
    EXPECT_NEAR(found.ratio, 2.0, 0.02);
    found = measure_channel(trace.data(), 400, 100, templ.data(), m, 5);
    EXPECT_NEAR(found.lag, -2.6, 0.02);
    EXPECT_NEAR(found.ratio, 0.5, 0.005);

    // Lags whose window leaves the trace are passed over: the peak at 2.6 samples before 100 is
    // out of reach from the trace's end; at the end of the range it is not refined.
    found = measure_channel(trace.data() + 97, 303, 3, templ.data(), m, 5);
    EXPECT_EQ(found.lag, -3.0);
    found = measure_channel(trace.data(), 400, 200, templ.data(), m, 1);
    EXPECT_EQ(found.lag, 1.0);
    EXPECT_FALSE(measure_channel(trace.data(), 400, 330, templ.data(), m, 9).measured);
    EXPECT_TRUE(measure_channel(trace.data(), 400, 330, templ.data(), m, 10).measured);
    EXPECT_FALSE(measure_channel(trace.data(), 40, 0, templ.data(), m, 0).measured);

    // A flat window or template correlates as 0; a template of zeros has no ratio.
    const std::vector<float> zeros(m, 0.0f), level(400, 3.0f);
    found = measure_channel(level.data(), 400, 200, templ.data(), m, 2);
    EXPECT_EQ(found.cc, 0.0);
    double power = 0.0;
    for (float t : templ)
        power += double(t) * t;
    EXPECT_NEAR(found.ratio, 3.0 / std::sqrt(power / m), 1e-6);
    found = measure_channel(trace.data(), 400, 200, zeros.data(), m, 2);
    EXPECT_EQ(found.cc, 0.0);
    EXPECT_TRUE(std::isnan(found.ratio));
}

TEST(ChannelMeasure, RowsMaxLagAndAppending) {
    Channel_measurement found{true, 0.98765432, -1.25, 0.5};
    EXPECT_EQ(format_channel_row("1360800000.100", {"XX", "S1", "--", "HHZ"}, found, 100.0, 2013,
                                 45, 0.1 + 0.2 - 0.0125),
              "1360800000.100,XX,S1,,HHZ,0.987654,-0.0125000,2013-02-14T00:00:00.287500Z,0.5\n");
    found.ratio = std::nan("");
    // Codes with a comma are quoted; picks before midnight or past the day carry into the
    // neighbouring dates.
    EXPECT_EQ(format_channel_row("1.000", {"X,Y", "S\"1", "00", "HHZ"}, found, 10.0, 2013, 45,
                                 -0.0000004),
              "1.000,\"X,Y\",\"S\"\"1\",00,HHZ,0.987654,-0.1250000,2013-02-14T00:00:00.000000Z,"
              "nan\n");
    EXPECT_EQ(utc_microseconds(2013, 45, -0.25), "2013-02-13T23:59:59.750000Z");
    EXPECT_EQ(utc_microseconds(2012, 366, 86399.9999996), "2013-01-01T00:00:00.000000Z");
    EXPECT_EQ(channels_file_name("out/quake one.txt"), "out/quake one.channels.csv");

    EXPECT_EQ(max_lag_samples(0.5, 100), 50);
    EXPECT_EQ(max_lag_samples(0.29, 100), 29);  // 28.999999999999996 in binary
    EXPECT_EQ(max_lag_samples(0.0149, 200), 2);
    ::unsetenv("VEMLO_MAX_LAG");
    EXPECT_EQ(*max_lag_seconds().value, 0.5);
    for (const char* good : {"0", "1.5", "60", "2e1"}) {
        ::setenv("VEMLO_MAX_LAG", good, 1);
        EXPECT_EQ(*max_lag_seconds().value, std::atof(good)) << good;
    }
    for (const char* bad : {"", "-0.1", "60.5", "nan", "inf", "0x10", "1 ", "half"}) {
        ::setenv("VEMLO_MAX_LAG", bad, 1);
        EXPECT_EQ(max_lag_seconds().error,
                  std::string("Error: VEMLO_MAX_LAG must be a number of seconds from 0 to 60, "
                              "not \"") +
                      bad + "\"")
            << bad;
    }
    ::unsetenv("VEMLO_MAX_LAG");

    Temp_dir dir;
    EXPECT_TRUE(append_channel_rows(dir.path + "/a.channels.csv", "x\n"));
    EXPECT_TRUE(append_channel_rows(dir.path + "/a.channels.csv", "y\n"));
    EXPECT_EQ(read_file(dir.path + "/a.channels.csv"), "x\ny\n");
    EXPECT_FALSE(append_channel_rows(dir.path, "x\n"));
    EXPECT_FALSE(append_channel_rows("/dev/full", "x\n"));
}

#include "dsp/time_convert.h"

#include <gtest/gtest.h>

#include <tuple>

TEST(TimeConvertTest, ConversionsAcrossDayAndYearBoundaries) {
    EXPECT_EQ(isLeapYear(2000) + isLeapYear(2012) + isLeapYear(2400), 3);
    EXPECT_EQ(isLeapYear(1900) + isLeapYear(2013) + isLeapYear(2100), 0);
    // Days and seconds past either end carry into the neighbouring days and years.
    EXPECT_EQ(time_to_epoch(2012, 60, 3600.25), 1330477200.25);
    EXPECT_EQ(time_to_epoch(2013, 366, 0.0), time_to_epoch(2014, 1, 0.0));
    EXPECT_EQ(time_to_epoch(2000, 1, -1.5), 946684798.5);
    EXPECT_EQ(time_to_epoch(1970, 1, 5e9 + 0.5), 5e9 + 0.5);  // beyond the int range
    const auto doy = [](long t) {
        const Doy_time d = epoch_to_time(t);
        return std::make_tuple(d.year, d.doy, d.sec);
    };
    EXPECT_EQ(doy(1356998399), std::make_tuple(2012, 366, 86399));
    EXPECT_EQ(doy(-1), std::make_tuple(1969, 365, 86399));
    for (int day = 1; day <= 366; ++day)
        EXPECT_EQ(doy(static_cast<long>(time_to_epoch(2016, day, 43210.0))),
                  std::make_tuple(2016, day, 43210));
    const auto cal = [](int year, int day, double sec) {
        const Calendar_time c = doy_to_day(year, day, sec);
        return std::make_tuple(c.year, c.month, c.day, c.hour, c.minute, c.second);
    };
    EXPECT_EQ(cal(2012, 60, 3600.25), std::make_tuple(2012, 2, 29, 1, 0, 0.25));
    EXPECT_EQ(cal(2013, 1, -1.5), std::make_tuple(2012, 12, 31, 23, 59, 58.5));
    EXPECT_EQ(cal(2011, 366, 86399.0), std::make_tuple(2012, 1, 1, 23, 59, 59.0));
}

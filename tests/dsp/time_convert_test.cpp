#include "dsp/time_convert.h"

#include <gtest/gtest.h>

TEST(TimeConvertTest, LeapYearsAndDayOfYearToEpoch) {
    EXPECT_EQ(isLeapYear(2000) + isLeapYear(2012) + isLeapYear(2400), 3);
    EXPECT_EQ(isLeapYear(1900) + isLeapYear(2013) + isLeapYear(2100), 0);

    EXPECT_EQ(time_to_epoch(1970, 1, 0.0), 0.0);
    EXPECT_EQ(time_to_epoch(2012, 60, 3600.25), 1330477200.25);
    // Day 366 of a common year is 1 January of the next; day 0 is 31 December before.
    EXPECT_EQ(time_to_epoch(2013, 366, 0.0), time_to_epoch(2014, 1, 0.0));
    EXPECT_EQ(time_to_epoch(2013, 0, 0.0), time_to_epoch(2012, 366, 0.0));
    EXPECT_EQ(time_to_epoch(2013, 0, 0.0), 1356912000.0);
    // Seconds past the day, and before it, carry into the neighbouring days.
    EXPECT_EQ(time_to_epoch(2014, 32, 86400.5), time_to_epoch(2014, 33, 0.5));
    EXPECT_EQ(time_to_epoch(2014, 32, 86400.5), 1391299200.5);
    EXPECT_EQ(time_to_epoch(2000, 1, -1.5), 946684798.5);
    // Seconds beyond an int still count.
    EXPECT_EQ(time_to_epoch(1970, 1, 5e9 + 0.5), 5e9 + 0.5);
}

TEST(TimeConvertTest, EpochToDayOfYear) {
    const auto check = [](long t, int year, int doy, int sec) {
        const Doy_time d = epoch_to_time(t);
        EXPECT_EQ(d.year, year) << t;
        EXPECT_EQ(d.doy, doy) << t;
        EXPECT_EQ(d.sec, sec) << t;
    };
    check(0, 1970, 1, 0);
    check(1356998399, 2012, 366, 86399);
    check(1330477200, 2012, 60, 3600);  // 29 February of a leap year
    check(1362096000, 2013, 60, 0);     // 1 March of a common year
    check(951868799, 2000, 60, 86399);  // 29 February 2000
    check(-1, 1969, 365, 86399);
    // Round trip through every day of a leap year.
    for (int doy = 1; doy <= 366; ++doy) {
        const Doy_time d = epoch_to_time(static_cast<long>(time_to_epoch(2016, doy, 43210.0)));
        EXPECT_EQ(d.year, 2016);
        EXPECT_EQ(d.doy, doy);
        EXPECT_EQ(d.sec, 43210);
    }
}

TEST(TimeConvertTest, DayOfYearToCalendar) {
    const auto check = [](Calendar_time c, int year, int month, int day, int hour, int minute,
                          double second) {
        EXPECT_EQ(c.year, year);
        EXPECT_EQ(c.month, month);
        EXPECT_EQ(c.day, day);
        EXPECT_EQ(c.hour, hour);
        EXPECT_EQ(c.minute, minute);
        EXPECT_EQ(c.second, second);
    };
    check(doy_to_day(2012, 60, 3600.25), 2012, 2, 29, 1, 0, 0.25);
    check(doy_to_day(2013, 60, 0.0), 2013, 3, 1, 0, 0, 0.0);
    check(doy_to_day(2013, 1, -0.5), 2013, 1, 1, 0, 0, -0.5);
    check(doy_to_day(2013, 1, -1.5), 2012, 12, 31, 23, 59, 59.0 - 0.5);
    check(doy_to_day(2013, 366, 59.75), 2014, 1, 1, 0, 0, 59.75);
    check(doy_to_day(2012, 366, 86399.0), 2012, 12, 31, 23, 59, 59.0);
}

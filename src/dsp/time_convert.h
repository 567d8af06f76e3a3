// Conversions between year and day of year, calendar dates and epoch seconds (UTC, no leap
// seconds). Out-of-range days and seconds are carried into the neighbouring days. Years the C
// calendar record cannot hold give NaN (time_to_epoch, doy_to_day's second) or {0, 0, 0}.
#pragma once

struct Doy_time {
    int year;
    int doy;  // 1 = 1 January
    int sec;  // whole seconds after 00:00:00 UTC, 0..86399
};

struct Calendar_time {
    int year;
    int month;  // 1..12
    int day;    // 1..31
    int hour;
    int minute;
    double second;  // with the fraction of the input seconds
};

// 1 when year is a Gregorian leap year, else 0.
int isLeapYear(int year);

// Epoch seconds of day doy of year plus sec seconds (fraction kept).
double time_to_epoch(int year, int doy, double sec);

// Year, day of year and whole seconds of day of the epoch second t.
Doy_time epoch_to_time(long t);

// Calendar date and time of the instant sec seconds after the start of day doy of year.
Calendar_time doy_to_day(int year, int doy, double sec);

// Day numbers of the proleptic Gregorian calendar, as the control file counts days.
#pragma once

#include <string>

// Days from 1970-01-01 to day doy of year; day numbers past either end of the year carry into
// the neighbouring years (day 366 of 2023 is 1 January 2024, day 0 is 31 December of the year
// before). Any year and day give a result; there is no failure.
long long day_number(long long year, long long doy);

// The date of day number day (days from 1970-01-01) as "YYYY-MM-DD (YYYY DDD)": calendar date,
// then year and day of year. Years outside 0 to 9999 are written as they come (with a sign).
std::string day_label(long long day);

#include "control/calendar.h"

#include <cstdio>

namespace {

// a / b rounded toward minus infinity (b > 0).
long long floor_div(long long a, long long b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

// Days from 1970-01-01 to 1 January of year.
long long days_to_new_year(long long year) {
    const long long y = year - 1;
    // 719162: days from 0001-01-01 to 1970-01-01.
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400) - 719162;
}

}  // namespace

long long day_number(long long year, long long doy) {
    return days_to_new_year(year) + doy - 1;
}

std::string day_label(long long day) {
    // The year holding day: a first guess from the mean year length, then corrected.
    long long year = 1970 + floor_div(day * 400, 146097);
    while (days_to_new_year(year) > day)
        --year;
    while (days_to_new_year(year + 1) <= day)
        ++year;
    const long long doy = day - days_to_new_year(year) + 1;
    const bool leap = days_to_new_year(year + 1) - days_to_new_year(year) == 366;
    const int month_days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    long long day_of_month = doy;
    while (day_of_month > month_days[month]) {
        day_of_month -= month_days[month];
        ++month;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02lld (%lld %03lld)", year, month + 1,
                  day_of_month, year, doy);
    return text;
}

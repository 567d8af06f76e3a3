#include "dsp/time_convert.h"

#include <climits>
#include <cmath>
#include <ctime>
#include <limits>

namespace {

constexpr int days_before_month[2][12] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

// Epoch of 00:00:00 UTC on day doy of year plus whole_sec seconds, normalized by timegm.
// False when the year does not fit the calendar record.
bool day_epoch(int year, int doy, int whole_sec, time_t* e) {
    const long long tm_year = static_cast<long long>(year) - 1900;
    if (tm_year < INT_MIN) {
        return false;
    }
    struct tm rec {};
    rec.tm_year = static_cast<int>(tm_year);
    rec.tm_mon = 0;
    rec.tm_mday = doy;
    rec.tm_hour = 0;
    rec.tm_min = 0;
    rec.tm_sec = whole_sec;
    *e = timegm(&rec);
    return true;
}

// Splits sec into whole seconds that fit an int and the rest (fraction, plus whatever whole
// seconds lie beyond int; those are added back in double).
void split_seconds(double sec, int* whole, double* rest) {
    double ipart = 0.0;
    const double frac = std::modf(sec, &ipart);
    if (ipart >= INT_MIN && ipart <= INT_MAX) {
        *whole = static_cast<int>(ipart);
        *rest = frac;
    } else {
        *whole = 0;
        *rest = sec;
    }
}

}  // namespace

int isLeapYear(int year) {
    return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 1 : 0;
}

double time_to_epoch(int year, int doy, double sec) {
    int whole = 0;
    double rest = 0.0;
    split_seconds(sec, &whole, &rest);
    time_t e = 0;
    if (!day_epoch(year, doy, whole, &e)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(e) + rest;
}

Doy_time epoch_to_time(long t) {
    const time_t tt = static_cast<time_t>(t);
    struct tm rec {};
    if (gmtime_r(&tt, &rec) == nullptr || rec.tm_year > INT_MAX - 1900) {
        return Doy_time{0, 0, 0};
    }
    Doy_time out;
    out.year = rec.tm_year + 1900;
    out.doy = rec.tm_mday + days_before_month[isLeapYear(out.year)][rec.tm_mon];
    out.sec = rec.tm_hour * 3600 + rec.tm_min * 60 + rec.tm_sec;
    return out;
}

Calendar_time doy_to_day(int year, int doy, double sec) {
    int whole = 0;
    double rest = 0.0;
    split_seconds(sec, &whole, &rest);
    time_t e = 0;
    struct tm rec {};
    if (!day_epoch(year, doy, whole, &e) || gmtime_r(&e, &rec) == nullptr ||
        rec.tm_year > INT_MAX - 1900) {
        return Calendar_time{0, 0, 0, 0, 0, std::numeric_limits<double>::quiet_NaN()};
    }
    return Calendar_time{rec.tm_year + 1900, rec.tm_mon + 1, rec.tm_mday,
                         rec.tm_hour,        rec.tm_min,     rec.tm_sec + rest};
}

// Writing small miniSEED files for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Mseed_series {
    std::string network = "XX", station = "ABC", location = "00", channel = "HHZ";
    double samprate = 100.0;
    int64_t start_us = 0;  // microseconds since 1970
    int reclen = 512;      // record length in bytes, a power of 2 from 256 to 8192
};

// Epoch microseconds of 00:00:00 UTC on day doy of year, plus seconds.
int64_t day_start_us(int year, int doy, double seconds = 0.0);

// Append records of Steim-2 integers or IEEE floats (NaN and infinities too) to path, creating
// it; failing the current test on error.
void write_mseed_int(const std::string& path, const Mseed_series& series,
                     const std::vector<int32_t>& samples);
void write_mseed_float(const std::string& path, const Mseed_series& series,
                       const std::vector<float>& samples);

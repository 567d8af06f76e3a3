#include "support/mseed_writer.h"

#include <gtest/gtest.h>
#include <libmseed.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

void append_record(char* record, int length, void* handle) {
    std::fwrite(record, 1, static_cast<size_t>(length), static_cast<FILE*>(handle));
}

// samples is a copy: msr_pack may modify it.
template <typename T>
void write_mseed(const std::string& path, const Mseed_series& series, std::vector<T> samples,
                 char sampletype, int8_t encoding) {
    FILE* out = std::fopen(path.c_str(), "ab");
    ASSERT_NE(out, nullptr) << "cannot write " << path;
    MSRecord* msr = msr_init(nullptr);
    std::snprintf(msr->network, sizeof msr->network, "%s", series.network.c_str());
    std::snprintf(msr->station, sizeof msr->station, "%s", series.station.c_str());
    std::snprintf(msr->location, sizeof msr->location, "%s", series.location.c_str());
    std::snprintf(msr->channel, sizeof msr->channel, "%s", series.channel.c_str());
    msr->dataquality = 'D';
    msr->starttime = series.start_us;
    msr->samprate = series.samprate;
    msr->reclen = series.reclen;
    msr->byteorder = 1;
    msr->encoding = encoding;
    msr->sampletype = sampletype;
    msr->datasamples = samples.data();
    msr->numsamples = static_cast<int64_t>(samples.size());
    int64_t packed = 0;
    const int records = msr_pack(msr, append_record, out, &packed, 1, 0);
    msr->datasamples = nullptr;  // owned by samples
    msr_free(&msr);
    std::fclose(out);
    ASSERT_GE(records, 0) << "msr_pack failed for " << path;
    ASSERT_EQ(packed, static_cast<int64_t>(samples.size())) << "samples left unpacked in " << path;
}

}  // namespace

void write_mseed_int(const std::string& path, const Mseed_series& series,
                     const std::vector<int32_t>& samples) {
    write_mseed(path, series, samples, 'i', DE_STEIM2);
}

void write_mseed_float(const std::string& path, const Mseed_series& series,
                       const std::vector<float>& samples) {
    write_mseed(path, series, samples, 'f', DE_FLOAT32);
}

int64_t day_start_us(int year, int doy, double seconds) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mday = doy;
    return static_cast<int64_t>(timegm(&tm)) * 1000000 + static_cast<int64_t>(seconds * 1e6);
}

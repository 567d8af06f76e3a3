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

}  // namespace

void write_mseed_int(const std::string& path, const Mseed_series& series,
                     const std::vector<int32_t>& samples) {
    std::vector<int32_t> copy(samples);  // msr_pack takes a non-const buffer
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
    msr->encoding = DE_STEIM2;
    msr->sampletype = 'i';
    msr->datasamples = copy.data();
    msr->numsamples = static_cast<int64_t>(copy.size());
    int64_t packed = 0;
    const int records = msr_pack(msr, append_record, out, &packed, 1, 0);
    msr->datasamples = nullptr;  // owned by copy
    msr_free(&msr);
    std::fclose(out);
    ASSERT_GE(records, 0) << "msr_pack failed for " << path;
    ASSERT_EQ(packed, static_cast<int64_t>(copy.size())) << "samples left unpacked in " << path;
}

int64_t day_start_us(int year, int doy, double seconds) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mday = doy;
    return static_cast<int64_t>(timegm(&tm)) * 1000000 + static_cast<int64_t>(seconds * 1e6);
}

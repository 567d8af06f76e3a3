#include "acquire/mseed_reader.h"

#include <libmseed.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <utility>

#include "acquire/steim2_decode.h"

int verbose = 0;
int reclen = -1;
double timetol = -1.0;
double sampratetol = -1.0;
Input_node* filelist = nullptr;

namespace {

// Network, station, location and channel codes of a record.
struct Codes {
    bool known = false;
    std::string network, station, location, channel;
};

Codes codes_of(const MSRecord* record) {
    return {true, record->network, record->station, record->location, record->channel};
}

bool same_channel(const MSRecord* record, const Codes& codes) {
    return codes.network == record->network && codes.station == record->station &&
           codes.location == record->location && codes.channel == record->channel;
}

// Whether the library reads record's samples with their bytes swapped: when blockette 1000
// names another byte order than the host's, or, without it, when the header's was (its year and
// day are not valid in the host's order).
bool data_swapped(const MSRecord* record) {
    const bool big_endian_host = ms_bigendianhost() != 0;
    if (record->Blkt1000 != nullptr)
        return big_endian_host ? record->byteorder == 0 : record->byteorder != 0;
    uint16_t year, day;
    std::memcpy(&year, record->record + 20, sizeof year);
    std::memcpy(&day, record->record + 22, sizeof day);
    return !MS_ISVALIDYEARDAY(year, day);
}

// Decodes the samples of record, read without them. Steim-2 in big-endian words (nearly every
// day file) is decoded here; any other record, or one that does not decode cleanly, is decoded by
// the library, which reports what it finds. Returns false for a record whose samples the library
// cannot decode: such a record is passed over, as the library's reader passes it over.
bool decode_samples(MSRecord* record) {
    const bool steim2 = record->encoding == DE_STEIM2 && record->byteorder == 1 &&
                        record->Blkt1000 != nullptr && unpackdatabyteorder < 0 &&
                        record->fsdh != nullptr && record->samplecnt > 0;
    if (steim2) {
        const int offset = record->fsdh->data_offset;
        if (offset >= 48 && offset < record->reclen) {
            void* room = std::realloc(
                record->datasamples, static_cast<std::size_t>(record->samplecnt) * sizeof(int32_t));
            if (room != nullptr) {
                record->datasamples = room;
                const auto* frames =
                    reinterpret_cast<const unsigned char*>(record->record) + offset;
                if (decode_steim2(frames, static_cast<std::size_t>(record->reclen - offset),
                                  record->samplecnt, static_cast<int32_t*>(room))) {
                    record->numsamples = record->samplecnt;
                    record->sampletype = 'i';
                    return true;
                }
            }
        }
    }
    // The library decodes the samples alone, with the byte order it would choose for them
    // (blockette 1000's, else the header's); unpacking the whole record again would print the
    // header's warnings a second time. A record that names no samples has none.
    if (unpackheaderbyteorder < 0 && unpackdatabyteorder < 0) {
        if (record->samplecnt <= 0) {
            record->numsamples = 0;
            return true;
        }
        std::free(record->datasamples);  // the library allocates its own
        record->datasamples = nullptr;
        const int decoded =
            msr_unpack_data(record, data_swapped(record) ? 1 : 0, static_cast<flag>(verbose - 1));
        if (decoded < 0)
            return false;
        record->numsamples = decoded;
        return true;
    }
    // Otherwise it unpacks the record again, with its samples, into one of its own.
    MSRecord* full = nullptr;
    const int code =
        msr_unpack(record->record, record->reclen, &full, 1, static_cast<flag>(verbose - 1));
    if (code == MS_NOERROR) {
        std::swap(record->datasamples, full->datasamples);
        record->numsamples = full->numsamples;
        record->sampletype = full->sampletype;
    }
    msr_free(&full);
    return code == MS_NOERROR;
}

// Adds the records of source's channel to group, the channel being that of the first data
// record read when codes is still empty. Records read before an error stay in the group.
void read_records(MSTraceGroup* group, const Mseed_source& source, Codes& codes) {
    std::fprintf(stderr, "Reading: %s\n", source.path.c_str());
    MSRecord* record = nullptr;
    int code;
    // Headers first: only the records of the channel, up to the time asked for, are decoded.
    while ((code = ms_readmsr(&record, source.path.c_str(), reclen, nullptr, nullptr, 1, 0,
                              static_cast<flag>(verbose - 1))) == MS_NOERROR) {
        if (!codes.known)
            codes = codes_of(record);
        else if (!same_channel(record, codes))
            continue;
        if (static_cast<double>(record->starttime) >= source.until)
            break;
        if (decode_samples(record))
            mst_addmsrtogroup(group, record, 0, timetol, sampratetol);
    }
    if (code != MS_NOERROR && code != MS_ENDOFFILE)
        std::fprintf(stderr, "Error reading %s: %s\n", source.path.c_str(), ms_errorstr(code));
    ms_readmsr(&record, nullptr, 0, nullptr, nullptr, 0, 0, 0);
}

// The reported rate, or the rate derived from the trace's span when the span is off by more
// than half a sample period (reported once on standard error).
double checked_rate(const MSTrace* trace) {
    const double reported = trace->samprate;
    if (trace->starttime >= trace->endtime)
        return reported;
    const int64_t span = trace->endtime - trace->starttime;
    const double expected = static_cast<double>((trace->numsamples - 1) * 1000000) / reported;
    const double period = reported != 0.0 && std::fabs(1000000 / reported) < 9e18
                              ? static_cast<double>(static_cast<int64_t>(1000000 / reported))
                              : 0.0;
    // An expected span beyond the 64-bit range (a rate of 0) always disagrees.
    const bool disagrees =
        !(std::fabs(expected) < 9e18) ||
        static_cast<double>(std::llabs(span - static_cast<int64_t>(expected))) > period / 2.0;
    if (!disagrees)
        return reported;
    const double derived =
        static_cast<double>(trace->numsamples - 1) * 1000000.0 / static_cast<double>(span);
    std::fprintf(
        stderr, "[%s.%s.%s.%s] Reported sample rate different than derived rate (%g versus %g)\n",
        trace->network, trace->station, trace->location, trace->channel, reported, derived);
    return derived;
}

// The trace's samples as floats, or false (with a message naming file) when it has none or
// they are not numbers. The library's block is released as soon as it has been copied.
bool take_samples(MSTrace* trace, Mseed_segment& out, const char* file) {
    const int64_t count = trace->numsamples;
    if (count <= 0 || trace->datasamples == nullptr) {
        std::fprintf(stderr, "No data samples in %s\n", file);
        return false;
    }
    if (count > std::numeric_limits<int32_t>::max()) {
        std::fprintf(stderr, "Too many samples in %s\n", file);
        return false;
    }
    const char type = trace->sampletype;
    if (type != 'i' && type != 'f' && type != 'd') {
        std::fprintf(stderr, "Unsupported sample type '%c' in %s\n", type, file);
        return false;
    }
    if (!(out.samprate > 0.0) || !std::isfinite(out.samprate)) {
        std::fprintf(stderr, "Unusable sample rate %g in %s\n", out.samprate, file);
        return false;
    }
    // Filled by appending, so the samples are written once rather than zeroed first.
    out.samples.reserve(static_cast<size_t>(count));
    if (type == 'i') {
        const auto* values = static_cast<const int32_t*>(trace->datasamples);
        out.samples.assign(values, values + count);
    } else if (type == 'f') {
        const auto* values = static_cast<const float*>(trace->datasamples);
        out.samples.assign(values, values + count);
    } else {
        const auto* values = static_cast<const double*>(trace->datasamples);
        for (int64_t i = 0; i < count; ++i)
            out.samples.push_back(static_cast<float>(values[i]));
    }
    std::free(trace->datasamples);
    trace->datasamples = nullptr;
    trace->numsamples = 0;
    return true;
}

// The segments of group, the first one's reported rate ruling.
std::vector<Mseed_segment> segments_of(MSTraceGroup* group, const char* file) {
    std::vector<Mseed_segment> segments;
    double first_rate = 0.0;
    for (MSTrace* trace = group->traces; trace != nullptr; trace = trace->next) {
        if (!segments.empty() && !MS_ISRATETOLERABLE(trace->samprate, first_rate)) {
            char start[40];
            ms_hptime2isotimestr(trace->starttime, start, 1);
            std::fprintf(stderr,
                         "[%s.%s.%s.%s] Segment of %lld samples from %s skipped: %g samples per "
                         "second, not the %g of the first segment\n",
                         trace->network, trace->station, trace->location, trace->channel,
                         static_cast<long long>(trace->numsamples), start, trace->samprate,
                         first_rate);
            continue;
        }
        Mseed_segment segment;
        segment.starttime = static_cast<double>(trace->starttime);
        segment.samprate = checked_rate(trace);
        if (!take_samples(trace, segment, file))
            continue;
        if (segments.empty())
            first_rate = trace->samprate;
        segments.push_back(std::move(segment));
    }
    return segments;
}

}  // namespace

Mseed_first_record peek_mseed(const std::string& path) {
    Mseed_first_record first;
    MSRecord* record = nullptr;
    if (ms_readmsr(&record, path.c_str(), reclen, nullptr, nullptr, 1, 0, 0) == MS_NOERROR) {
        first.samprate =
            record->samprate > 0.0 && std::isfinite(record->samprate) ? record->samprate : 0.0;
        first.sample_bytes = record->encoding == DE_FLOAT64 ? 8 : 4;
    }
    ms_readmsr(&record, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    return first;
}

std::vector<Mseed_segment> read_mseed_channel(const std::vector<Mseed_source>& sources) {
    // The reader and the library write to standard error; what the program printed before
    // goes first, so that both streams on one pipe read in the order of events.
    std::cout.flush();
    std::fflush(stdout);
    if (sources.empty()) {
        std::fprintf(stderr, "No input file named\n");
        return {};
    }
    MSTraceGroup* group = mst_initgroup(nullptr);
    if (group == nullptr) {
        std::fprintf(stderr, "Out of memory reading %s\n", sources[0].path.c_str());
        return {};
    }
    Codes codes;
    read_records(group, sources[0], codes);
    std::vector<Mseed_segment> segments;
    if (group->traces == nullptr) {
        std::fprintf(stderr, "No miniSEED trace in %s\n", sources[0].path.c_str());
    } else {
        for (std::size_t k = 1; k < sources.size(); ++k)
            read_records(group, sources[k], codes);
        // Records out of time order can leave pieces that continue one another in separate
        // traces: they are joined.
        mst_groupheal(group, timetol, sampratetol);
        segments = segments_of(group, sources[0].path.c_str());
    }
    mst_freegroup(&group);
    return segments;
}

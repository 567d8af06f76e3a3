#include "acquire/mseed_reader.h"

#include <libmseed.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

int verbose = 0;
int reclen = -1;
double timetol = -1.0;
double sampratetol = -1.0;
Input_node* filelist = nullptr;

namespace {

// Reads every record of file into group; records read before an error stay in it.
void read_records(MSTraceGroup* group, const char* file) {
    MSRecord* record = nullptr;
    int code;
    while ((code = ms_readmsr(&record, file, reclen, nullptr, nullptr, 1, 1,
                              static_cast<flag>(verbose - 1))) == MS_NOERROR)
        mst_addmsrtogroup(group, record, 1, timetol, sampratetol);
    if (code != MS_ENDOFFILE)
        std::fprintf(stderr, "Error reading %s: %s\n", file, ms_errorstr(code));
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

// Moves the trace's samples into a block of 32-bit words: integers and floats as they are,
// 64-bit floats narrowed to float. Returns the word type, or 0 (with a message) when the
// samples are not numbers.
char take_samples(MSTrace* trace, Mseed_trace& out, const char* file) {
    const int64_t count = trace->numsamples;
    if (count <= 0 || trace->datasamples == nullptr) {
        std::fprintf(stderr, "No data samples in %s\n", file);
        return 0;
    }
    if (count > std::numeric_limits<int32_t>::max()) {
        std::fprintf(stderr, "Too many samples in %s\n", file);
        return 0;
    }
    const char type = trace->sampletype;
    if (type != 'i' && type != 'f' && type != 'd') {
        std::fprintf(stderr, "Unsupported sample type '%c' in %s\n", type, file);
        return 0;
    }
    if (!(out.samprate > 0.0) || !std::isfinite(out.samprate)) {
        std::fprintf(stderr, "Unusable sample rate %g in %s\n", out.samprate, file);
        return 0;
    }
    if (type == 'i' || type == 'f') {
        // The trace's own buffer already holds 4-byte words: take it over instead of copying.
        out.datasamples = static_cast<int32_t*>(trace->datasamples);
        trace->datasamples = nullptr;
        trace->numsamples = 0;
    } else {
        auto* block = static_cast<int32_t*>(std::malloc(static_cast<size_t>(count) * 4));
        if (block == nullptr) {
            std::fprintf(stderr, "Out of memory reading %s\n", file);
            return 0;
        }
        const auto* values = static_cast<const double*>(trace->datasamples);
        for (int64_t i = 0; i < count; ++i) {
            const float value = static_cast<float>(values[i]);
            std::memcpy(&block[i], &value, sizeof value);
        }
        out.datasamples = block;
    }
    out.numsamples = static_cast<int32_t>(count);
    return type == 'i' ? 'i' : 'f';
}

}  // namespace

Mseed_trace mseed2ascii(char** names) {
    Mseed_trace result;
    // The reader and the library write to standard error; what the program printed before
    // goes first, so that both streams on one pipe read in the order of events.
    std::cout.flush();
    std::fflush(stdout);
    if (names == nullptr || names[0] == nullptr) {
        std::fprintf(stderr, "No input file named\n");
        return result;
    }
    // The name is a file, never a list file: a day file under a directory named "@..." is
    // read as it is.
    if (addnode(&filelist, nullptr, 0, names[0], static_cast<int>(std::strlen(names[0])) + 1) ==
        nullptr)
        std::fprintf(stderr, "Error adding file name to list\n");
    std::fprintf(stderr, "Reading: %s\n", names[0]);

    MSTraceGroup* group = mst_initgroup(nullptr);
    for (Input_node* node = filelist; node != nullptr; node = node->next)
        read_records(group, node->data);

    // The first trace is the one begun by the first data record; later segments, channels and
    // qualities are ignored.
    MSTrace* trace = group != nullptr ? group->traces : nullptr;
    if (trace == nullptr) {
        std::fprintf(stderr, "No miniSEED trace in %s\n", names[0]);
    } else {
        result.samplesize = ms_samplesize(trace->sampletype);
        result.samprate = checked_rate(trace);
        result.starttime = static_cast<double>(trace->starttime);
        result.endtime = static_cast<double>(trace->endtime);
        result.wordtype = take_samples(trace, result, names[0]);
    }
    mst_freegroup(&group);
    return result;
}

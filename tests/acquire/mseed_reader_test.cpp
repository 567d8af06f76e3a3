#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "acquire/mseed_reader.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

namespace {

const std::string data_dir = std::string(VEMLO_TESTDATA_DIR) + "/libmseed/";

// A trace read through mseed2ascii with the words decoded, and what the reader printed.
struct Read {
    Mseed_trace trace;
    std::vector<double> values;
    std::string err;
};

Read read(const std::string& path) {
    std::string name = path;
    char* names[] = {name.data(), nullptr};
    testing::internal::CaptureStderr();
    Read result;
    result.trace = mseed2ascii(names);
    result.err = testing::internal::GetCapturedStderr();
    for (int32_t i = 0; i < result.trace.numsamples; ++i) {
        float value;
        std::memcpy(&value, &result.trace.datasamples[i], sizeof value);
        result.values.push_back(result.trace.wordtype == 'i' ? result.trace.datasamples[i]
                                                             : static_cast<double>(value));
    }
    std::free(result.trace.datasamples);
    return result;
}

// 2012-05-12T00:00:00 UTC in microseconds.
const double may12 = static_cast<double>(day_start_us(2012, 133));

TEST(MseedReader, ReferenceFilesGiveTheirFirstTrace) {
    struct Case {
        const char* file;
        int count;
        double rate;
        double start;  // microseconds after 2012-05-12T00:00:00 (or absolute when 0 offset)
        double end;
        char type;
        int size;
        double first[3];
    };
    const Case cases[] = {
        {"reference-testdata-int32.mseed", 500, 40, 0, 12475000, 'i', 4, {0, 6, 10}},
        {"reference-testdata-int16.mseed", 220, 40, 0, 5475000, 'i', 4, {0, 6, 10}},
        {"reference-testdata-steim1.mseed", 500, 40, 0, 12475000, 'i', 4, {0, 6, 10}},
        {"reference-testdata-steim2.mseed", 499, 40, 0, 12450000, 'i', 4, {0, 6, 10}},
        {"reference-testdata-float32.mseed", 500, 40, 0, 12475000, 'f', 4, {0, 6.10921, 10.2468}},
        {"reference-testdata-float64.mseed", 500, 40, 0, 12475000, 'f', 8, {0, 6.10921, 10.2468}},
        {"reference-testdata-mstlpack.mseed", 500, 40, 123457, 12598457, 'i', 4, {0, 6, 10}},
    };
    for (const Case& c : cases) {
        Read r = read(data_dir + c.file);
        EXPECT_EQ(r.err, "Reading: " + data_dir + c.file + "\n") << c.file;
        EXPECT_EQ(r.trace.numsamples, c.count) << c.file;
        EXPECT_EQ(r.trace.samprate, c.rate) << c.file;
        EXPECT_EQ(r.trace.starttime, may12 + c.start) << c.file;
        EXPECT_EQ(r.trace.endtime, may12 + c.end) << c.file;
        EXPECT_EQ(r.trace.wordtype, c.type) << c.file;
        EXPECT_EQ(r.trace.samplesize, c.size) << c.file;
        ASSERT_GE(r.values.size(), 3u) << c.file;
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(r.values[i], c.first[i], 1e-4) << c.file;
    }

    // Real data: three channels (LH1 first) and records out of time order (the first record's
    // trace is taken).
    Read cola = read(data_dir + "testdata-3channel-signal.mseed");
    EXPECT_EQ(cola.trace.numsamples, 4200);
    EXPECT_EQ(cola.trace.samprate, 1.0);
    EXPECT_EQ(cola.values[0], -502676);
    Read mixed = read(data_dir + "testdata-oneseries-mixedlengths-mixedorder.mseed");
    EXPECT_EQ(mixed.trace.numsamples, 64);
    EXPECT_EQ(mixed.values[1], -228438);
    EXPECT_EQ(mixed.trace.starttime,
              static_cast<double>(day_start_us(2010, 58, 6 * 3600 + 3000)) + 69539);
    Read odd = read(data_dir + "reference-testdata-oddrate.mseed");
    EXPECT_EQ(odd.trace.samprate, 1080.0);
    EXPECT_EQ(odd.err.find("derived"), std::string::npos);
    Read geoscope = read(data_dir + "testdata-encoding-GEOSCOPE-16bit-3exp-encoded.mseed");
    EXPECT_EQ(geoscope.trace.wordtype, 'f');
    EXPECT_NEAR(geoscope.values[0], -1.0625, 1e-6);
}

TEST(MseedReader, NoUsableSamplesGiveAnEmptyRecordAndOneLine) {
    Read header_only = read(data_dir + "reference-testdata-headeronly.mseed");
    EXPECT_EQ(header_only.trace.wordtype, 0);
    EXPECT_EQ(header_only.trace.datasamples, nullptr);
    EXPECT_NE(header_only.err.find("No data samples in " + data_dir), std::string::npos);

    Read text = read(data_dir + "reference-testdata-text.mseed");
    EXPECT_EQ(text.trace.wordtype, 0);
    EXPECT_EQ(text.trace.numsamples, 0);
    EXPECT_EQ(text.trace.samplesize, 1);
    EXPECT_NE(text.err.find("Unsupported sample type 'a' in "), std::string::npos);

    Temp_dir tmp;
    std::mt19937 random(7);
    std::string noise(4096, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    write_file(tmp.path + "/noise", noise);
    Read junk = read(tmp.path + "/noise");
    EXPECT_EQ(junk.trace.wordtype, 0);
    EXPECT_NE(junk.err.find("Error reading " + tmp.path + "/noise: "), std::string::npos);
    EXPECT_NE(junk.err.find("No miniSEED trace in"), std::string::npos);

    // A damaged file keeps the records read before the damage.
    const std::string whole = read_file(data_dir + "reference-testdata-int32.mseed");
    write_file(tmp.path + "/cut", whole.substr(0, 1300));
    Read cut = read(tmp.path + "/cut");
    EXPECT_EQ(cut.trace.wordtype, 'i');
    EXPECT_GT(cut.trace.numsamples, 0);
    EXPECT_LT(cut.trace.numsamples, 500);
    EXPECT_EQ(cut.values[2], 10);
    EXPECT_NE(cut.err.find("Truncated record"), std::string::npos) << cut.err;
    Read blockettes = read(data_dir + "testdata-invalid-blockette-offsets.mseed");
    EXPECT_EQ(blockettes.trace.numsamples, 409);
}

TEST(MseedReader, FirstSegmentAndRateCheck) {
    Temp_dir tmp;
    Mseed_series series;
    series.samprate = 20.0;
    series.start_us = day_start_us(2013, 41) - 30000000;  // 30 s before midnight
    const std::vector<int32_t> ramp = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    write_mseed_int(tmp.path + "/gap", series, ramp);
    series.start_us += 10 * 50000 + 60000;  // one period and a bit more late
    write_mseed_int(tmp.path + "/gap", series, ramp);
    Read gap = read(tmp.path + "/gap");
    EXPECT_EQ(gap.trace.numsamples, 10);
    EXPECT_EQ(gap.trace.starttime, static_cast<double>(day_start_us(2013, 41) - 30000000));
    EXPECT_EQ(gap.trace.endtime, gap.trace.starttime + 9 * 50000);

    // 101 samples at 100 per second whose five records each start within the joining tolerance
    // (half a period, 5000 us) of where the previous one ends, so that the assembled trace
    // spans 1000000 us plus the sum of the offsets.
    auto drifting = [&](const std::string& path, int64_t drift) {
        Mseed_series s;
        s.start_us = day_start_us(2013, 41);
        const int sizes[] = {25, 25, 25, 25, 1};
        int done = 0;
        for (int k = 0; k < 5; ++k) {
            s.start_us = day_start_us(2013, 41) + done * 10000 + k * drift;
            write_mseed_int(path, s, std::vector<int32_t>(sizes[k], k));
            done += sizes[k];
        }
        return read(path);
    };
    Read slow = drifting(tmp.path + "/slow", 2500);
    EXPECT_EQ(slow.trace.numsamples, 101);
    EXPECT_EQ(slow.trace.endtime - slow.trace.starttime, 1010000.0);
    EXPECT_DOUBLE_EQ(slow.trace.samprate, 100.0 / 1.01);
    EXPECT_NE(slow.err.find("[XX.ABC.00.HHZ] Reported sample rate different than derived rate "
                            "(100 versus 99.0099)\n"),
              std::string::npos)
        << slow.err;
    Read tolerated = drifting(tmp.path + "/tolerated", 1250);
    EXPECT_EQ(tolerated.trace.endtime - tolerated.trace.starttime, 1005000.0);
    EXPECT_EQ(tolerated.trace.samprate, 100.0);
    EXPECT_EQ(tolerated.err.find("derived"), std::string::npos);

    Mseed_series one;
    one.samprate = 40.0;
    write_mseed_int(tmp.path + "/one", one, {5});
    EXPECT_EQ(read(tmp.path + "/one").trace.samprate, 40.0);
}

TEST(MseedReader, InputListHoldsOnlyTheLatestName) {
    Temp_dir tmp;
    Mseed_series series;
    write_mseed_int(tmp.path + "/a.mseed", series, {1, 2, 3});
    write_mseed_int(tmp.path + "/b.mseed", series, {7, 8, 9, 10});
    write_file(tmp.path + "/list.txt",
               tmp.path + "/a.mseed\nx y " + tmp.path + "/b.mseed\r\np q r s\n");
    Read listed = read("@" + tmp.path + "/list.txt");
    EXPECT_EQ(listed.values, (std::vector<double>{7, 8, 9, 10}));
    EXPECT_EQ(read(tmp.path + "/a.mseed").values, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(read(tmp.path + "/b.mseed").values.size(), 4u);

    Read missing = read("@" + tmp.path + "/none.txt");
    EXPECT_EQ(missing.trace.wordtype, 0);
    EXPECT_NE(missing.err.find("Could not find list file " + tmp.path + "/none.txt\n"),
              std::string::npos);

    testing::internal::CaptureStderr();
    EXPECT_EQ(addnode(&filelist, nullptr, 0, nullptr, 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "addnode(): No data specified\n");
}

}  // namespace

#include <gtest/gtest.h>
#include <libmseed.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <tuple>

#include "acquire/mseed_reader.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

namespace {

// Reads sources, returning the segments and what went to standard error.
std::vector<Mseed_segment> read(const std::vector<Mseed_source>& sources, std::string& err) {
    testing::internal::CaptureStderr();
    std::vector<Mseed_segment> segments = read_mseed_channel(sources);
    err = testing::internal::GetCapturedStderr();
    return segments;
}

std::vector<float> joined(const std::vector<Mseed_segment>& segments) {
    std::vector<float> samples;
    for (const Mseed_segment& segment : segments)
        samples.insert(samples.end(), segment.samples.begin(), segment.samples.end());
    return samples;
}

TEST(MseedReader, FilesGiveTheSegmentsOfTheirFirstChannel) {
    Temp_dir tmp;
    const std::string dir = std::string(VEMLO_TESTDATA_DIR) + "/libmseed/";
    auto ref = [&](const char* name) { return dir + "reference-testdata-" + name + ".mseed"; };
    auto real = [&](const char* name) { return dir + "testdata-" + name + ".mseed"; };
    std::string noise(4096, '\0');
    std::generate(noise.begin(), noise.end(), std::mt19937(7));
    write_file(tmp.path + "/noise", noise);
    write_file(tmp.path + "/cut", read_file(ref("int32")).substr(0, 1300));
    const int64_t may12 = day_start_us(2012, 133), feb27 = day_start_us(2010, 58) + 24600069539;
    // File; segments, samples in all, rate, start (us) and second sample of the first segment;
    // a message after "Reading:".
    const std::tuple<std::string, int, int, double, int64_t, float, const char*> rows[] = {
        {ref("steim2"), 1, 499, 40, may12, 6, ""},
        {ref("float64"), 1, 500, 40, may12, 6.10921f, ""},
        {ref("float32"), 1, 500, 40, may12, 6.10921f, ""},
        {ref("oddrate"), 1, 500, 1080, 1747084284987654, 6, ""},
        {ref("headeronly"), 0, 0, 0, 0, 0, "No data samples in "},  // a record of no samples
        {ref("mstlpack"), 1, 500, 40, may12 + 123457, 6, ""},  // BHZ only, not the HHZ after it
        {ref("text"), 0, 0, 0, 0, 0, "Unsupported sample type 'a' in "},
        // Records out of time order that continue one another: one segment.
        {real("oneseries-mixedlengths-mixedorder"), 1, 3952, 1, feb27, -228438, ""},
        {tmp.path + "/cut", 1, 228, 40, may12, 6, "Truncated record at byte offset 1024"},
        {tmp.path + "/noise", 0, 0, 0, 0, 0, "No miniSEED trace in"},
    };
    for (const auto& [path, count, total, rate, start, second, says] : rows) {
        std::string err;
        const std::vector<Mseed_segment> segments = read({{path}}, err);
        SCOPED_TRACE(path + "\n" + err);
        ASSERT_EQ(segments.size(), static_cast<size_t>(count));
        EXPECT_EQ(joined(segments).size(), static_cast<size_t>(total));
        EXPECT_TRUE(*says ? err.find(says) != std::string::npos : err == "Reading: " + path + "\n");
        if (count == 0)
            continue;
        EXPECT_DOUBLE_EQ(segments[0].samprate, rate);
        EXPECT_EQ(segments[0].starttime, static_cast<double>(start));
        EXPECT_NEAR(segments[0].samples.size() > 1 ? segments[0].samples[1] : 0.0f, second, 1e-4);
    }
}

// A day file of XX.ABC.00.HHZ with a gap, an HHE record, a record at another rate, and the next
// day's file whose first records continue the day (32-bit floats, 50 in a record of 256 bytes).
TEST(MseedReader, SegmentsAfterGapsRatesAndTheNextDaysRecords) {
    Temp_dir tmp;
    const std::string day = tmp.path + "/day", next = tmp.path + "/next";
    const int64_t midnight = day_start_us(2013, 42);
    auto values = [](int count, float from) {
        std::vector<float> v(count);
        std::iota(v.begin(), v.end(), from);
        return v;
    };
    auto put = [](const std::string& path, const char* channel, double rate, int64_t start_us,
                  const std::vector<float>& samples) {
        write_mseed_float(path, {"XX", "ABC", "00", channel, rate, start_us, 256}, samples);
    };
    put(day, "HHZ", 100, midnight - 1000000, values(40, 0));  // 23:59:59.00 to 23:59:59.39
    put(day, "HHE", 100, midnight - 1000000, values(40, 5000));
    put(day, "HHZ", 50, midnight - 300000, values(5, 7000));
    put(day, "HHZ", 100, midnight - 400000, values(40, 100));  // 23:59:59.60 to 23:59:59.99
    // The next day: records from 0.00 and 0.50 s, then from 1.00 and 1.50 s.
    put(next, "HHZ", 100, midnight, values(100, 140));
    put(next, "HHZ", 100, midnight + 1000000, values(100, 240));

    std::string err;
    const std::vector<Mseed_segment> segments = read({{day}, {next, midnight + 600000.0}}, err);
    EXPECT_EQ(err, "Reading: " + day + "\nReading: " + next +
                       "\n[XX.ABC.00.HHZ] Segment of 5 samples from 2013-02-10T23:59:59.700000 "
                       "skipped: 50 samples per second, not the 100 of the first segment\n");
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].starttime, static_cast<double>(midnight - 1000000));
    EXPECT_EQ(segments[0].samples, values(40, 0));
    // The second segment goes on into the next day's records that begin before 00:00:00.6.
    EXPECT_EQ(segments[1].starttime, static_cast<double>(midnight - 400000));
    EXPECT_EQ(segments[1].samples, values(140, 100));
}

// Names a user gives are expanded as list files; each name taken replaces the list.
TEST(MseedReader, ListFilesOfUserNames) {
    Temp_dir tmp;
    write_file(tmp.path + "/list", "a.mseed\nx y b.mseed\np q r s\n\n");
    std::string at_list = "@" + tmp.path + "/list";
    char* names[] = {at_list.data(), nullptr};
    EXPECT_EQ(parameter_proc(1, names), 0);
    ASSERT_NE(filelist, nullptr);
    EXPECT_EQ(std::string(filelist->data) + (filelist->next ? "+" : ""), "b.mseed");
    EXPECT_EQ(readlistfile((tmp.path + "/none").c_str()), -1);
}

// The samples of every record of path as the library's own reader decodes them, up to its first
// error; what it printed goes to err.
std::vector<float> library_samples(const std::string& path, std::string* err = nullptr) {
    std::vector<float> samples;
    MSRecord* record = nullptr;
    testing::internal::CaptureStderr();
    while (ms_readmsr(&record, path.c_str(), -1, nullptr, nullptr, 1, 1, 0) == MS_NOERROR) {
        for (int64_t k = 0; k < record->numsamples; ++k) {
            const void* v = record->datasamples;
            samples.push_back(record->sampletype == 'i'   ? static_cast<const int32_t*>(v)[k]
                              : record->sampletype == 'f' ? static_cast<const float*>(v)[k]
                                                          : static_cast<const double*>(v)[k]);
        }
    }
    ms_readmsr(&record, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    const std::string said = testing::internal::GetCapturedStderr();
    if (err != nullptr)
        *err = said;
    return samples;
}

TEST(MseedReader, RecordsTheLibraryDecodesSayWhatItsOwnReaderSaysOnce) {
    // 32-bit floats whose records claim two blockettes (a warning each), Steim-1 records without
    // blockette 1000 or with damaged blockette chains, 64-bit floats, 32-bit integers: the
    // samples and the messages of the library's own reader, each message once.
    Temp_dir tmp;
    const std::string floats = tmp.path + "/floats";
    std::vector<float> series(300);
    std::iota(series.begin(), series.end(), -100.0f);
    write_mseed_float(floats, {"XX", "ABC", "00", "HHZ", 100.0, 0, 512}, series);
    std::string bytes = read_file(floats);
    for (std::size_t r = 0; r < bytes.size(); r += 512)
        bytes[r + 39] = 2;
    write_file(floats, bytes);
    const std::string dir = std::string(VEMLO_TESTDATA_DIR) + "/libmseed/";
    // The Steim-1 records without blockette 1000 turned little-endian (header fields and data
    // words reversed): the library takes the data's byte order from the header's.
    const std::string little = tmp.path + "/little";
    std::string swapped = read_file(dir + "testdata-no-blockette1000-steim1.mseed");
    for (std::size_t r = 0; r + 4096 <= swapped.size(); r += 4096) {
        char* record = &swapped[r];
        const int data =
            (static_cast<unsigned char>(record[44]) << 8) | static_cast<unsigned char>(record[45]);
        for (const auto& [at, size] : {std::pair{20, 2},
                                       {22, 2},
                                       {28, 2},
                                       {30, 2},
                                       {32, 2},
                                       {34, 2},
                                       {40, 4},
                                       {44, 2},
                                       {46, 2}})
            std::reverse(record + at, record + at + size);
        for (int word = data; word + 4 <= 4096; word += 4)
            std::reverse(record + word, record + word + 4);
    }
    write_file(little, swapped);
    for (const std::string& path :
         {floats, little, dir + "testdata-invalid-blockette-offsets.mseed",
          dir + "testdata-no-blockette1000-steim1.mseed", dir + "reference-testdata-float64.mseed",
          dir + "reference-testdata-int32.mseed"}) {
        std::string err, library_err;
        const std::vector<float> got = joined(read({{path}}, err));
        EXPECT_EQ(got, library_samples(path, &library_err)) << path;
        EXPECT_FALSE(got.empty()) << path;
        EXPECT_EQ(err, "Reading: " + path + "\n" + library_err);
    }
    std::string err;
    EXPECT_EQ(joined(read({{floats}}, err)), series);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 4) << err;  // a warning per record
}

TEST(MseedReader, SteimTwoRecordsDecodeAsTheLibraryDecodesThem) {
    // Steps of every width the frames hold (4 to 30 bits), in records of 512 and 4096 bytes.
    std::mt19937 rng(3);
    std::vector<int32_t> series(30000);
    int32_t x = 0;
    for (std::size_t i = 0; i < series.size(); ++i) {
        const int bits = std::vector<int>{3, 4, 5, 7, 9, 14, 20, 29}[(i / 700) % 8];
        x += static_cast<int32_t>(rng() % (1u << bits)) - (1 << (bits - 1));
        series[i] = x = std::clamp(x, -(1 << 28), 1 << 28);
    }
    Temp_dir tmp;
    for (const int length : {512, 4096}) {
        const std::string path = tmp.path + "/steim2-" + std::to_string(length);
        write_mseed_int(path, {"XX", "ABC", "00", "HHZ", 100.0, 0, length}, series);
        std::string err;
        EXPECT_EQ(joined(read({{path}}, err)), std::vector<float>(series.begin(), series.end()));
        EXPECT_EQ(err, "Reading: " + path + "\n");

        // A wrong last sample in the second record, a step code that means nothing in the
        // third: the library's own decoding and warning for the one, the other passed over with
        // the library's message, as its own reader does.
        std::string bytes = read_file(path);
        bytes[length + 64 + 11] ^= 1;
        const std::size_t frame = 2 * static_cast<std::size_t>(length) + 128;
        bytes[frame + 1] = static_cast<char>((bytes[frame + 1] & ~0x30) | 0x20);  // word 5: 10
        bytes[frame + 20] &= 0x3F;                                                // its kind: 00
        write_file(path, bytes);
        const std::vector<float> got = joined(read({{path}}, err));
        EXPECT_EQ(got, library_samples(path));
        EXPECT_LT(got.size(), series.size());
        EXPECT_NE(err.find("Data integrity check for Steim2 failed"), std::string::npos) << err;
        EXPECT_NE(err.find("Impossible Steim2 dnib=00 for nibble=10"), std::string::npos) << err;
    }
}

}  // namespace

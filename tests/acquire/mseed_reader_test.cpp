#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <tuple>

#include "acquire/mseed_reader.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

namespace {

TEST(MseedReader, FilesGiveTheirFirstTrace) {
    Temp_dir tmp;
    const std::string dir = std::string(VEMLO_TESTDATA_DIR) + "/libmseed/";
    auto ref = [&](const char* name) { return dir + "reference-testdata-" + name + ".mseed"; };
    auto real = [&](const char* name) { return dir + "testdata-" + name + ".mseed"; };
    std::string noise(4096, '\0');
    std::generate(noise.begin(), noise.end(), std::mt19937(7));
    write_file(tmp.path + "/noise", noise);
    write_file(tmp.path + "/cut", read_file(ref("int32")).substr(0, 1300));
    // 101 samples at 100/s in five records, each starting 2500 us (within the joining tolerance
    // of half a period) after the previous one ends: they span 1010000 us.
    for (int k = 0; k < 5; ++k)
        write_mseed_int(tmp.path + "/drift",
                        {"XX", "ABC", "00", "HHZ", 100.0, day_start_us(2013, 41) + k * 252500},
                        std::vector<int32_t>(k < 4 ? 25 : 1, k));
    const int64_t may12 = day_start_us(2012, 133), feb27 = day_start_us(2010, 58) + 24600069539,
                  sep22 = day_start_us(1995, 265);
    // File, samples, rate, start (us), word type, second sample, a message after "Reading:".
    const std::tuple<std::string, int, double, int64_t, char, double, const char*> rows[] = {
        {ref("int32"), 500, 40, may12, 'i', 6, ""},
        {ref("steim2"), 499, 40, may12, 'i', 6, ""},
        {ref("float32"), 500, 40, may12, 'f', 6.10921, ""},
        {ref("float64"), 500, 40, may12, 'f', 6.10921, ""},
        {ref("mstlpack"), 500, 40, may12 + 123457, 'i', 6, ""},
        {ref("oddrate"), 500, 1080, day_start_us(2025, 132) + 76284987654, 'i', 6, ""},
        {ref("headeronly"), 0, 0, may12, 0, 0, "No data samples in "},
        {ref("text"), 0, 0, may12, 0, 0, "Unsupported sample type 'a' in "},
        {real("oneseries-mixedlengths-mixedorder"), 64, 1, feb27, 'i', -228438, ""},
        {real("invalid-blockette-offsets"), 409, 1, feb27 - 39, 'i', -228438, "Unknown blockette"},
        {real("no-blockette1000-steim1"), 7312, 20, sep22 + 18238400, 'i', 396, ""},
        {tmp.path + "/cut", 228, 40, may12, 'i', 6, "Truncated record at byte offset 1024"},
        {tmp.path + "/noise", 0, 0, 0, 0, 0, "No miniSEED trace in"},
        {tmp.path + "/drift", 101, 100 / 1.01, day_start_us(2013, 41), 'i', 0,
         "[XX.ABC.00.HHZ] Reported sample rate different than derived rate (100 versus 99.0099)\n"},
    };
    for (const auto& [path, count, rate, start, type, second, says] : rows) {
        char* names[] = {const_cast<char*>(path.c_str()), nullptr};  // only read
        testing::internal::CaptureStderr();
        const Mseed_trace trace = mseed2ascii(names);
        const std::string err = testing::internal::GetCapturedStderr();
        SCOPED_TRACE(path + "\n" + err);
        EXPECT_EQ(trace.numsamples, count);
        EXPECT_DOUBLE_EQ(trace.samprate, rate);
        EXPECT_EQ(trace.starttime, static_cast<double>(start));
        EXPECT_EQ(trace.wordtype, type);
        const int32_t word = trace.numsamples > 1 ? trace.datasamples[1] : 0;  // the second
        float value;
        std::memcpy(&value, &word, sizeof value);
        EXPECT_NEAR(trace.wordtype == 'i' ? word : value, second, 1e-4);
        EXPECT_EQ(err.rfind("Reading: " + path + "\n", 0), 0u);
        EXPECT_TRUE(*says ? err.find(says) != std::string::npos : err == "Reading: " + path + "\n");
        std::free(trace.datasamples);
    }
}

}  // namespace

// Names a user gives are expanded as list files; each name taken replaces the list.
TEST(MseedReader, ListFilesOfUserNames) {
    Temp_dir tmp;
    write_file(tmp.path + "/list", "a.mseed\nx y b.mseed\np q r s\n\n");
    std::string at_list = "@" + tmp.path + "/list";
    char* names[] = {at_list.data(), nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(parameter_proc(1, names), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(filelist, nullptr);
    EXPECT_EQ(std::string(filelist->data) + (filelist->next ? "+" : ""), "b.mseed");
    EXPECT_EQ(readlistfile((tmp.path + "/none").c_str()), -1);
}

// Where day files are looked for: vemlo's own layout, then the SDS layout of SeisComP and ObsPy
// archives; what a missing day says.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "acquire/create_path.h"
#include "acquire/day_file.h"
#include "acquire/get_data.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

namespace {

// Writes a file of size bytes at path, making its folders.
void put(const std::string& path, size_t size) {
    ASSERT_EQ(createPath(path.substr(0, path.rfind('/'))), 0);
    write_file(path, std::string(size, 'd'));
}

struct Lookup {
    Day_file file;
    std::string out, err;
};

Lookup look_up(const std::string& location, const Template_file& control) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Lookup l;
    l.file = find_day_file(2013, 5, "XX", "ABC", location, "HHZ", control);
    l.err = testing::internal::GetCapturedStderr();
    l.out = testing::internal::GetCapturedStdout();
    return l;
}

TEST(DayFile, OwnLayoutFirstThenSdsAndAMissingDayNamesEveryPathTried) {
    Temp_dir tmp;
    Template_file control;
    control.data_dir = tmp.path + "/";
    const std::string a = tmp.path + "/";
    // "--" is the empty location code of both layouts.
    const std::string own = a + "ABC/2013/ABC.XX.00.HHZ.2013.005";
    const std::string sds = a + "2013/XX/ABC/HHZ.D/XX.ABC.00.HHZ.D.2013.005";
    const std::string own_empty = a + "ABC/2013/ABC.XX..HHZ.2013.005";
    const std::string old_dashes = a + "ABC/2013/ABC.XX.--.HHZ.2013.005";
    const std::string sds_empty = a + "2013/XX/ABC/HHZ.D/XX.ABC..HHZ.D.2013.005";
    EXPECT_EQ(day_file_path(a, "XX", "ABC", "00", "HHZ", 2013, 5), own);
    EXPECT_EQ(sds_day_file_path(a, "XX", "ABC", "00", "HHZ", 2013, 5), sds);
    EXPECT_EQ(day_file_path(a, "XX", "ABC", "--", "HHZ", 2013, 5), own_empty);
    EXPECT_EQ(day_file_path(a, "XX", "ABC", "", "HHZ", 2013, 5), own_empty);
    EXPECT_EQ(sds_day_file_path(a, "XX", "ABC", "--", "HHZ", 2013, 5), sds_empty);
    EXPECT_EQ(sds_day_file_path(a, "XX", "ABC", "00", "HHZ", 2024, 123),
              a + "2024/XX/ABC/HHZ.D/XX.ABC.00.HHZ.D.2024.123");

    // Nothing anywhere: one line on standard error, standard output untouched.
    Lookup l = look_up("00", control);
    EXPECT_EQ(l.file.outcome, Day_file_outcome::not_found);
    EXPECT_EQ(l.out, "");
    EXPECT_EQ(l.err, "No usable day file at " + own + " or " + sds + "\n");
    EXPECT_EQ(look_up("--", control).err,
              "No usable day file at " + own_empty + ", " + old_dashes + " or " + sds_empty + "\n");

    // Only in SDS; a file of 300 bytes at the own path is no day file and does not hide it.
    put(sds, 301);
    for (size_t own_size : {0, 300}) {
        if (own_size > 0)
            put(own, own_size);
        l = look_up("00", control);
        EXPECT_EQ(l.file.outcome, Day_file_outcome::read) << own_size;
        EXPECT_EQ(l.file.path, sds) << own_size;
        EXPECT_EQ(l.out + l.err, "") << own_size;
    }
    // Both layouts hold it: the own one is read.
    put(own, 301);
    EXPECT_EQ(look_up("00", control).file.path, own);

    // Small files and a folder are no day files, and what stands there is never downloaded.
    put(own_empty, 300);
    ASSERT_EQ(createPath(sds_empty), 0);
    control.download_missing = 1;
    l = look_up("--", control);
    EXPECT_EQ(l.file.outcome, Day_file_outcome::not_found);
    EXPECT_EQ(l.out, "");
    EXPECT_EQ(l.err, "No usable day file at " + own_empty + " (300 bytes or less), " + old_dashes +
                         " or " + sds_empty + " (not a file)\n");
    // A day file that an earlier version downloaded under "--" is still read.
    put(old_dashes, 301);
    EXPECT_EQ(look_up("--", control).file.path, old_dashes);
}

// The samples read from an SDS archive are those of the same file in vemlo's layout, and the
// reader names the file it read.
TEST(DayFile, SdsDayFilesReadLikeTheOwnLayout) {
    Temp_dir own, sds;
    std::vector<int32_t> counts;
    for (int n = 0; n < 100 * 600; ++n)
        counts.push_back((n * 7919) % 2001 - 1000);
    const Mseed_series series{"XX", "ABC", "", "HHZ", 100.0, day_start_us(2013, 41, 30.0), 4096};
    const std::string own_path = day_file_path(own.path + "/", "XX", "ABC", "--", "HHZ", 2013, 41);
    const std::string sds_path =
        sds_day_file_path(sds.path + "/", "XX", "ABC", "--", "HHZ", 2013, 41);
    for (const std::string& path : {own_path, sds_path}) {
        ASSERT_EQ(createPath(path.substr(0, path.rfind('/'))), 0);
        write_mseed_int(path, series, counts);
    }
    Template_file control;
    control.sample_rate = 100;
    control.freq_low = 2.0;
    control.freq_high = 10.0;
    std::vector<float> got[2];
    std::string err[2];
    for (int k = 0; k < 2; ++k) {
        control.data_dir = (k == 0 ? own.path : sds.path) + "/";
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        got[k] = get_data(2013, 41, 60.0f, "XX", "ABC", "--", "HHZ", 1000, control);
        err[k] = testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
    }
    ASSERT_EQ(got[0].size(), 1000u);
    EXPECT_EQ(got[0], got[1]);
    EXPECT_EQ(err[0], "Reading: " + own_path + "\n");
    EXPECT_EQ(err[1], "Reading: " + sds_path + "\n");
}

}  // namespace

// Where day files are looked for: vemlo's own layout, then the SDS layout of SeisComP and ObsPy
// archives; what a missing day says.
#include <gtest/gtest.h>

#include "acquire/create_path.h"
#include "acquire/day_file.h"
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
    // The other paths are those the lookups below name.
    EXPECT_EQ(day_file_path(a, "XX", "ABC", "", "HHZ", 2013, 5), own_empty);
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

}  // namespace

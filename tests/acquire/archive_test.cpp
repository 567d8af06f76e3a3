#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "acquire/create_path.h"
#include "acquire/day_file.h"
#include "support/temp_dir.h"

namespace {

bool is_directory(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

TEST(CreatePath, MakesEveryComponentAndStopsAtAFile) {
    Temp_dir tmp;
    testing::internal::CaptureStdout();
    EXPECT_EQ(createPath(""), 0);
    EXPECT_EQ(createPath(tmp.path + "/a/b/c/"), 0);
    EXPECT_EQ(createPath(tmp.path + "/a/b/c"), 0);  // everything exists already
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(is_directory(tmp.path + "/a/b/c"));

    write_file(tmp.path + "/a/f", "x");
    testing::internal::CaptureStdout();
    errno = 0;
    EXPECT_EQ(createPath(tmp.path + "/a/f/g"), -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "path [" + tmp.path + "/a/f] not a dir \n");
    EXPECT_FALSE(is_directory(tmp.path + "/a/f/g"));

    // A component longer than any file name cannot be made, whoever runs the test.
    const std::string too_long = tmp.path + "/a/" + std::string(300, 'n');
    testing::internal::CaptureStdout();
    EXPECT_EQ(createPath(too_long + "/z"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "cannot create folder [" + too_long + "] : File name too long\n");
}

TEST(DayFile, NamesDirectoriesFilesAndQueries) {
    EXPECT_EQ(day_directory("data/", "ABC", 2012), "data/ABC/2012");
    EXPECT_EQ(day_file_path("data/", "XX", "ABC", "00", "HHZ", 2012, 65),
              "data/ABC/2012/ABC.XX.00.HHZ.2012.065");
    EXPECT_EQ(day_file_path("data/", "XX", "ABC", "", "HHZ", 2012, 7),
              "data/ABC/2012/ABC.XX..HHZ.2012.007");
    EXPECT_EQ(day_file_path("/d/", "XX", "ABC", "00", "HHZ", 2013, 200),
              "/d/ABC/2013/ABC.XX.00.HHZ.2013.200");

    const std::string path = "data/ABC/2012/ABC.XX.00.HHZ.2012.065";
    const std::vector<std::string> expected = {
        "wget",
        "http://h/fdsnws/dataselect/1/query?net=XX&sta=ABC&loc=00&cha=HHZ&starttime=2012-03-05"
        "T00:00:00&endtime=2012-03-05T23:59:59.999 ",
        "-q", "-O", path};
    EXPECT_EQ(download_command("http://h/", "XX", "ABC", "00", "HHZ", 2012, 65, 0.0f, path),
              expected);
    // 30 November 2012 is day 335; a start of a day or more dates the query on a later day.
    EXPECT_NE(download_command("http://h/", "XX", "ABC", "", "HHZ", 2012, 335, 0.0f, path)[1].find(
                  "loc=&cha=HHZ&starttime=2012-11-30T00:00:00&endtime=2012-11-30T23:59:59.999 "),
              std::string::npos);
    EXPECT_NE(
        download_command("http://h/", "XX", "ABC", "00", "HHZ", 2012, 366, 86400.0f, path)[1].find(
            "starttime=2013-01-01T00:00:00&endtime=2013-01-01T"),
        std::string::npos);
    const std::string base = fdsn_base_url();
    EXPECT_EQ(base.rfind("http://", 0), 0u);
    EXPECT_EQ(base.back(), '/');
}

TEST(DayFile, UsableOnlyAbove300BytesAndNeverRefetched) {
    Temp_dir tmp;
    Template_file control;
    control.data_dir = tmp.path + "/";
    control.download_missing = 0;
    const std::string dir = tmp.path + "/ABC/2012";
    ASSERT_EQ(createPath(dir), 0);
    write_file(dir + "/ABC.XX.00.HHZ.2012.045", std::string(300, 'x'));
    write_file(dir + "/ABC.XX.00.HHZ.2012.046", std::string(301, 'x'));

    testing::internal::CaptureStdout();
    Day_file small = find_day_file(2012, 45, 0.0f, "XX", "ABC", "00", "HHZ", control);
    Day_file big = find_day_file(2012, 46, 0.0f, "XX", "ABC", "00", "HHZ", control);
    Day_file missing = find_day_file(2012, 47, 0.0f, "XX", "ABC", "00", "HHZ", control);
    control.download_missing = 1;  // an existing small file is not downloaded again
    Day_file small_again = find_day_file(2012, 45, 0.0f, "XX", "ABC", "00", "HHZ", control);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    EXPECT_EQ(small.outcome, Day_file_outcome::not_found);
    EXPECT_EQ(small_again.outcome, Day_file_outcome::not_found);
    EXPECT_EQ(missing.outcome, Day_file_outcome::not_found);
    EXPECT_EQ(big.outcome, Day_file_outcome::read);
    EXPECT_FALSE(big.deletion_notice);
    EXPECT_EQ(big.path, dir + "/ABC.XX.00.HHZ.2012.046");
    EXPECT_EQ(big.directory, dir);
}

}  // namespace

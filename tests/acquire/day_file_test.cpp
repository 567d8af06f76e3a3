// Day files: vemlo's own layout, then SDS; "--" is the empty location code; a missing day's line.
#include <gtest/gtest.h>

#include "acquire/create_path.h"
#include "acquire/day_file.h"
#include "support/temp_dir.h"

namespace {

void put(const std::string& path, size_t size) {
    ASSERT_EQ(createPath(path.substr(0, path.rfind('/'))), 0);
    write_file(path, std::string(size, 'd'));
}

// The day file found and what went to standard output and error.
std::pair<Day_file, std::string> look_up(const std::string& location, const Template_file& c) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Day_file file = find_day_file(2013, 5, "XX", "ABC", location, "HHZ", c);
    const std::string err = testing::internal::GetCapturedStderr();
    return {file, testing::internal::GetCapturedStdout() + err};
}

TEST(DayFile, OwnLayoutFirstThenSdsAndAMissingDayNamesEveryPathTried) {
    Temp_dir tmp;
    Template_file control;
    const std::string a = control.data_dir = tmp.path + "/";
    const std::string own = a + "ABC/2013/ABC.XX.00.HHZ.2013.005";
    const std::string sds = a + "2013/XX/ABC/HHZ.D/XX.ABC.00.HHZ.D.2013.005";
    const std::string own_empty = a + "ABC/2013/ABC.XX..HHZ.2013.005";
    const std::string old_dashes = a + "ABC/2013/ABC.XX.--.HHZ.2013.005";
    const std::string sds_empty = a + "2013/XX/ABC/HHZ.D/XX.ABC..HHZ.D.2013.005";
    EXPECT_EQ(look_up("00", control).second, "No usable day file at " + own + " or " + sds + "\n");
    // Only in SDS; 300 bytes at the own path are no day file and do not hide it.
    put(sds, 301);
    put(own, 300);
    auto l = look_up("00", control);
    EXPECT_EQ(l.first.outcome, Day_file_outcome::read);
    EXPECT_EQ(l.first.path + l.second, sds);
    put(own, 301);
    EXPECT_EQ(look_up("00", control).first.path, own);
    // Small files and a folder are no day files, and what stands there is never downloaded.
    put(own_empty, 300);
    ASSERT_EQ(createPath(sds_empty), 0);
    control.download_missing = 1;
    l = look_up("--", control);
    EXPECT_EQ(l.first.outcome, Day_file_outcome::not_found);
    EXPECT_EQ(l.second, "No usable day file at " + own_empty + " (300 bytes or less), " +
                            old_dashes + " or " + sds_empty + " (not a file)\n");
    put(old_dashes, 301);  // downloaded under "--" by earlier versions
    EXPECT_EQ(look_up("--", control).first.path, old_dashes);
}

}  // namespace

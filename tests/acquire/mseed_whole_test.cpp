// Whether a miniSEED file ends with a whole record.
#include <gtest/gtest.h>

#include "acquire/mseed_whole.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

TEST(MseedWhole, ACutLastRecordOrForeignBytesAreFound) {
    Temp_dir tmp;
    const std::string path = tmp.path + "/day.mseed";
    std::vector<int32_t> counts(20000);
    for (size_t i = 0; i < counts.size(); ++i)
        counts[i] = int32_t((i * 7919) % 20011) - 10000;
    write_mseed_int(path, Mseed_series(), counts);
    const std::string whole = read_file(path);
    ASSERT_EQ(whole.size() % 512, 0u);
    ASSERT_GT(whole.size(), 1024u);
    EXPECT_TRUE(check_mseed_whole(path).ok());
    EXPECT_TRUE(check_mseed_whole(std::string(VEMLO_TESTDATA_DIR) +
                                  "/libmseed/reference-testdata-steim2.mseed")
                    .ok());

    const std::string cut = tmp.path + "/cut.mseed";
    write_file(cut, whole.substr(0, whole.size() - 100));
    const Status status = check_mseed_whole(cut);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(*status.error, "its miniSEED records end at byte " +
                                 std::to_string(whole.size() - 512) + " of " +
                                 std::to_string(whole.size() - 100) + " (cut within a record)");
    // Cut between records, the file reads as a shorter whole one.
    write_file(cut, whole.substr(0, whole.size() - 512));
    EXPECT_TRUE(check_mseed_whole(cut).ok());
    write_file(cut, whole + std::string(600, 'm'));
    EXPECT_FALSE(check_mseed_whole(cut).ok());
    write_file(cut, "<html>busy</html>" + std::string(600, ' '));
    EXPECT_FALSE(check_mseed_whole(cut).ok());
    EXPECT_FALSE(check_mseed_whole(tmp.path + "/missing").ok());
}

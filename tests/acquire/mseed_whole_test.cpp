#include <gtest/gtest.h>

#include "acquire/mseed_whole.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

TEST(MseedWhole, ACutLastRecordOrForeignBytesAreFound) {
    Temp_dir tmp;
    const std::string path = tmp.path + "/day.mseed", cut = tmp.path + "/cut.mseed";
    std::vector<int32_t> counts(20000);
    for (size_t i = 0; i < counts.size(); ++i)
        counts[i] = int32_t((i * 7919) % 20011) - 10000;
    write_mseed_int(path, Mseed_series(), counts);
    const std::string whole = read_file(path);
    EXPECT_TRUE(check_mseed_whole(path).ok());
    write_file(cut, whole.substr(0, whole.size() - 100));
    const Status status = check_mseed_whole(cut);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(*status.error, "its miniSEED records end at byte " +
                                 std::to_string(whole.size() - 512) + " of " +
                                 std::to_string(whole.size() - 100) + " (cut within a record)");
    write_file(cut, whole.substr(0, whole.size() - 512));  // cut between records: whole
    EXPECT_TRUE(check_mseed_whole(cut).ok());
    write_file(cut, whole + std::string(600, 'm'));
    EXPECT_FALSE(check_mseed_whole(cut).ok());
    EXPECT_FALSE(check_mseed_whole(tmp.path + "/missing").ok());
}

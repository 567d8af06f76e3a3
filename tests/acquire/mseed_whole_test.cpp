#include <gtest/gtest.h>

#include "acquire/mseed_whole.h"
#include "support/mseed_writer.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

TEST(MseedWhole, ACutLastRecordOrForeignBytesAreFound) {
    Temp_dir tmp;
    const std::string path = tmp.path + "/day.mseed", cut = tmp.path + "/cut.mseed";
    write_mseed_int(path, Mseed_series(), synthetic_day(1, 5, {}));
    const std::string whole = read_file(path);
    const size_t n = whole.size();
    auto check = [&](const std::string& bytes) {
        write_file(cut, bytes);
        return check_mseed_whole(cut).error.value_or("whole");
    };
    EXPECT_EQ(check(whole), "whole");
    EXPECT_EQ(check(whole.substr(0, n - 512)), "whole");  // cut between records
    EXPECT_EQ(check(whole.substr(0, n - 100)),
              "its miniSEED records end at byte " + std::to_string(n - 512) + " of " +
                  std::to_string(n - 100) + " (cut within a record)");
    EXPECT_NE(check(whole + std::string(600, 'm')), "whole");
    EXPECT_FALSE(check_mseed_whole(tmp.path + "/missing").ok());
}

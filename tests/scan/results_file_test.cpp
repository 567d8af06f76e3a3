#include "scan/results_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.h"

TEST(ResultsFile, LinesAndAppending) {
    EXPECT_EQ(format_result_line(2013, 45, 100.0f, 360001, 0.53125f, 0.0125f, 5),
              "1360803600.010 0.53125000 0.01250000 5\n");
    // Day 366 of a leap year is 31 December.
    EXPECT_EQ(format_result_line(2012, 366, 100.0f, 100, 0.3f, 0.5f, 2),
              "1356912001.000 0.30000001 0.50000000 2\n");
    // p / fs in single precision: late in the day the fraction moves in steps of about 8 ms.
    EXPECT_EQ(format_result_line(2013, 45, 100.0f, 8639001, -0.1f, 0.0f, 1),
              "1360886390.008 -0.10000000 0.00000000 1\n");
    EXPECT_EQ(format_result_line(2013, 45, 100.0f, 8639002, 1.0f, 0.0f, 1),
              "1360886390.023 1.00000000 0.00000000 1\n");

    Temp_dir dir;
    const std::string name = dir.path + "/event one.txt";
    const std::vector<float> stack = {0.0f, 0.6f, 0.0f, 0.7f, 0.0f};
    const std::vector<int> count = {0, 3, 0, 2, 0};
    std::ostringstream out;
    EXPECT_TRUE(append_results(name, 2013, 45, 10.0f, {1, 3}, stack, count, 0.05f, out));
    EXPECT_TRUE(append_results(name, 2013, 46, 10.0f, {}, stack, count, 0.05f, out));
    EXPECT_TRUE(append_results(name, 2013, 47, 10.0f, {3}, stack, count, 0.04f, out));
    EXPECT_EQ(out.str(),
              "\nWriting results to file...done.\n\nWriting results to file...done.\n"
              "\nWriting results to file...done.\n");
    EXPECT_EQ(read_file(name),
              "1360800000.100 0.60000002 0.05000000 3\n1360800000.300 0.69999999 0.05000000 2\n"
              "1360972800.300 0.69999999 0.04000000 2\n");

    std::ostringstream missing;
    EXPECT_FALSE(append_results(dir.path + "/none/e.txt", 2013, 45, 10.0f, {1}, stack, count, 0.05f,
                                missing));
    EXPECT_EQ(missing.str(), "\nWriting results to file...\nUnable to open output file!\ndone.\n");
    // Opens, but every write fails: not a plain "done.".
    std::ostringstream full;
    EXPECT_FALSE(append_results("/dev/full", 2013, 45, 10.0f, {1, 3}, stack, count, 0.05f, full));
    EXPECT_EQ(full.str(),
              "\nWriting results to file...\nUnable to write output file /dev/full!\ndone.\n");
}

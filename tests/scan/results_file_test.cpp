#include "scan/results_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.h"

TEST(ResultsFile, LinesAppendingAndFailures) {
    // p / fs in single precision: 8639001 gives 86390.0078125 s.
    EXPECT_EQ(format_result_line(2013, 45, 100.0f, 360001, 0.53125f, 0.0125f, 5) +
                  format_result_line(2013, 45, 100.0f, 8639001, 0.53125f, 0.0125f, 5),
              "1360803600.010 0.53125000 0.01250000 5\n1360886390.008 0.53125000 0.01250000 5\n");
    Temp_dir dir;
    const std::string name = dir.path + "/event one.txt";
    const std::vector<float> stack = {0.0f, 0.6f, 0.0f, 0.7f, 0.0f};
    const std::vector<int> count = {0, 3, 0, 2, 0};
    std::ostringstream out, missing, full;
    EXPECT_TRUE(append_results(name, 2013, 45, 10.0f, {1, 3}, stack, count, 0.05f, out));
    EXPECT_TRUE(append_results(name, 2013, 46, 10.0f, {3}, stack, count, 0.04f, out));
    EXPECT_EQ(read_file(name),
              "1360800000.100 0.60000002 0.05000000 3\n1360800000.300 0.69999999 0.05000000 2\n"
              "1360886400.300 0.69999999 0.04000000 2\n");
    // A directory cannot be opened as a file; /dev/full opens but takes no byte.
    EXPECT_FALSE(append_results(dir.path, 2013, 45, 10.0f, {1}, stack, count, 0.05f, missing));
    EXPECT_EQ(missing.str(), "\nWriting results to file...\nUnable to open output file " +
                                 dir.path + "!\ndone.\n");
    EXPECT_FALSE(append_results("/dev/full", 2013, 45, 10.0f, {1}, stack, count, 0.05f, full));
    EXPECT_EQ(full.str(),
              "\nWriting results to file...\nUnable to write output file /dev/full!\ndone.\n");
    // The run's outcome names every file that failed.
    EXPECT_TRUE(results_written({}).ok());
    EXPECT_EQ(results_written({"out/b.txt", "out/a.txt"}).error,
              "Error: detections are missing from results file(s) out/a.txt, out/b.txt: they could "
              "not be opened or written completely");
}

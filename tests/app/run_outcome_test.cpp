// What a run leaves and how it ends on a one-station archive: the run record, a results directory
// with a blank in its name, --templates-only, no template made, and results and channels files that
// cannot be opened or written (status 1, the file named).
#include <gtest/gtest.h>

#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

TEST(RunOutcome, RecordsTemplatesOnlyAndFailuresThatReachTheExitStatus) {
    Temp_dir dir;
    write_day_file(dir.path + "/archive", "S1", "HHZ", 45, 10,
                   synthetic_day(10, 99, {{3600, 1.0, 1.2}, {40000, 0.8, 1.2}}));
    const std::string quake = "quake\n2013 45 3600 XX S1 00 HHZ 0\n";
    auto run = [&](const std::string& output, const std::string& templates,
                   const std::vector<std::string>& options = {}) {
        Control c;
        c.output = output, c.templates = templates;
        write_file(dir.path + "/control.txt", control_text(c));
        std::vector<std::string> argv = {VEMLO_BINARY};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back("control.txt");
        return run_program(argv, dir.path);
    };
    auto exists = [&](const std::string& path) {
        return run_program({"test", "-e", dir.path + "/" + path}).status == 0;
    };

    // The results directory is line 2 whole; the run record tells what wrote the results.
    Run_result r = run("my results ", quake + "\n\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_results(dir.path + "/my results/quake.txt").size(), 2u) << r.out;
    EXPECT_FALSE(exists("my")) << "cut at the blank";
    EXPECT_FALSE(exists("my results/.txt")) << "blank lines at the end add no event";
    const std::string text = read_file(dir.path + "/control.txt");
    EXPECT_EQ(read_file(dir.path + "/my results/vemlo-run.txt"),
              "vemlo run record\nvemlo version: 0.2\ncontrol file: " + dir.path +
                  "/control.txt\nscan period: 2013-02-14 (2013 045) to 2013-02-14 (2013 045), "
                  "1 day(s)\nMAD multiple: 8\ncontrol file text follows (" +
                  std::to_string(text.size()) + " bytes):\n" + text);

    // --templates-only builds the templates and writes no results.
    r = run("only", quake, {"--templates-only"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Cross-correlating"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Run time: ~"), std::string::npos) << r.out;
    EXPECT_FALSE(exists("only"));

    // Not one template could be made: status 1, the results of an earlier run left as they were.
    r = run("my results", quake + "\nghost\n2013 45 3600 XX S9 00 HHZ 0\n");
    ASSERT_EQ(r.status, 0) << r.out;  // one event without data is no failure
    const std::string earlier = read_file(dir.path + "/my results/quake.txt");
    r = run("my results", "quake\n2013 46 3600 XX S1 00 HHZ 0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Data was not found for template #1 (2013 46 3600 XX S1 00 HHZ)\n"
                         "Error: not one template could be made: no pick had data (see the "
                         "lines above); nothing was scanned or written\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(read_file(dir.path + "/my results/quake.txt"), earlier);

    // A results file that cannot be opened stops the run before the scan, naming it.
    ASSERT_EQ(run_program({"mkdir", "-p", dir.path + "/blocked/quake.txt"}).status, 0);
    r = run("blocked", quake);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\nError: Unable to open output file blocked/quake.txt: Is a directory\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Cross-correlating"), std::string::npos) << r.out;
    // So does a channels file, or one whose header cannot be written.
    ASSERT_EQ(run_program({"mkdir", "-p", dir.path + "/held/quake.channels.csv"}).status, 0);
    r = run("held", quake);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\nError: Unable to open output file held/quake.channels.csv: Is a "
                         "directory\n"),
              std::string::npos)
        << r.out;
    ASSERT_EQ(run_program({"mkdir", "-p", dir.path + "/short"}).status, 0);
    ASSERT_EQ(run_program({"ln", "-s", "/dev/full", dir.path + "/short/quake.channels.csv"}).status,
              0);
    r = run("short", quake);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\nError: Unable to write output file short/quake.channels.csv\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Cross-correlating"), std::string::npos) << r.out;

    // A results file on a full disk: every append says so, and the run ends with a line naming
    // the file, without the run-time line, and status 1.
    ASSERT_EQ(run_program({"mkdir", "-p", dir.path + "/full"}).status, 0);
    ASSERT_EQ(run_program({"ln", "-s", "/dev/full", dir.path + "/full/quake.txt"}).status, 0);
    r = run("full", quake);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\nWriting results to file...\nUnable to write output file "
                         "full/quake.txt!\ndone.\n"
                         "Error: detections are missing from results file(s) full/quake.txt: "
                         "they could not be opened or written completely\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Run time: ~"), std::string::npos) << r.out;
}

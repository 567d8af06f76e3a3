// The driver's command line, start-up lines, early exits and a run without templates.
#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace {

const std::string banner = "\n\tvemlo v0.2\n\tUtilizing C code.\n";

// Settings lines 1-37 of a control file scanning days 40-42 of 2013, then the given template
// section (without a trailing line end when empty).
std::string control_file(const std::string& output_dir, const std::string& sample_rate,
                         const std::string& templates) {
    std::string text = "out\n" + output_dir +
                       "\n\nstart\n2013 40 0\n\nend\n2013 42 0\n\nlength\n10\n\nband\n2 8\n\n"
                       "mad\n8\n\nrate\n" +
                       sample_rate +
                       "\n\nreserved\n0\n\narchive\narchive\n\ntext\nfree text\n\nreserved\n0\n\n"
                       "download keep\n0 1\n\ntemplates\n";
    return text + templates;
}

// Hides the processor seconds of the run-time line so that outputs can be compared.
std::string without_run_seconds(const std::string& out) {
    return mask_after(out, "Run time: ~", ' ', "N");
}

}  // namespace

TEST(CommandLine, ArgumentCountAndMissingFiles) {
    Temp_dir dir;
    Run_result r = run_program({VEMLO_BINARY}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner +
                         "Missing template filename argument. Using default filename: "
                         "template.txt\nError: Unable to open template file: template.txt\n");

    r = run_program({VEMLO_BINARY, "a.txt", "b.txt"}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner +
                         "Error: Unknown argument format. Call vemlo with: ./vemlo "
                         "example_filename.txt\n");

    r = run_program({VEMLO_BINARY, "sub/none.txt"}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner + "Error: Unable to open template file: sub/none.txt\n");
}

TEST(CommandLine, RunWithoutTemplates) {
    Temp_dir dir;
    // No events at all: the counts are zero and the scan only prints its opening line.
    write_file(dir.path + "/template.txt", control_file("results/", "100", ""));
    Run_result r = run_program({VEMLO_BINARY}, dir.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_run_seconds(r.out),
              banner +
                  "Missing template filename argument. Using default filename: template.txt\n"
                  "\n\tCreating 0 template(s) for 0 event(s)...\n"
                  "\n\tCross-correlating 0 event(s) for 3 day(s)...\n"
                  "Run time: ~N seconds.\n");

    // An empty file reads as all zeros: scan period of one day (day 0 of year 0 to itself).
    write_file(dir.path + "/empty.txt", "");
    r = run_program({VEMLO_BINARY, "empty.txt"}, dir.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_run_seconds(r.out), banner +
                                              "\n\tCreating 0 template(s) for 0 event(s)...\n"
                                              "\n\tCross-correlating 0 event(s) for 1 day(s)...\n"
                                              "Run time: ~N seconds.\n");
}

TEST(CommandLine, UnusableSettingsStopBeforeAnythingIsCreated) {
    Temp_dir dir;
    write_file(dir.path + "/bad.txt",
               control_file("results/", "0", "quake\n2013 41 3600 XX ABC 00 HHZ 0\n"));
    Run_result r = run_program({VEMLO_BINARY, "bad.txt"}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner + "Error: sample_rate 0 is outside 1 to 24855 samples per second\n");
    EXPECT_EQ(read_file(dir.path + "/results/quake.txt"), "");
    EXPECT_FALSE(run_program({"test", "-e", dir.path + "/results"}).status == 0);
}

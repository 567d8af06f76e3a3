// The driver's command line and the control-file mistakes that stop a run before anything is
// written (each with status 1 and no results directory).
#include <gtest/gtest.h>

#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

TEST(CommandLine, ExitStatusAndMistakesThatStopTheRun) {
    Temp_dir dir;
    const std::string quake = "quake\n2013 41 3600 XX ABC 00 HHZ 0\n";
    auto control = [&](const std::string& name, const std::string& templates,
                       const std::string& archive = "archive") {
        write_file(dir.path + "/" + name + ".txt",
                   control_text({"out", name + "/", "2013 40 0", "2013 42 0", "10", "2 8", "8",
                                 "50", archive, templates}));
    };
    control("lonely", "lonely\n");
    control("escape", quake + "2013 41 3600 XX ../x 00 HHZ 0\n");
    control("slash", "2019/07/06 03:19:53\n2013 41 3600 XX ABC 00 HHZ 0\n");
    control("mistyped", quake, "arhcive");
    const std::string slash_error =
        "Error: line 38 of the control file: the event name \"2019/07/06 03:19:53\" becomes a "
        "file name and must not hold '/' or control characters\n";
    const std::pair<std::vector<std::string>, std::string> runs[] = {
        {{"a.txt", "b.txt"}, "Error: Unknown argument format."},
        {{"sub/none.txt"}, "Error: Unable to open template file: sub/none.txt\n"},
        {{"lonely.txt"}, "Error: not one template could be made: no event has a pick\n"},
        {{"escape.txt"}, "Error: line 40 of the control file: station code \"../x\" must not"},
        {{"slash.txt"}, slash_error},
        {{"mistyped.txt"},
         "Error: line 26 of the control file: the archive directory \"arhcive/\" does not exist"},
        {{"--verbose", "slash.txt"}, "Error: unknown option --verbose\n\nUsage: vemlo"}};
    for (const auto& [args, error] : runs) {
        std::vector<std::string> argv = {VEMLO_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        const Run_result r = run_program(argv, dir.path);
        EXPECT_EQ(r.status, 1) << error;
        EXPECT_NE(r.out.find(error), std::string::npos) << r.out;
    }
    for (const char* name : {"lonely", "escape", "slash", "mistyped"})
        EXPECT_NE(run_program({"test", "-e", dir.path + "/" + name}).status, 0) << name;
    const Run_result batch = run_program({VEMLO_BATCH_BINARY, "slash.txt"}, dir.path);
    EXPECT_EQ(batch.status, 1);
    EXPECT_EQ(batch.out, slash_error);
    const Run_result version = run_program({VEMLO_BINARY, "--version"}, dir.path);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vemlo 0.2\n");
}

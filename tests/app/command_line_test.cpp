// The driver's command line, start-up lines, early exits and runs without templates, and the
// control-file mistakes that stop a run before anything is written (the end-to-end test reads an
// archive named with "@" and checks the console on one pipe).
#include <gtest/gtest.h>

#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

const std::string banner = "\n\tvemlo v0.2\n\tUtilizing C code.\n";

}  // namespace

// The control file's own messages are checked by the control tests; here, that each kind of
// mistake (unreadable file, a section that does not parse, unusable settings, a missing archive)
// ends the run with status 1 before its results directory (named after the file) is made.
TEST(CommandLine, ConsoleExitStatusAndMistakesThatStopTheRun) {
    Temp_dir dir;
    const std::string by_default =
        "Missing template filename argument. Using default filename: template.txt\n";
    const std::string no_templates =
        "\n\tCreating 0 template(s) for 0 event(s)...\n"
        "\n\tCross-correlating 0 event(s) for 3 day(s)...\nRun time: ~N seconds.\n";
    const std::string quake = "quake\n2013 41 3600 XX ABC 00 HHZ 0\n";
    // Settings scanning days 40-42 of 2013, results in NAME/, then the template section.
    auto control = [&](const std::string& name, const std::string& rate,
                       const std::string& templates, const std::string& archive = "archive") {
        write_file(dir.path + "/" + name + ".txt",
                   control_text({"out", name + "/", "2013 40 0", "2013 42 0", "10", "2 8", "8",
                                 rate, archive, templates}));
    };
    write_file(dir.path + "/empty.txt", "");
    control("lonely", "1000000", "lonely\n");  // no templates: settings unchecked
    control("escape", "50", quake + "2013 41 3600 XX ../x 00 HHZ 0\n");
    control("slash", "50", "2019/07/06 03:19:53\n2013 41 3600 XX ABC 00 HHZ 0\n");
    control("mistyped", "50", quake, "arhcive");  // and downloads are off
    const std::string slash_error =
        "Error: line 38 of the control file: the event name \"2019/07/06 03:19:53\" becomes a "
        "file name and must not hold '/' or control characters\n";
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> runs = {
        {{}, 1, by_default + "Error: Unable to open template file: template.txt\n"},
        {{"a.txt", "b.txt"},
         1,
         "Error: Unknown argument format. Call vemlo with: ./vemlo example_filename.txt\n"},
        {{"sub/none.txt"}, 1, "Error: Unable to open template file: sub/none.txt\n"},
        {{"empty.txt"}, 1, "Error: line 2 of the control file: the results directory is missing\n"},
        {{"lonely.txt"},
         1,
         "\n\tCreating 0 template(s) for 1 event(s)...\n"
         "Error: not one template could be made: no event has a pick\n"},
        {{"escape.txt"},
         1,
         "Error: line 40 of the control file: station code \"../x\" must not hold '/' or control "
         "characters, nor be \".\" or \"..\"\n"},
        {{"slash.txt"}, 1, slash_error},
        {{"mistyped.txt"},
         1,
         "Error: line 26 of the control file: the archive directory \"arhcive/\" does not exist "
         "(and line 35 does not allow downloads)\n"},
        {{"."}, 1, "Error: Unable to open template file: .\n"},
        {{}, 0, by_default + no_templates},
        {{"template.txt"}, 0, no_templates},
    };
    for (const auto& [args, status, out] : runs) {
        if (args.empty() && status == 0)
            control("template", "100", "");
        std::vector<std::string> argv = {VEMLO_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        const Run_result r = run_program(argv, dir.path);
        EXPECT_EQ(r.status, status) << out;
        EXPECT_EQ(mask_after(r.out, "Run time: ~", ' ', "N"), banner + out);
    }
    for (const char* name : {"lonely", "escape", "slash", "mistyped"})
        EXPECT_NE(run_program({"test", "-e", dir.path + "/" + name}).status, 0) << name;
    EXPECT_EQ(run_program({"test", "-d", dir.path + "/template"}).status, 0);
    // vemlo-batch refuses the same before making any chunk.
    const Run_result batch = run_program({VEMLO_BATCH_BINARY, "slash.txt"}, dir.path);
    EXPECT_EQ(batch.status, 1);
    EXPECT_EQ(batch.out, slash_error);
    EXPECT_NE(run_program({"test", "-e", dir.path + "/slash"}).status, 0);

    // Usage and version, without the banner; an unknown option is refused with the usage.
    for (const char* help : {"--help", "-h"}) {
        const Run_result r = run_program({VEMLO_BINARY, help, "whatever.txt"}, dir.path);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: vemlo [--templates-only] [CONTROL_FILE]\n", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("Exit status: 0 when"), std::string::npos);
    }
    Run_result r = run_program({VEMLO_BINARY, "--version"}, dir.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "vemlo 0.2\n");
    r = run_program({VEMLO_BINARY, "--verbose", "template.txt"}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("Error: unknown option --verbose\n\nUsage: vemlo", 0), 0u) << r.out;
    r = run_program({VEMLO_MAKE_EXAMPLE_BINARY, "--help"}, dir.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: make_example ARCHIVE_DIR\n", 0), 0u) << r.out;
    EXPECT_EQ(run_program({VEMLO_MAKE_EXAMPLE_BINARY, "--bad"}, dir.path).status, 1);
    EXPECT_NE(run_program({"test", "-e", dir.path + "/--help"}).status, 0);
    EXPECT_NE(run_program({"test", "-e", dir.path + "/--bad"}).status, 0);
}

// The driver's command line, start-up lines, early exits and runs without templates, and the
// control-file mistakes that stop a run before anything is written (the end-to-end test reads an
// archive named with "@" and checks the console on one pipe).
#include <gtest/gtest.h>

#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

const std::string banner = "\n\tvemlo v0.2\n\tUtilizing C code.\n";

// The console of a run, its run-time seconds masked.
std::string console(const Run_result& r) {
    return mask_after(r.out, "Run time: ~", ' ', "N");
}

}  // namespace

TEST(CommandLine, ConsoleAndExitStatus) {
    Temp_dir dir;
    const std::string by_default =
        "Missing template filename argument. Using default filename: template.txt\n";
    const std::string no_templates =
        "\n\tCreating 0 template(s) for 0 event(s)...\n"
        "\n\tCross-correlating 0 event(s) for ";
    // Settings scanning days 40-42 of 2013 at the given rate, then the template section.
    auto control = [](const std::string& rate, const std::string& templates) {
        return control_text({"out", rate + "/", "2013 40 0", "2013 42 0", "10", "2 8", "8", rate,
                             "archive", templates});
    };
    write_file(dir.path + "/empty.txt", "");
    write_file(dir.path + "/lonely.txt",
               control("1000000", "lonely\n"));  // no templates: settings unchecked
    write_file(
        dir.path + "/escape.txt",
        control("50", "quake\n2013 41 3600 XX ABC 00 HHZ 0\n2013 41 3600 XX ../x 00 HHZ 0\n"));
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
        {{"."}, 1, "Error: Unable to open template file: .\n"},
        {{}, 0, by_default + no_templates + "3 day(s)...\nRun time: ~N seconds.\n"},
        {{"template.txt"}, 0, no_templates + "3 day(s)...\nRun time: ~N seconds.\n"},
    };
    for (const auto& [args, status, out] : runs) {
        if (args.empty() && status == 0)
            write_file(dir.path + "/template.txt", control("100", ""));
        std::vector<std::string> argv = {VEMLO_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        const Run_result r = run_program(argv, dir.path);
        EXPECT_EQ(r.status, status) << out;
        EXPECT_EQ(console(r), banner + out);
    }
    // Bad settings stop the run before its results directory (named after the rate) is made.
    EXPECT_NE(run_program({"test", "-e", dir.path + "/50"}).status, 0);
    EXPECT_NE(run_program({"test", "-e", dir.path + "/1000000"}).status, 0);
    EXPECT_EQ(run_program({"test", "-d", dir.path + "/100"}).status, 0);

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

TEST(CommandLine, ControlFileMistakesStopTheRunBeforeAnythingIsWritten) {
    Temp_dir dir;
    const std::string quake = "quake\n2013 45 3600 XX S1 00 HHZ 0\n2013 45 3601.5 XX S2 00 HHZ 0\n";
    // A control file per mistake, each with its own results directory, and the line it gets.
    struct Mistake {
        Control control;
        std::string error;
    };
    std::vector<Mistake> mistakes(6);
    mistakes[0].control.templates =
        "quake\n2013 45 3600 XX S1 00 HHZ 0\n\n"
        "2013 45 3601.5 XX S2 00 HHZ 0\n2013 45 3603 XX S3 00 HHZ 0\n";
    mistakes[0].error =
        "Error: line 41 of the control file: '2013 45 3601.5 XX S2 00 HHZ 0' reads "
        "as a pick where an event name belongs: a blank line ends an event";
    mistakes[1].control.templates = "2019/07/06 03:19:53\n2013 45 3600 XX S1 00 HHZ 0\n";
    mistakes[1].error =
        "Error: line 38 of the control file: the event name \"2019/07/06 "
        "03:19:53\" becomes a file name and must not hold '/' or control "
        "characters";
    mistakes[2].control.templates = quake + "\n\nquake_b\n2013 45 3600 XX S1 00 HHZ 0\n";
    mistakes[2].error =
        "Error: line 42 of the control file: the event name is empty (one blank "
        "line ends an event; the next line names the next event)";
    mistakes[3].control.length = "eight";
    mistakes[3].error = "Error: line 11 of the control file: 'eight' is not a number";
    mistakes[4].control.end = "2013 44 0";
    mistakes[4].error =
        "Error: line 8 of the control file: the last day to scan, day 44 of year "
        "2013, is before the first day, day 45 of year 2013 (line 5)";
    mistakes[5].control.archive = "arhcive";  // mistyped, and downloads are off
    mistakes[5].error =
        "Error: line 26 of the control file: the archive directory \"arhcive/\" "
        "does not exist (and line 35 does not allow downloads)";
    for (size_t k = 0; k < mistakes.size(); ++k) {
        Control& c = mistakes[k].control;
        c.output = "out" + std::to_string(k);
        if (c.templates.empty())
            c.templates = quake;
        const std::string file = "mistake" + std::to_string(k) + ".txt";
        write_file(dir.path + "/" + file, control_text(c));
        const Run_result r = run_program({VEMLO_BINARY, file}, dir.path);
        EXPECT_EQ(r.status, 1) << file;
        EXPECT_EQ(r.out, banner + mistakes[k].error + "\n") << file;
        EXPECT_NE(run_program({"test", "-e", dir.path + "/" + c.output}).status, 0) << file;
    }
    // vemlo-batch refuses the same before making any chunk.
    const Run_result batch = run_program({VEMLO_BATCH_BINARY, "mistake1.txt"}, dir.path);
    EXPECT_EQ(batch.status, 1);
    EXPECT_EQ(batch.out, mistakes[1].error + "\n");
    EXPECT_NE(run_program({"test", "-e", dir.path + "/out1"}).status, 0);
}

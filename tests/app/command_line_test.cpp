// The driver's command line, start-up lines, early exits and runs without templates (the
// end-to-end test reads an archive named with "@" and checks the console on one pipe).
#include <gtest/gtest.h>

#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

TEST(CommandLine, ConsoleAndExitStatus) {
    Temp_dir dir;
    const std::string banner = "\n\tvemlo v0.2\n\tUtilizing C code.\n";
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
    write_file(dir.path + "/empty.txt", "");  // all zeros: day 0 of year 0, one day
    write_file(dir.path + "/lonely.txt",
               control("1000000", "lonely\n"));  // no templates: unchecked
    std::string lonely_days;
    for (int day = 0; day < 3; ++day)
        lonely_days += "\n\tMAD*8: nan\n\t# Matches: 0\n\nWriting results to file...done.\n";
    write_file(
        dir.path + "/escape.txt",
        control("50", "quake\n2013 41 3600 XX ABC 00 HHZ 0\n2013 41 3600 XX ../x 00 HHZ 0\n"));
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> runs = {
        {{}, 1, by_default + "Error: Unable to open template file: template.txt\n"},
        {{"a.txt", "b.txt"},
         1,
         "Error: Unknown argument format. Call vemlo with: ./vemlo example_filename.txt\n"},
        {{"sub/none.txt"}, 1, "Error: Unable to open template file: sub/none.txt\n"},
        {{"empty.txt"}, 0, no_templates + "1 day(s)...\nRun time: ~N seconds.\n"},
        {{"lonely.txt"},
         0,
         "\n\tCreating 0 template(s) for 1 event(s)...\n\n\tCross-correlating 1 event(s) for 3 "
         "day(s)...\nEvent #1\n" +
             lonely_days + "Run time: ~N seconds.\n"},
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
        EXPECT_EQ(mask_after(r.out, "Run time: ~", ' ', "N"), banner + out);
    }
    // Bad settings stop the run before its results directory (named after the rate) is made.
    EXPECT_NE(run_program({"test", "-e", dir.path + "/50"}).status, 0);
    EXPECT_EQ(run_program({"test", "-d", dir.path + "/100"}).status, 0);
}

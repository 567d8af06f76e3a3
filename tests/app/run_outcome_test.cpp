// How a run on a one-station archive ends: the run record, --templates-only, command-line and
// control-file mistakes, no template made, and results and channels files that cannot be opened
// or written (status 1, the file named).
#include <gtest/gtest.h>

#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

TEST(RunOutcome, RecordsTemplatesOnlyAndFailuresThatReachTheExitStatus) {
    Temp_dir dir;
    write_day_file(dir.path + "/archive", "S1", "HHZ", 45, 10,
                   synthetic_day(10, 99, {{3600, 1.0, 1.2}, {40000, 0.8, 1.2}}));
    const std::string quake = "quake\n2013 45 3600 XX S1 00 HHZ 0\n";
    auto run = [&](const std::string& output, const std::string& templates,
                   const std::vector<std::string>& options = {},
                   const std::string& archive = "archive") {
        Control c;
        c.output = output, c.templates = templates, c.archive = archive;
        write_file(dir.path + "/control.txt", control_text(c));
        std::vector<std::string> argv = {VEMLO_BINARY};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back("control.txt");
        return run_program(argv, dir.path);
    };
    // The results directory is line 2 whole, blank included; the record holds the control text.
    Run_result r = run("my results ", quake);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string earlier = read_file(dir.path + "/my results/quake.txt");
    EXPECT_EQ(read_results(dir.path + "/my results/quake.txt").size(), 2u) << r.out;
    const std::string record = read_file(dir.path + "/my results/vemlo-run.txt");
    const std::string control = read_file(dir.path + "/control.txt");
    const std::string tail =
        "control file text follows (" + std::to_string(control.size()) + " bytes):\n" + control;
    EXPECT_EQ(record.rfind("vemlo run record\nvemlo version: ", 0), 0u) << record;
    EXPECT_EQ(record.substr(record.size() - std::min(record.size(), tail.size())), tail);

    r = run("only", quake, {"--templates-only"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Cross-correlating"), std::string::npos) << r.out;
    EXPECT_NE(run_program({"test", "-e", dir.path + "/only"}).status, 0);

    // Mistakes stop the run with status 1 before its results directory is made.
    const std::tuple<std::string, std::string, std::string, std::string> mistakes[] = {
        {"lonely", "lonely\n", "archive", "not one template could be made: no event has a pick"},
        {"escape", quake + "2013 45 3600 XX ../x 00 HHZ 0\n", "archive",
         "station code \"../x\" must not hold '/' or control characters"},
        {"mistyped", quake, "arhcive", "the archive directory \"arhcive/\" does not exist"}};
    for (const auto& [out, templates, archive, error] : mistakes) {
        r = run(out, templates, {}, archive);
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_NE(r.out.find(error), std::string::npos) << r.out;
        EXPECT_NE(run_program({"test", "-e", dir.path + "/" + out}).status, 0) << out;
    }
    r = run_program({VEMLO_BATCH_BINARY, "control.txt"}, dir.path);  // the mistyped archive
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\"arhcive/\" does not exist"), std::string::npos) << r.out;
    r = run("x", quake, {"--verbose"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("Error: unknown option --verbose\n\nUsage: vemlo", 0), 0u) << r.out;
    r = run_program({VEMLO_BINARY, "a.txt", "b.txt"}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: Unknown argument format."), std::string::npos) << r.out;

    // No pick with data: status 1, the earlier results left as they were.
    r = run("my results ", "quake\n2013 46 3600 XX S1 00 HHZ 0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: not one template could be made: no pick had data"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(read_file(dir.path + "/my results/quake.txt"), earlier);

    // {directory, file, made a directory (else /dev/full), error}
    const std::tuple<std::string, std::string, bool, std::string> blocked[] = {
        {"a", "quake.txt", true, "Error: Unable to open output file a/quake.txt: Is a directory"},
        {"b", "quake.channels.csv", true, "Error: Unable to open output file b/quake.channels.csv"},
        {"c", "quake.channels.csv", false, "Error: Unable to write output file c/quake.channels"},
        {"d", "quake.txt", false, "Error: detections are missing from results file(s) d/quake"}};
    for (const auto& [out, file, directory, error] : blocked) {
        const std::string path = dir.path + "/" + out + "/" + file;
        ASSERT_EQ(run_program({"mkdir", "-p", directory ? path : dir.path + "/" + out}).status, 0);
        if (!directory) {
            ASSERT_EQ(run_program({"ln", "-s", "/dev/full", path}).status, 0);
        }
        r = run(out, quake);
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_NE(r.out.find(error), std::string::npos) << r.out;
    }
}

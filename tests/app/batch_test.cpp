// vemlo-batch against single vemlo runs on a small synthetic archive: GNU parallel in one-day
// chunks, resuming after a failed chunk, and a real one-node Slurm cluster.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <sstream>

#include "app/batch.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

// Three stations record days 45 and 47 of 2013 (day 46 is missing; S3 also misses day 47):
// noise with a repeating quake at {day, seconds} and moveouts 0, 1.5 and 3 s.
void write_archive(const std::string& dir) {
    const std::pair<int, double> quakes[] = {{45, 3600}, {45, 30000}, {47, 12000}, {47, 70000}};
    for (int s = 0; s < 3; ++s)
        for (int doy = 45; doy <= (s < 2 ? 47 : 45); doy += 2) {
            std::vector<Wavelet> wavelets;
            for (const auto& [day, seconds] : quakes)
                if (day == doy)
                    wavelets.push_back({seconds + 1.5 * s, 0.5, 1.2 + s});
            write_day_file(dir + "/archive", "S" + std::to_string(s + 1), "HHZ", doy, 10,
                           synthetic_day(10, 7 + s * 100 + doy, wavelets));
        }
}

// Days 45 to 47; two events named "quake", one without templates, one without data.
std::string control(const std::string& output_dir, const std::string& label = "results") {
    return control_text(
        {label, output_dir, "2013 45 0", "2013 47 0", "10", "0.5 3", "8", "10", "archive",
         "quake\n2013 45 3600 XX S1 00 HHZ 0\n2013 45 3601.5 XX S2 00 HHZ 0\n"
         "2013 45 3603 XX S3 00 HHZ 0\n\nlonely\n\nquake\n2013 45 3601.5 XX S2 00 HHZ 0\n\n"
         "ghost\n2013 45 3600 XX S9 00 HHZ 0\n"});
}

struct Batch_test : ::testing::Test {
    static void SetUpTestSuite() {
        dir = new Temp_dir;
        write_archive(dir->path);
        write_file(dir->path + "/single.txt", control("single/"));
        const Run_result run = run_program({VEMLO_BINARY, "single.txt"}, dir->path);
        ASSERT_EQ(run.status, 0) << run.out;
    }
    static void TearDownTestSuite() { delete dir; }

    // Every results file of output_dir is byte-identical to the single run's.
    static void expect_single_run_results(const std::string& output_dir) {
        for (const char* name : {"quake.txt", "lonely.txt", "ghost.txt"}) {
            const std::string single = read_file(dir->path + "/single/" + name);
            const std::string path = dir->path + "/" + output_dir + name;
            EXPECT_EQ(run_program({"test", "-f", path}).status, 0) << name;
            EXPECT_EQ(read_file(path), single) << name;
        }
    }
    static Temp_dir* dir;
};
Temp_dir* Batch_test::dir = nullptr;

// GNU parallel in one-day chunks: a failed chunk stops the merge, the rerun runs it alone, a
// changed control file starts afresh, and the merged files are those of the single run.
TEST_F(Batch_test, ParallelChunksRerunTheFailedOneAndMergeIntoTheSingleRunsFiles) {
    // Both "quake" events detect on days 45 and 47 (the first with 3 templates, 2 without S3).
    const std::string quake = read_file(dir->path + "/single/quake.txt");
    for (const char* count : {" 3\n", " 2\n", " 1\n"})
        ASSERT_NE(quake.find(count), std::string::npos) << quake;
    // The second chunk cannot write its results: its results folder is a file.
    const std::string work = dir->path + "/resumed/vemlo-batch/";
    ASSERT_EQ(run_program({"mkdir", "-p", work + "chunk-0002"}).status, 0);
    write_file(work + "chunk-0002/results", "");
    write_file(dir->path + "/resumed.txt", control("resumed/"));
    const std::vector<std::string> command = {VEMLO_BATCH_BINARY, "--days", "1",
                                              "--jobs",           "2",      "resumed.txt"};
    Run_result run = run_program(command, dir->path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("1 chunk(s) failed or did not run; nothing was merged:\n  chunk 2 "
                           "(2013 46 to 2013 46): log " +
                           work + "chunk-0002/log.txt\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(read_file(dir->path + "/resumed/quake.txt"), "");
    EXPECT_NE(run_program({"test", "-e", dir->path + "/resumed/quake.txt"}).status, 0);

    // Repaired, the rerun runs chunk 2 alone (chunk 1 writes no new log) and merges.
    ASSERT_EQ(run_program({"rm", work + "chunk-0002/results", work + "chunk-0001/log.txt"}).status,
              0);
    run = run_program(command, dir->path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("2 done before; running 1 chunk(s)"), std::string::npos) << run.out;
    EXPECT_EQ(read_file(work + "chunk-0001/log.txt"), "");
    EXPECT_NE(read_file(work + "chunk-0002/log.txt"), "");
    expect_single_run_results("resumed/");

    write_file(dir->path + "/resumed.txt", control("resumed/", "results, edited"));
    run = run_program(command, dir->path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("0 done before; running 3 chunk(s)"), std::string::npos) << run.out;
    expect_single_run_results("resumed/");
    EXPECT_NE(read_file(work + "chunk-0002/log.txt")
                  .find("Data was not found for 2013 46 0 XX S1 00 HHZ"),
              std::string::npos);
}

TEST_F(Batch_test, SlurmArrayAndMergeJobOnAOneNodeCluster) {
    if (run_program({"sh", "-c",
                     "PATH=$PATH:/usr/sbin; command -v slurmctld && command -v "
                     "slurmd && command -v munged && command -v sbatch"})
            .status != 0)
        GTEST_SKIP() << "Slurm is not installed (Debian slurm-wlm, munge); scripts/test.sh "
                        "installs it";
    const std::string script = std::string(VEMLO_TESTS_DIR) + "/../scripts/slurm_test_cluster.sh";
    const std::string cluster = dir->path + "/cluster";
    const Run_result started = run_program({"timeout", "120", script, "start", cluster});
    struct Stop {
        std::string script, cluster;
        ~Stop() { run_program({"timeout", "60", script, "stop", cluster}); }
    } stop{script, cluster};
    ASSERT_EQ(started.status, 0) << started.out << started.err;
    setenv("SLURM_CONF", (cluster + "/slurm.conf").c_str(), 1);

    // A failing task (chunk 3 cannot write its results) cancels the merge job.
    const std::string work = dir->path + "/slurm/vemlo-batch/";
    ASSERT_EQ(run_program({"mkdir", "-p", work + "chunk-0003"}).status, 0);
    write_file(work + "chunk-0003/results", "");
    write_file(dir->path + "/slurm.txt", control("slurm/"));
    const std::vector<std::string> command = {"timeout",  "900",   VEMLO_BATCH_BINARY,
                                              "--engine", "slurm", "--wait",
                                              "--days",   "1",     "slurm.txt"};
    Run_result run = run_program(command, dir->path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("  chunk 3 (2013 47 to 2013 47): log " + work + "chunk-0003/log.txt"),
              std::string::npos)
        << run.out << run.err;
    EXPECT_NE(run_program({"test", "-e", dir->path + "/slurm/quake.txt"}).status, 0);

    ASSERT_EQ(run_program({"rm", work + "chunk-0003/results"}).status, 0);
    run = run_program(command, dir->path);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Submitted 1 chunk(s) as Slurm job array"), std::string::npos);
    expect_single_run_results("slurm/");
}

}  // namespace

TEST(BatchSplit, ChunksWalkTheScanDaysAndNamesStayApart) {
    Template_file t;
    t.start_year = 2013, t.start_day = 364, t.end_year = 2014, t.end_day = 2;
    const std::vector<Chunk> chunks = split_scan_period(t, 2);
    ASSERT_EQ(chunks.size(), 2u);
    const Template_file second = chunk_control(t, chunks[1], "w/");
    const Template_file first = chunk_control(t, chunks[0], "w/");
    EXPECT_EQ(
        std::vector<int>({first.start_year, first.start_day, first.end_year, first.end_day,
                          second.start_year, second.start_day, second.end_year, second.end_day}),
        std::vector<int>({2013, 364, 2013, 365, 2014, 1, 2014, 2}));
    t.end_year = 2013;
    EXPECT_TRUE(split_scan_period(t, 1).empty());

    EXPECT_EQ(chunk_event_names({"a", "b", "a", "x/y", "event-3"}),
              std::vector<std::string>({"event-1", "b", "event-3_", "event-4", "event-3"}));
}

TEST(BatchOptions, WrongCommandLinesAreRefused) {
    Batch_options options;
    EXPECT_EQ(
        parse_batch_arguments(
            {"--engine", "slurm", "--days", "3", "--sbatch", "-p x y", "--wait", "c.txt"}, options),
        "");
    EXPECT_EQ(options.days, 3);
    EXPECT_EQ(options.sbatch_args, "-p x y");
    // Each refused command line, its words split at blanks.
    for (const char* line : {"", "a b", "--days 0 c", "--days 2x c", "--jobs", "--engine make c",
                             "--wait c", "--engine slurm --jobs 2 c", "--frobnicate c"}) {
        std::istringstream words(line);
        const std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        Batch_options fresh;
        EXPECT_EQ(parse_batch_arguments(args, fresh).rfind("Error: ", 0), 0u) << line;
    }
}

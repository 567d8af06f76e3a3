// vemlo-batch against a single vemlo run on a synthetic archive: GNU parallel and Slurm.
#include <gtest/gtest.h>

#include <cstdlib>

#include "control/messages.h"
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
        ASSERT_GT(read_file(dir->path + "/single/quake.channels.csv").size(), 200u);
    }
    static void TearDownTestSuite() { delete dir; }

    // The files of output_dir are the single run's; the run record names control_file.
    static void expect_single_run_results(const std::string& output_dir,
                                          const std::string& control_file) {
        for (const char* name : {"quake.txt", "lonely.txt", "ghost.txt", "quake.channels.csv",
                                 "lonely.channels.csv", "ghost.channels.csv"}) {
            const std::string single = read_file(dir->path + "/single/" + name);
            const std::string path = dir->path + "/" + output_dir + name;
            EXPECT_EQ(run_program({"test", "-f", path}).status, 0) << name;
            EXPECT_EQ(read_file(path), single) << name;
        }
        std::string expected = read_file(dir->path + "/single/vemlo-run.txt");
        const std::string single_text = read_file(dir->path + "/single.txt");
        const std::string text = read_file(dir->path + "/" + control_file);
        expected.replace(expected.find("/single.txt\n"), 12, "/" + control_file + "\n");
        expected.replace(expected.size() - single_text.size(), single_text.size(), text);
        expected.replace(expected.find(" bytes):\n") - std::to_string(single_text.size()).size(),
                         std::to_string(single_text.size()).size(), std::to_string(text.size()));
        EXPECT_EQ(read_file(dir->path + "/" + output_dir + "vemlo-run.txt"), expected);
    }
    // An earlier batch's work directory where chunk number's results folder is a file.
    static void block_chunk(const std::string& output_dir, int number) {
        const std::string chunk =
            dir->path + "/" + output_dir + "vemlo-batch/chunk-000" + std::to_string(number);
        ASSERT_EQ(run_program({"mkdir", "-p", chunk}).status, 0);
        write_file(chunk + "/../plan.txt", "vemlo-batch plan\n");
        write_file(chunk + "/results", "");
    }
    static Temp_dir* dir;
};
Temp_dir* Batch_test::dir = nullptr;

// A failed chunk stops the merge and reruns alone; a changed control file reruns all; the
// results directory holds parallel's replacement strings, which stay plain text.
TEST_F(Batch_test, ParallelChunksRerunTheFailedOneAndMergeIntoTheSingleRunsFiles) {
    const std::string output = "r{=qx(id>PWNED)=}{}/";
    const std::string work = dir->path + "/" + output + "vemlo-batch/";
    block_chunk(output, 2);
    write_file(dir->path + "/resumed.txt", control(output));
    std::vector<std::string> command = {VEMLO_BATCH_BINARY, "--days", "1", "resumed.txt"};
    Run_result run = run_program(command, dir->path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("1 chunk(s) failed or did not run; nothing was merged:\n  chunk 2 "
                           "(2013 46 to 2013 46): log " +
                           work + "chunk-0002/log.txt\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run_program({"test", "-e", dir->path + "/" + output + "quake.txt"}).status, 0);

    // Repaired, the rerun runs chunk 2 alone (chunk 1 writes no new log) and merges.
    ASSERT_EQ(run_program({"rm", work + "chunk-0002/results", work + "chunk-0001/log.txt"}).status,
              0);
    run = run_program(command, dir->path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("2 done before; running 1 chunk(s)"), std::string::npos) << run.out;
    EXPECT_EQ(read_file(work + "chunk-0001/log.txt"), "");
    EXPECT_NE(read_file(work + "chunk-0002/log.txt"), "");
    expect_single_run_results(output, "resumed.txt");
    EXPECT_EQ(run_program({"find", dir->path, "-name", "PWNED"}).out, "");

    // A changed control file starts afresh; only what vemlo-batch made goes.
    const std::string stale_mark = read_file(work + "chunk-0001/done");
    write_file(work + "notes.txt", "mine\n");
    ASSERT_EQ(run_program({"mkdir", work + "chunk-0009"}).status, 0);
    write_file(work + "slurm-chunk-9.out", "");
    write_file(dir->path + "/resumed.txt", control(output, "results, edited"));
    run = run_program(command, dir->path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("0 done before; running 3 chunk(s)"), std::string::npos) << run.out;
    expect_single_run_results(output, "resumed.txt");
    EXPECT_EQ(read_file(work + "notes.txt"), "mine\n");
    EXPECT_EQ(run_program({"ls", work + "chunk-0009", work + "slurm-chunk-9.out"}).out, "");

    // A chunk of the earlier plan that marks itself done late is not done under this one.
    write_file(work + "chunk-0001/done", stale_mark);
    run = run_program(command, dir->path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("2 done before; running 1 chunk(s)"), std::string::npos) << run.out;

    // Chunks of two days; paths also pass through --sshlogin.
    command[2] = "2";
    command.insert(command.end() - 1, {"--sshlogin", "2/:"});
    run = run_program(command, dir->path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("2 chunk(s) of up to 2 day(s), 0 done before"), std::string::npos);
    expect_single_run_results(output, "resumed.txt");

    // A folder of the user's where the work directory would be is left alone.
    ASSERT_EQ(run_program({"mkdir", "-p", dir->path + "/mine/vemlo-batch/notes"}).status, 0);
    write_file(dir->path + "/mine.txt", control("mine/"));
    run = run_program({VEMLO_BATCH_BINARY, "mine.txt"}, dir->path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Error: " + dir->path +
                           "/mine/vemlo-batch/ holds files but no vemlo-batch plan"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run_program({"ls", "-A", dir->path + "/mine/vemlo-batch"}).out, "notes\n");
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

    // A failing task (chunk 3 cannot write its results) cancels the merge job. The results
    // directory holds Slurm's filename pattern characters, which stay plain text.
    const std::string output = "sl%u\\m%j/";
    const std::string work = dir->path + "/" + output + "vemlo-batch/";
    block_chunk(output, 3);
    write_file(dir->path + "/slurm.txt", control(output));
    std::vector<std::string> command = {"timeout",  "900",   VEMLO_BATCH_BINARY,
                                        "--engine", "slurm", "--wait",
                                        "--days",   "1",     "slurm.txt"};
    Run_result run = run_program(command, dir->path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("  chunk 3 (2013 47 to 2013 47): log " + work + "chunk-0003/log.txt"),
              std::string::npos)
        << run.out << run.err;
    EXPECT_NE(read_file(work + "chunk-0001/log.txt").find(run_time_line), std::string::npos);
    EXPECT_NE(read_file(work + "slurm-chunk-3.out").find("Chunk 3 failed"), std::string::npos);
    EXPECT_NE(run_program({"test", "-e", dir->path + "/" + output + "quake.txt"}).status, 0);

    // The user's dependency (a job of theirs that runs first) holds for both jobs, and the
    // merge job still waits for the chunk that runs again.
    const Run_result first =
        run_program({"sbatch", "--parsable", "--output=/dev/null", "--wrap", "sleep 2"}, dir->path);
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(run_program({"rm", work + "chunk-0003/results"}).status, 0);
    command.insert(command.end() - 1, {"--sbatch", "--dependency afterok:" +
                                                       first.out.substr(0, first.out.find('\n'))});
    run = run_program(command, dir->path);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Submitted 1 chunk(s) as Slurm job array"), std::string::npos);
    expect_single_run_results(output, "slurm.txt");
}
}  // namespace

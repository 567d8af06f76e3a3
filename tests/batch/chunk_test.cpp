// How vemlo-batch judges a chunk, merges, and stops, with a stand-in for vemlo: a copy of
// vemlo-batch runs the shell script "vemlo" beside it, which writes the results and channels files
// and the console text the test asks for (FAKE_RESULTS, FAKE_LOG, FAKE_STATUS), then fills the disk
// (FAKE_FILL, a file to grow), or sleeps (FAKE_SLEEP, writing its process id into that folder).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

const char fake_vemlo[] = R"(#!/bin/sh
if [ -n "$FAKE_SLEEP" ]; then echo $$ > "$FAKE_SLEEP/$$"; exec sleep 120; fi
out=$(sed -n 2p "$1"); mkdir -p "$out"; rm -f "$out"*.txt "$out"*.channels.csv
for name in $FAKE_RESULTS; do printf '' > "$out$name.txt"; echo header > "$out$name.channels.csv"; done
printf "$FAKE_LOG"
[ -n "$FAKE_FILL" ] && dd if=/dev/zero of="$FAKE_FILL" bs=4096 2>/dev/null
[ "$FAKE_STATUS" = kill ] && kill -9 $$
exit "${FAKE_STATUS:-0}"
)";

const char complete_log[] = "Writing results to file...done.\nRun time: ~0 seconds.\n";

// A scratch folder with bin/vemlo-batch, the stand-in bin/vemlo and a control file of two
// events, "a" and "b", over two days (days 45 and 46 of 2013), results in out/, an empty
// archive/.
struct Fake_batch {
    Fake_batch() {
        std::filesystem::create_directories(dir.path + "/bin");
        std::filesystem::create_directories(dir.path + "/archive");
        std::filesystem::copy_file(VEMLO_BATCH_BINARY, batch);
        write_file(dir.path + "/bin/vemlo", fake_vemlo);
        std::filesystem::permissions(dir.path + "/bin/vemlo", std::filesystem::perms::owner_all);
        Control c;
        c.output = "out/";
        c.end = "2013 46 0";
        c.templates = "a\n2013 45 10 XX S1 00 HHZ 0\n\nb\n2013 45 10 XX S2 00 HHZ 0\n";
        write_file(dir.path + "/control.txt", control_text(c));
        fake("a b", complete_log, "0");
    }
    // What the stand-in does from now on.
    static void fake(const std::string& results, const std::string& log,
                     const std::string& status) {
        setenv("FAKE_RESULTS", results.c_str(), 1);
        setenv("FAKE_LOG", log.c_str(), 1);
        setenv("FAKE_STATUS", status.c_str(), 1);
    }
    Run_result run(std::vector<std::string> args) const {
        args.insert(args.begin(), batch);
        return run_program(args, dir.path);
    }
    Run_result batch_run() const { return run({"--days", "1", "control.txt"}); }
    Run_result chunk(int number) const {
        return run({"--run-chunk", work, std::to_string(number)});
    }
    Run_result merge() const { return run({"--merge", work}); }
    std::string file(const std::string& name) const { return read_file(dir.path + "/" + name); }
    bool exists(const std::string& name) const {
        return std::filesystem::exists(dir.path + "/" + name);
    }

    Temp_dir dir;
    std::string batch = dir.path + "/bin/vemlo-batch";
    std::string work = dir.path + "/out/vemlo-batch/";
};

}  // namespace

// A chunk is done only when vemlo exited 0, its log ends with the run-time line and holds no
// results-file failure, and every event's results file is there; a done chunk whose last
// event's results are gone is not merged.
TEST(BatchChunk, DoneOnlyAfterACompleteRunWithEveryResultsFile) {
    Fake_batch b;
    Run_result run = b.batch_run();
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(b.file("out/vemlo-batch/chunk-0001/done").rfind("done ", 0), std::string::npos);

    const struct {
        const char *results, *log, *status, *reason;
    } failures[] = {
        {"a", complete_log, "0", "the results file of event b is missing"},
        {"a b", "Writing results to file...done.\n", "0", "its log is incomplete"},
        {"a b", "", "0", "its log is incomplete"},
        {"a b", "\nUnable to write output file out/b.txt!\nRun time: ~0 seconds.\n", "0",
         "vemlo could not write a results file: Unable to write output file out/b.txt!"},
        {"a b", "\nUnable to open output file!\nRun time: ~0 seconds.\n", "0",
         "vemlo could not write a results file"},
        {"a b", complete_log, "3", "vemlo ended with status 3"},
        {"a b", complete_log, "kill", "vemlo ended with signal 9 (SIGKILL)"},
    };
    for (const auto& f : failures) {
        Fake_batch::fake(f.results, f.log, f.status);
        run = b.chunk(2);
        EXPECT_EQ(run.status, 1) << f.reason;
        EXPECT_NE(run.out.find(std::string("Chunk 2 failed: ") + f.reason), std::string::npos)
            << run.out;
        EXPECT_NE(b.file("out/vemlo-batch/chunk-0002/log.txt").find(f.reason), std::string::npos);
        EXPECT_FALSE(b.exists("out/vemlo-batch/chunk-0002/done")) << f.reason;
    }
    EXPECT_NE(
        b.merge().out.find("1 chunk(s) failed or did not run; nothing was merged:\n  chunk 2"),
        std::string::npos);

    // Chunk 2 done again; chunk 1 then loses its last event's results file.
    Fake_batch::fake("a b", complete_log, "0");
    ASSERT_EQ(b.chunk(2).status, 0);
    ASSERT_EQ(b.merge().status, 0);
    write_file(b.dir.path + "/out/a.txt", "kept\n");
    std::filesystem::remove(b.work + "chunk-0001/results/b.txt");
    run = b.merge();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("  chunk 1 (2013 45 to 2013 45)"), std::string::npos) << run.out;
    EXPECT_EQ(b.file("out/a.txt"), "kept\n");
    EXPECT_FALSE(b.exists("out/vemlo-batch/chunk-0001/done"));
}

// On a full disk (a small tmpfs) nothing counts as done and nothing is merged, and a merge that
// cannot write leaves the results it had and no partial file.
TEST(BatchChunk, FullDiskNeitherMarksNorMerges) {
    Fake_batch b;
    const std::string disk = b.dir.path + "/out";
    std::filesystem::create_directories(disk);
    if (::mount("vemlo-test", disk.c_str(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    const std::string filler = disk + "/filler";
    auto free_space = [&] { std::filesystem::remove(filler); };

    // The disk fills up as vemlo ends: no mark can be written, so the chunk is not done.
    Run_result run = b.batch_run();
    ASSERT_EQ(run.status, 0) << run.out;
    setenv("FAKE_FILL", filler.c_str(), 1);
    run = b.chunk(1);
    unsetenv("FAKE_FILL");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Chunk 1 failed: cannot write " + b.work +
                           "chunk-0001/done: No space left on device"),
              std::string::npos)
        << run.out;
    EXPECT_FALSE(b.exists("out/vemlo-batch/chunk-0001/done"));
    run = b.batch_run();
    EXPECT_EQ(run.status, 1) << run.out;

    // The merge cannot write: status 1, the earlier merged files as they were, no partial file.
    free_space();
    Fake_batch::fake("a b", "Run time: ~0 seconds.\n", "0");
    ASSERT_EQ(b.batch_run().status, 0);
    write_file(b.work + "chunk-0001/results/a.txt", std::string(8192, 'x'));
    run_program({"dd", "if=/dev/zero", "of=" + filler, "bs=4096"});
    run = b.merge();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("No space left on device; no results file was merged"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(b.file("out/a.txt"), "");
    EXPECT_FALSE(b.exists("out/a.txt.vemlo-batch-partial"));
    EXPECT_FALSE(b.exists("out/b.txt.vemlo-batch-partial"));
}

// SIGINT, SIGTERM and SIGHUP to vemlo-batch alone stop GNU parallel and every chunk with it.
TEST(BatchChunk, KillingTheBatchStopsEveryChunk) {
    Fake_batch b;
    const std::string pids = b.dir.path + "/pids";
    setenv("FAKE_SLEEP", pids.c_str(), 1);
    struct Unset {
        ~Unset() { unsetenv("FAKE_SLEEP"); }
    } unset;
    auto alive = [](const std::string& pid) {  // a zombie has gone too
        const std::string stat = read_file("/proc/" + pid + "/stat");
        return !stat.empty() && stat.find(") Z") == std::string::npos;
    };
    // Whether done() holds within the given seconds.
    auto within = [](double seconds, auto done) {
        for (int i = 0; i < seconds * 20; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    for (const int number : {SIGHUP, SIGTERM, SIGINT}) {
        std::filesystem::remove_all(pids);
        std::filesystem::create_directories(pids);
        const char* argv[] = {b.batch.c_str(), "--days", "1", "--jobs", "2",
                              "control.txt",   nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addchdir_np(&actions, b.dir.path.c_str());
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        std::vector<std::string> chunks;
        ASSERT_TRUE(within(30, [&] {
            chunks.clear();
            for (const auto& entry : std::filesystem::directory_iterator(pids))
                chunks.push_back(entry.path().filename().string());
            return chunks.size() == 2;
        })) << "the chunks did not start";
        kill(pid, number);
        // The chunks sleep for two minutes: the batch must end long before.
        int status = 0;
        if (!within(30, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
            ADD_FAILURE() << "vemlo-batch went on for 30 s after signal " << number;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << number;
        within(5, [&] { return !alive(chunks[0]) && !alive(chunks[1]); });
        for (const std::string& chunk : chunks) {
            EXPECT_FALSE(alive(chunk)) << "a chunk outlived vemlo-batch after signal " << number;
            if (alive(chunk))
                kill(std::stoi(chunk), SIGKILL);
        }
    }
}

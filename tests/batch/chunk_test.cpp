// How vemlo-batch judges, merges and stops chunks, with a stand-in script for vemlo that writes
// FAKE_RESULTS and FAKE_LOG, ends with FAKE_STATUS, fills FAKE_FILL or sleeps (FAKE_SLEEP).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
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

// bin/vemlo-batch beside the stand-in bin/vemlo; control.txt: events "a" and "b", days 45-46.
struct Fake_batch {
    Fake_batch() {
        std::filesystem::create_directories(dir.path + "/bin");
        std::filesystem::create_directories(dir.path + "/archive");
        std::filesystem::copy_file(VEMLO_BATCH_BINARY, batch);
        write_file(dir.path + "/bin/vemlo", fake_vemlo);
        std::filesystem::permissions(dir.path + "/bin/vemlo", std::filesystem::perms::owner_all);
        Control c;
        c.output = "out/", c.end = "2013 46 0";
        c.templates = "a\n2013 45 10 XX S1 00 HHZ 0\n\nb\n2013 45 10 XX S2 00 HHZ 0\n";
        write_file(dir.path + "/control.txt", control_text(c));
        fake("a b", complete_log, "0");
    }
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
    bool done(int chunk) const {
        return std::filesystem::exists(work + "chunk-000" + std::to_string(chunk) + "/done");
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
    EXPECT_EQ(read_file(b.work + "chunk-0001/done").rfind("done ", 0), 0u);

    const struct {
        const char *results, *log, *status, *reason;
    } failures[] = {
        {"a", complete_log, "0", "the results file of event b is missing"},
        {"a b", "Writing results to file...done.\n", "0", "its log is incomplete"},
        {"a b", "\nUnable to write output file out/b.txt!\nRun time: ~0 seconds.\n", "0",
         "vemlo could not write a results file: Unable to write output file out/b.txt!"},
        {"a b", complete_log, "3", "vemlo ended with status 3"},
        {"a b", complete_log, "kill", "vemlo ended with signal 9 (SIGKILL)"},
    };
    for (const auto& f : failures) {
        Fake_batch::fake(f.results, f.log, f.status);
        run = b.chunk(2);
        EXPECT_TRUE(run.status == 1 && !b.done(2) &&
                    run.out.find(std::string("Chunk 2 failed: ") + f.reason) != std::string::npos &&
                    read_file(b.work + "chunk-0002/log.txt").find(f.reason) != std::string::npos)
            << run.out;
    }
    // Chunk 2 done again; chunk 1 then loses its last event's results file.
    Fake_batch::fake("a b", complete_log, "0");
    ASSERT_EQ(b.chunk(2).status, 0);
    ASSERT_EQ(b.merge().status, 0);
    write_file(b.dir.path + "/out/a.txt", "kept\n");
    std::filesystem::remove(b.work + "chunk-0001/results/b.txt");
    run = b.merge();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("  chunk 1 (2013 45 to 2013 45)"), std::string::npos) << run.out;
    EXPECT_EQ(read_file(b.dir.path + "/out/a.txt"), "kept\n");
    EXPECT_FALSE(b.done(1));
}

// On a full disk (a small tmpfs) no chunk counts as done and nothing is merged.
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
    ASSERT_EQ(b.batch_run().status, 0);
    setenv("FAKE_FILL", (disk + "/filler").c_str(), 1);
    const Run_result run = b.chunk(1);
    unsetenv("FAKE_FILL");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Chunk 1 failed: cannot write " + b.work +
                           "chunk-0001/done: No space left on device"),
              std::string::npos)
        << run.out;
    EXPECT_FALSE(b.done(1));
    EXPECT_EQ(b.batch_run().status, 1);
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
        const pid_t pid = (std::fflush(stdout), fork());
        if (pid == 0) {  // the batch alone, its output discarded
            if (!freopen("/dev/null", "w", stdout) || chdir(b.dir.path.c_str()) != 0)
                _exit(127);
            execl(b.batch.c_str(), b.batch.c_str(), "--days", "1", "--jobs", "2", "control.txt",
                  nullptr);
            _exit(127);
        }
        std::vector<std::string> chunks;
        ASSERT_TRUE(within(30, [&] {
            chunks.clear();
            for (const auto& entry : std::filesystem::directory_iterator(pids))
                chunks.push_back(entry.path().filename().string());
            return chunks.size() == 2;
        }));
        kill(pid, number);
        int status = 0;  // the chunks sleep for two minutes: the batch must end long before
        if (!within(30, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
            ADD_FAILURE() << "vemlo-batch went on for 30 s after signal " << number;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << number;
        EXPECT_TRUE(within(5, [&] { return !alive(chunks[0]) && !alive(chunks[1]); }))
            << "a chunk outlived vemlo-batch after signal " << number;
        for (const std::string& chunk : chunks)
            if (alive(chunk))
                kill(std::stoi(chunk), SIGKILL);
    }
}

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "acquire/child_process.h"
#include "support/temp_dir.h"

TEST(ChildProcess, StatusSignalsOutputAndInheritedLocks) {
    Temp_dir tmp;
    Outcome<Child_status> run = run_child({"sh", "-c", "exit 3"});
    ASSERT_TRUE(run.ok()) << run.error;
    EXPECT_FALSE(run.value->success());
    EXPECT_EQ(describe(*run.value), "status 3");
    run = run_child({"sh", "-c", "kill -9 $$"});
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(describe(*run.value), "signal 9 (SIGKILL)");
    run = run_child({"vemlo-no-such-program"});
    EXPECT_EQ(run.error.rfind("cannot run vemlo-no-such-program: ", 0), 0u) << run.error;
    // Both streams to a file, in another directory, with a variable of its own; no input.
    Child_options options;
    options.output_path = tmp.path + "/out";
    options.directory = tmp.path;
    options.environment = {"VEMLO_TEST_WORD=a {} b", "PATH=" + std::string(getenv("PATH"))};
    run = run_child({"sh", "-c", "pwd; echo \"$VEMLO_TEST_WORD\"; echo err >&2; read x"}, options);
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(run.value->exit_code, 1);
    EXPECT_EQ(read_file(tmp.path + "/out"), tmp.path + "\na {} b\nerr\n");
    options.output_path = tmp.path + "/missing/out";
    EXPECT_FALSE(run_child({"true"}, options).ok());
    // A lock is held by whatever child inherited it, after the taker let go.
    const Outcome<int> lock = lock_file(tmp.path + "/lock");
    ASSERT_TRUE(lock.ok()) << lock.error;
    ASSERT_TRUE(run_child({"sh", "-c", "sleep 1 >/dev/null &"}).ok());
    close(*lock.value);
    EXPECT_NE(lock_file(tmp.path + "/lock").error.find("is locked by another process"),
              std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(lock_file(tmp.path + "/lock").ok());
}

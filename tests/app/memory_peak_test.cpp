// The peak resident memory of whole runs stays within the memory budget plus 64 MB, at 1, 2 and
// 4 threads: day files at a higher rate than the run's (a template day kept for later picks),
// and a long template at the smallest budget the run accepts. A budget that cannot hold one day
// file stops the run with the budget it needs, which then does. (Not under the sanitizers,
// whose shadow memory and quarantine inflate the peak.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

constexpr long long mib = 1 << 20;

// The budget (MB) a refused run asks for, or 0 when out holds no such message.
long long budget_asked(const std::string& out) {
    const std::string said = "which needs about ";
    const std::size_t at = out.find(said);
    if (at == std::string::npos ||
        out.find("set VEMLO_MEMORY_MB to at least that") == std::string::npos)
        return 0;
    return std::stoll(out.substr(at + said.size()));
}

struct Measured_run {
    int status = -1;
    std::string out;
    long long peak_bytes = 0;
};

// vemlo on control.txt in dir with the budget and threads given: its exit status, standard
// output and peak resident memory. The child is forked (a spawned child would share this
// process's memory up to its exec, and the kernel's record of the peak would count it), its
// record of the peak reset to what it holds, which is at most what this process holds now.
Measured_run run_with(const std::string& dir, long long budget_mb, int threads) {
    Temp_dir capture;
    const std::string out = capture.path + "/out";
    const std::string budget = "VEMLO_MEMORY_MB=" + std::to_string(budget_mb);
    const std::string thread_count = "OMP_NUM_THREADS=" + std::to_string(threads);
    const pid_t pid = fork();
    if (pid == 0) {
        const int input = open("/dev/null", O_RDONLY);
        const int output = open(out.c_str(), O_WRONLY | O_CREAT, 0600);
        const int peak = open("/proc/self/clear_refs", O_WRONLY);
        if (input < 0 || output < 0 || peak < 0 || write(peak, "5", 1) != 1 ||
            chdir(dir.c_str()) != 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0 ||
            dup2(output, 2) < 0)
            _exit(126);
        putenv(const_cast<char*>(budget.c_str()));
        putenv(const_cast<char*>(thread_count.c_str()));
        execl(VEMLO_BINARY, VEMLO_BINARY, "control.txt", static_cast<char*>(nullptr));
        _exit(127);
    }
    Measured_run run;
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = read_file(out);
    run.peak_bytes = static_cast<long long>(usage.ru_maxrss) * 1024;
    return run;
}

// Runs at the smallest budget the run accepts before any work, on 1, 2 and 4 threads: each
// within it plus 64 MB, or refused naming a larger budget, at which it runs again (a later stage
// may ask for more still) until it completes. The results files are the same on every thread
// count.
void check_peaks(const std::string& dir, const std::string& results) {
    const Measured_run refused = run_with(dir, 1, 1);
    const long long smallest = budget_asked(refused.out);
    ASSERT_GT(smallest, 1) << refused.out;
    std::string expected;
    for (int threads : {1, 2, 4}) {
        Measured_run run;
        for (long long budget = smallest, tries = 0; tries < 3; ++tries) {
            run = run_with(dir, budget, threads);
            // Shown so that the peaks can be read off a test log.
            std::printf("%s: budget %lld MB, %d thread(s): status %d, peak %lld MB\n",
                        results.c_str(), budget, threads, run.status, run.peak_bytes / mib);
            EXPECT_LE(run.peak_bytes, (budget + 64) * mib) << budget << " MB, " << threads;
            const long long asked = budget_asked(run.out);
            if (run.status == 0 || asked <= budget)
                break;
            budget = asked;
        }
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find("cross-correlating...done."), std::string::npos);
        const std::string written = read_file(dir + "/out/" + results);
        EXPECT_EQ(written, expected.empty() ? written : expected) << threads;
        expected = written;
    }
}

}  // namespace

TEST(MemoryPeak, HighRateDayFilesAndALongTemplateStayWithinTheBudget) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' memory inflates the peak, and their runs take too long";
#endif
    // Four stations at 200 samples per second scanned at 20; P and S picks on S1 and S2, so
    // template creation keeps their days while it reads the others.
    Temp_dir high;
    for (int s = 1; s <= 4; ++s)
        write_day_file(high.path + "/archive", "S" + std::to_string(s), "HHZ", 45, 200,
                       synthetic_day(200, s, {{3600.0 + s, 1.0, 2.0}}));
    Control c;
    c.rate = "20";
    c.templates =
        "quake\n2013 45 3601 XX S1 00 HHZ 0\n2013 45 3602 XX S2 00 HHZ 0\n"
        "2013 45 3603 XX S3 00 HHZ 0\n2013 45 3604 XX S4 00 HHZ 0\n"
        "2013 45 3611 XX S1 00 HHZ 0\n2013 45 3612 XX S2 00 HHZ 0\n";
    write_file(high.path + "/control.txt", control_text(c));
    check_peaks(high.path, "quake.txt");

    // A 20000-second template at 20 samples per second on two stations.
    Temp_dir longer;
    for (int s = 1; s <= 2; ++s)
        write_day_file(longer.path + "/archive", "S" + std::to_string(s), "HHZ", 45, 20,
                       synthetic_day(20, s, {{3600.0 + s, 1.0, 2.0}}));
    c.length = "20000";
    c.templates = "long\n2013 45 3601 XX S1 00 HHZ 0\n2013 45 3602 XX S2 00 HHZ 0\n";
    write_file(longer.path + "/control.txt", control_text(c));
    check_peaks(longer.path, "long.txt");
}

TEST(MemoryPeak, ASmallScanIsCleanUnderValgrind) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "valgrind does not run sanitized programs";
#endif
    if (run_program({"valgrind", "--version"}).status != 0)
        GTEST_SKIP() << "valgrind is not installed";
    // One station, one day at 10 samples per second; the program runs as it was started, so
    // every allocation and read of the scan is checked.
    Temp_dir dir;
    write_day_file(dir.path + "/archive", "S1", "HHZ", 45, 10,
                   synthetic_day(10, 1, {{3600.0, 1.0, 2.0}, {50000.0, 0.8, 2.0}}));
    Control c;
    c.templates = "quake\n2013 45 3600 XX S1 00 HHZ 0\n";
    write_file(dir.path + "/control.txt", control_text(c));
    const Run_result run = run_program({"valgrind", "--error-exitcode=1", "--leak-check=no",
                                        "--quiet", VEMLO_BINARY, "control.txt"},
                                       dir.path);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("# Matches: 2"), std::string::npos) << run.out;
    EXPECT_EQ(read_results(dir.path + "/out/quake.txt").size(), 2u);
}

// Peak resident memory of whole runs stays within the budget plus 64 MB at 1, 2 and 4 threads
// (not under the sanitizers, whose shadow memory inflates it), and a scan is clean under valgrind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

namespace {

constexpr long long mib = 1 << 20;

// vemlo on dir/control.txt: status, output and peak RSS. Forked, not spawned, with its peak record
// reset, so that this process's memory is not counted.
std::pair<int, std::string> run_with(const std::string& dir, long long budget_mb, int threads,
                                     long long& peak_bytes) {
    Temp_dir capture;
    const std::string out = capture.path + "/out",
                      budget = "VEMLO_MEMORY_MB=" + std::to_string(budget_mb),
                      count = "OMP_NUM_THREADS=" + std::to_string(threads);
    const pid_t pid = fork();
    if (pid == 0) {
        const int output = open(out.c_str(), O_WRONLY | O_CREAT, 0600),
                  peak = open("/proc/self/clear_refs", O_WRONLY);
        if (output < 0 || peak < 0 || write(peak, "5", 1) != 1 || chdir(dir.c_str()) != 0 ||
            dup2(output, 1) < 0 || dup2(output, 2) < 0)
            _exit(126);
        putenv(const_cast<char*>(budget.c_str()));
        putenv(const_cast<char*>(count.c_str()));
        execl(VEMLO_BINARY, VEMLO_BINARY, "control.txt", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    peak_bytes = static_cast<long long>(usage.ru_maxrss) * 1024;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), read_file(out)};
}

// From the smallest budget asked, raised while a later stage asks for more: every run completes
// within budget + 64 MB.
void check_peaks(const std::string& dir) {
    long long peak = 0, smallest = 0;
    auto asked = [](const std::string& out) {
        const std::vector<std::string> said = values_after(out, "needs about ", ' ');
        return said.empty() ? 0LL : std::stoll(said[0]);
    };
    smallest = asked(run_with(dir, 1, 1, peak).second);
    ASSERT_GT(smallest, 1);
    for (int threads : {1, 2, 4}) {
        std::pair<int, std::string> run;
        for (long long budget = smallest, tries = 0; tries < 3; ++tries) {
            run = run_with(dir, budget, threads, peak);
            EXPECT_LE(peak, (budget + 64) * mib) << budget << " MB, " << threads;
            if (run.first == 0 || asked(run.second) <= budget)
                break;
            budget = asked(run.second);
        }
        EXPECT_EQ(run.first, 0) << run.second;
    }
}

}  // namespace

TEST(MemoryPeak, HighRateDayFilesAndALongTemplateStayWithinTheBudget) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' memory inflates the peak";
#endif
    // Four stations at 200/s scanned at 20/s; two picks on S1 and S2 keep their days in memory.
    Temp_dir high, longer;
    for (int s = 1; s <= 4; ++s)
        write_day_file(high.path + "/archive", "S" + std::to_string(s), "HHZ", 45, 200,
                       synthetic_day(200, s, {{3600.0 + s, 1.0, 2.0}}));
    Control c;
    c.rate = "20";
    c.templates = "quake\n";
    for (const auto& [at, s] :
         {std::pair{3601, 1}, {3602, 2}, {3603, 3}, {3604, 4}, {3611, 1}, {3612, 2}})
        c.templates +=
            "2013 45 " + std::to_string(at) + " XX S" + std::to_string(s) + " 00 HHZ 0\n";
    write_file(high.path + "/control.txt", control_text(c));
    check_peaks(high.path);
    // A 20000-second template at 20/s on two stations.
    for (int s = 1; s <= 2; ++s)
        write_day_file(longer.path + "/archive", "S" + std::to_string(s), "HHZ", 45, 20,
                       synthetic_day(20, s, {{3600.0 + s, 1.0, 2.0}}));
    c.length = "20000";
    c.templates = "long\n2013 45 3601 XX S1 00 HHZ 0\n2013 45 3602 XX S2 00 HHZ 0\n";
    write_file(longer.path + "/control.txt", control_text(c));
    check_peaks(longer.path);
}

TEST(MemoryPeak, ASmallScanIsCleanUnderValgrind) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "valgrind does not run sanitized programs";
#endif
    if (run_program({"valgrind", "--version"}).status != 0)
        GTEST_SKIP() << "valgrind is not installed";
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
    EXPECT_EQ(read_results(dir.path + "/out/quake.txt").size(), 2u);
}

// Detection, results and channels rows, held output, channel measurement and the memory budget.
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/resource.h>

#include <csignal>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>

#include "scan/channel_measure.h"
#include "scan/channels_file.h"
#include "scan/detection.h"
#include "scan/event_output.h"
#include "scan/memory_budget.h"
#include "scan/results_file.h"
#include "scan/scan_plan.h"
#include "support/temp_dir.h"

namespace {

// How many names in directory begin with ".vemlo-held-".
int held_files(const std::string& directory) {
    int held = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        held += entry.path().filename().string().rfind(".vemlo-held-", 0) == 0;
    return held;
}

// What f writes on standard output.
template <class F>
std::string printed(F f) {
    std::ostringstream out;
    std::streambuf* old = std::cout.rdbuf(out.rdbuf());
    f();
    std::cout.rdbuf(old);
    return out.str();
}

// A smooth pulse of 2 Hz at 100 samples per second, zero outside [0, 60) samples.
double pulse(double k) {
    return k < 0 || k >= 60 ? 0.0 : std::sin(M_PI * k / 60) * std::sin(2 * M_PI * k / 50 + 0.3);
}

}  // namespace
TEST(Detection, CandidatesThinningAndConsoleLines) {
    // Window 100, threshold 0.4: peaks and the ones thinning keeps, ties W and W - 1 apart last.
    const std::vector<std::pair<std::vector<std::pair<int, float>>, std::vector<int>>> cases = {
        {{{100, 0.5f}, {150, 0.8f}, {200, 0.6f}}, {150}},
        {{{100, 0.8f}, {150, 0.6f}, {220, 0.7f}}, {100, 220}},
        {{{100, 0.6f}, {200, 0.6f}}, {100, 200}},
        {{{100, 0.6f}, {199, 0.6f}}, {199}}};
    for (const auto& [peaks, expected] : cases) {
        std::vector<float> stack(400, 0.0f);
        for (const auto& [p, value] : peaks)
            stack[p] = value;
        EXPECT_EQ(thin_candidates(stack, find_candidates(stack, 0.4f), 100), expected);
    }
    // Median and MAD 0.0125, threshold 0.1: 300 equals it; the ends never qualify, nor does 1.
    std::vector<float> stack(200, 0.0125f);
    stack.resize(400, 0.0f);
    stack[0] = stack[399] = 0.9f;
    stack[1] = 0.3f, stack[120] = 0.5f, stack[152] = 0.3f, stack[300] = 0.1f;
    std::ostringstream out;
    EXPECT_EQ(detect(stack, 100, 8.0, out).matches, std::vector<int>({120, 300}));
    stack.assign(100, NAN);
    EXPECT_TRUE(detect(stack, 10, 8.0, out).matches.empty());
    EXPECT_EQ(out.str(), "\n\tMAD*8: 0.1\n\t# Matches: 2\n\n\tMAD*8: nan\n\t# Matches: 0\n");

    // Against the plain loop, short and long (shared by the threads): plateaus qualify on both
    // sides; NaN and its neighbours never do.
    std::mt19937 rng(3);
    for (const int size : {5000, 70003}) {
        stack.resize(size);
        for (float& x : stack)
            x = rng() % 12 == 0 ? NAN : static_cast<float>(rng() % 6) * 0.125f;
        for (const float threshold : {0.0f, 0.5f, 0.625f, NAN}) {
            std::vector<int> expected;
            for (int c = 1; c + 1 < size; ++c)
                if (stack[c] >= stack[c - 1] && stack[c] >= stack[c + 1] && stack[c] >= threshold)
                    expected.push_back(c);
            for (const int threads : {1, 2, 3}) {
                omp_set_num_threads(threads);
                EXPECT_EQ(find_candidates(stack, threshold), expected) << threshold << threads;
            }
        }
    }
}

TEST(MemoryBudget, HalfTheSmallerOfMachineAndJobLimitAndBatchesThatFit) {
    const long long gib = 1LL << 30;
    EXPECT_EQ(default_budget(24 * gib, -1), 12 * gib);  // no control-group limit
    EXPECT_EQ(default_budget(24 * gib, 4 * gib), 2 * gib);
    EXPECT_EQ(default_budget(2 * gib, 4 * gib), gib);
    // Events in order while their bytes fit, shared bytes counted once per batch.
    const std::vector<Event_need> events = {{10, {{"A", 100}, {"B", 100}}},  // 210
                                            {10, {{"A", 100}}},  // +10: A is held already
                                            {10, {{"C", 100}}},  // 330 > 300: a new batch
                                            {500, {}},  // too large alone: a batch of its own
                                            {0, {}},
                                            {5, {{"C", 100}}}};  // C counted again in this batch
    EXPECT_EQ(plan_batches(events, 300), (std::vector<std::size_t>{2, 3, 4, 6}));
    EXPECT_EQ(plan_batches(events, 219), (std::vector<std::size_t>{1, 2, 3, 4, 6}));
    EXPECT_TRUE(plan_batches({}, 300).empty());
}

TEST(ResultsFile, LinesAndAppending) {
    // p / fs in single precision: 8639001 gives 86390.0078125 s.
    EXPECT_EQ(format_result_line(2013, 45, 100.0f, 8639001, 0.53125f, 0.0125f, 5),
              "1360886390.008 0.53125000 0.01250000 5\n");
    Temp_dir dir;
    const std::string name = dir.path + "/event one.txt";
    const std::vector<float> stack = {0.0f, 0.6f, 0.0f, 0.7f};
    std::ostringstream out;
    EXPECT_TRUE(append_results(name, 2013, 45, 10.0f, {1, 3}, stack, {0, 3, 0, 2}, 0.05f, out));
    EXPECT_TRUE(append_results(name, 2013, 46, 10.0f, {3}, stack, {0, 3, 0, 2}, 0.04f, out));
    EXPECT_EQ(read_file(name),
              "1360800000.100 0.60000002 0.05000000 3\n1360800000.300 0.69999999 0.05000000 2\n"
              "1360886400.300 0.69999999 0.04000000 2\n");
}

TEST(EventOutput, HeldPiecesGoToATemporaryFileAndComeBackInOrder) {
    Temp_dir dir;
    Event_output out;
    out.spill_dir = dir.path + "/";
    const std::string a = dir.path + "/a.txt", b = dir.path + "/b.txt";
    const std::string rows = dir.path + "/a.channels.csv";
    // Text and lines holding the record layout's characters, an empty append, two files.
    EXPECT_EQ(printed([&] {
                  put_text(out, "Event #2\n");
                  put_results(out, a, "1 0.5 0.1 3\nT5\n", rows, "1,C\n2\n");
                  put_text(out, "12\nA\n");
                  put_results(out, b, "", dir.path + "/b.channels.csv", "");
                  put_results(out, a, "2 0.6 0.1 3\n", rows, "3\n");
              }),
              "");
    ASSERT_EQ(held_files(dir.path), 1);
    EXPECT_TRUE(out.held.empty());  // nothing kept in memory
    EXPECT_FALSE(std::filesystem::exists(a));
    const std::string writing = "\nWriting results to file...done.\n";
    EXPECT_EQ(printed([&] { release_output(out); }),
              "Event #2\n" + writing + "12\nA\n" + writing + writing);
    EXPECT_EQ(read_file(a), "1 0.5 0.1 3\nT5\n2 0.6 0.1 3\n");
    EXPECT_EQ(read_file(rows), "1,C\n2\n3\n");
    EXPECT_EQ(held_files(dir.path), 0);
    EXPECT_TRUE(out.failed_files.empty());
    EXPECT_EQ(printed([&] { put_text(out, "E\n"); }), "E\n");  // live once released

    // Failed appends are named, held or live; without a spill file pieces stay in memory; an
    // output dropped unreleased leaves no file.
    Event_output failing, unwritable;
    failing.spill_dir = dir.path + "/";
    unwritable.spill_dir = dir.path + "/missing/";
    printed([&] {
        put_results(failing, dir.path, "1\n", dir.path, "r\n");
        put_text(unwritable, "held\n");
        release_output(failing);
    });
    EXPECT_EQ(failing.failed_files, (std::vector<std::string>{dir.path, dir.path}));
    Event_output live;  // a live append that fails is named at once
    live.live = true;
    printed([&] { put_results(live, a, "", "/dev/full", "r\n"); });
    EXPECT_EQ(live.failed_files, std::vector<std::string>{"/dev/full"});
    EXPECT_EQ(unwritable.held.size(), 1u);
    EXPECT_EQ(printed([&] { release_output(unwritable); }), "held\n");
    {
        // A piece the temporary file takes only in part (its size limit reached midway) stays in
        // memory, and the file keeps the whole records before it.
        Event_output partial;
        partial.spill_dir = dir.path + "/";
        const std::string c = dir.path + "/c.txt", long_lines = std::string(5000, '7') + "\n";
        put_text(partial, "first\n");
        rlimit old_limit{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
        rlimit small = old_limit;
        small.rlim_cur = std::filesystem::file_size(partial.spill.path) + 100;
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        put_results(partial, c, long_lines, "", "");
        setrlimit(RLIMIT_FSIZE, &old_limit);
        std::signal(SIGXFSZ, previous);
        EXPECT_EQ(partial.held.size(), 1u);
        EXPECT_EQ(printed([&] { release_output(partial); }), "first\n" + writing);
        EXPECT_TRUE(partial.failed_files.empty());
        EXPECT_EQ(read_file(c), long_lines);
    }
    {
        Event_output dropped;
        dropped.spill_dir = dir.path + "/";
        put_text(dropped, "never shown\n");
        EXPECT_EQ(held_files(dir.path), 1);
    }
    EXPECT_EQ(held_files(dir.path), 0);
}

TEST(ChannelMeasure, SubSampleLagsRatiosAndTheEdgesOfTheTrace) {
    const int m = 80;
    std::vector<float> templ(m), trace(400), zeros(m, 0.0f), level(400, 3.0f);
    for (int k = 0; k < m; ++k)
        templ[k] = float(pulse(k - 10));
    // Twice the pulse 1.3 samples after 200, half of it 2.6 samples before 100.
    for (int k = 0; k < 400; ++k)
        trace[k] = float(2.0 * pulse(k - 210 - 1.3) + 0.5 * pulse(k - 110 + 2.6));
    Channel_measurement found = measure_channel(trace.data(), 400, 200, templ.data(), m, 5);
    ASSERT_TRUE(found.measured);
    EXPECT_NEAR(found.lag, 1.3, 0.02);
    EXPECT_NEAR(found.cc, 1.0, 1e-3);
    EXPECT_LE(found.cc, 1.0 + 1e-9);
    EXPECT_NEAR(found.ratio, 2.0, 0.02);
    found = measure_channel(trace.data(), 400, 100, templ.data(), m, 5);
    EXPECT_NEAR(found.lag, -2.6, 0.02);
    EXPECT_NEAR(found.ratio, 0.5, 0.005);
    // Lags whose window leaves the trace are passed over; a peak at the range's end is not refined.
    EXPECT_EQ(measure_channel(trace.data() + 97, 303, 3, templ.data(), m, 5).lag, -3.0);
    EXPECT_EQ(measure_channel(trace.data(), 400, 200, templ.data(), m, 1).lag, 1.0);
    EXPECT_FALSE(measure_channel(trace.data(), 400, 330, templ.data(), m, 9).measured);
    EXPECT_TRUE(measure_channel(trace.data(), 400, 330, templ.data(), m, 10).measured);
    EXPECT_FALSE(measure_channel(trace.data(), 40, 0, templ.data(), m, 0).measured);
    // A flat window or template correlates as 0; a template of zeros has no ratio.
    EXPECT_EQ(measure_channel(level.data(), 400, 200, templ.data(), m, 2).cc, 0.0);
    found = measure_channel(trace.data(), 400, 200, zeros.data(), m, 2);
    EXPECT_EQ(found.cc, 0.0);
    EXPECT_TRUE(std::isnan(found.ratio));
}

TEST(ChannelMeasure, RowsAndMaxLag) {
    // Codes with a comma or quote are quoted; picks past either end of the day change the date.
    const Channel_measurement found{true, 0.98765432, -1.25, std::nan("")};
    EXPECT_EQ(format_channel_row("1.000", {"X,Y", "S\"1", "00", "HHZ"}, found, 10.0, 2013, 45,
                                 0.1 + 0.2 - 0.0125),
              "1.000,\"X,Y\",\"S\"\"1\",00,HHZ,0.987654,-0.1250000,2013-02-14T00:00:00.287500Z,"
              "nan\n");
    EXPECT_EQ(utc_microseconds(2013, 45, -0.25), "2013-02-13T23:59:59.750000Z");
    EXPECT_EQ(utc_microseconds(2012, 366, 86399.9999996), "2013-01-01T00:00:00.000000Z");
    EXPECT_EQ(max_lag_samples(0.29, 100), 29);  // 28.999999999999996 in binary
    ::unsetenv("VEMLO_MAX_LAG");
    EXPECT_EQ(*max_lag_seconds().value, 0.5);
    for (const char* good : {"0", "60", "2e1"}) {
        ::setenv("VEMLO_MAX_LAG", good, 1);
        EXPECT_EQ(*max_lag_seconds().value, std::atof(good)) << good;
    }
    const std::string refused = "Error: VEMLO_MAX_LAG must be a number of seconds from 0 to 60, ";
    for (const std::string bad : {"", "-0.1", "60.5", "nan", "inf", "0x10", "1 ", "half"}) {
        ::setenv("VEMLO_MAX_LAG", bad.c_str(), 1);
        EXPECT_EQ(max_lag_seconds().error, refused + "not \"" + bad + "\"");
    }
    ::unsetenv("VEMLO_MAX_LAG");
}

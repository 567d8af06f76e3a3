// The plan of a batch and its command line: chunks, names, refused options.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

#include "batch/options.h"
#include "batch/plan.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), {}};
}

}  // namespace

TEST(BatchPlan, ChunksWalkTheScanDaysEndOnTheLastOneAndNamesStayApart) {
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
    // Three days in chunks of two: the last chunk holds the last day alone.
    t.end_year = 2014, t.end_day = 1;
    const std::vector<Chunk> odd = split_scan_period(t, 2);
    ASSERT_EQ(odd.size(), 2u);
    EXPECT_EQ(odd[1].first_day, odd[1].last_day);
    EXPECT_EQ(odd[1].last_day - odd[0].first_day, 2 * 86400);
    t.end_year = 2013;
    EXPECT_TRUE(split_scan_period(t, 1).empty());

    EXPECT_EQ(chunk_event_names({"a", "b", "a", "x/y", "event-3"}),
              std::vector<std::string>({"event-1", "b", "event-3_", "event-4", "event-3"}));

    // The identity changes with either text, and the texts cannot trade bytes.
    const std::string id = chunk_identity("plan", "chunk");
    EXPECT_EQ(id.size(), 16u);
    EXPECT_EQ(id, chunk_identity("plan", "chunk"));
    EXPECT_NE(id, chunk_identity("plan2", "chunk"));
    EXPECT_NE(id, chunk_identity("plan", "chunk2"));
    EXPECT_NE(id, chunk_identity("planc", "hunk"));
}

TEST(BatchOptions, WrongCommandLinesAndSbatchOptionsTheBatchSetsAreRefused) {
    Batch_options options;
    ASSERT_TRUE(parse_batch_arguments(words("--engine slurm --days 3 --wait c.txt"), options).ok());
    EXPECT_EQ(options.days, 3);
    EXPECT_FALSE(options.help);
    Batch_options help;
    EXPECT_TRUE(parse_batch_arguments({"--days", "0", "--help"}, help).ok());
    EXPECT_TRUE(help.help);
    const Run_result usage = run_program({VEMLO_BATCH_BINARY, "--help"});
    EXPECT_EQ(usage.status, 0);
    EXPECT_EQ(usage.out, batch_usage);
    for (const char* line : {"", "a b", "--days 0 c", "--days 2x c", "--jobs", "--engine make c",
                             "--wait c", "--engine slurm --jobs 2 c", "--frobnicate c"}) {
        Batch_options fresh;
        const Status status = parse_batch_arguments(words(line), fresh);
        ASSERT_FALSE(status.ok()) << line;
        EXPECT_EQ(status.error->rfind("Error: ", 0), 0u) << line;
    }

    // --sbatch: the user's dependency is taken out, in every form, and joined.
    auto sbatch = [](const std::string& text) { return parse_sbatch_args(text); };
    const Outcome<Sbatch_args> kept =
        sbatch("-p long --time=1:00 -J x --dependency=afterok:7 -vd after:8 --dep singleton");
    ASSERT_TRUE(kept.ok()) << kept.error;
    EXPECT_EQ(kept.value->options, words("-p long --time=1:00 -J x -v"));
    EXPECT_EQ(kept.value->dependency, "afterok:7,after:8,singleton");
    EXPECT_EQ(merge_dependency("12", kept.value->dependency),
              "afterok:12,afterok:7,after:8,singleton");
    EXPECT_EQ(merge_dependency("12", ""), "afterok:12");
    // A value that looks like a refused option is a value.
    EXPECT_TRUE(sbatch("-J -o --comment=-a").ok());
    const char* const refused_args[] = {
        "--array=1-3",     "--array 1-3", "--arr=2",   "-a 1-3", "-a1-3",
        "--output=x",      "--out x",     "-o x",      "-ox",    "-vo x",
        "--error=x",       "-e x",        "--wait",    "-W",     "-vW",
        "--chdir=/",       "-D /",        "--chdir /", "-d",     "--dependency=",
        "--dependency=a?b"};
    for (const char* refused : refused_args) {
        const Outcome<Sbatch_args> result = sbatch(refused);
        EXPECT_FALSE(result.ok()) << refused;
        EXPECT_EQ(result.error.rfind("Error: ", 0), 0u) << refused;
        Batch_options fresh;
        EXPECT_FALSE(
            parse_batch_arguments({"--engine", "slurm", "--sbatch", refused, "c.txt"}, fresh).ok())
            << refused;
    }
}

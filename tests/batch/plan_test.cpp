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
    const Template_file second = chunk_control(t, split_scan_period(t, 2).at(1), "w/");
    EXPECT_EQ(
        std::vector<int>({second.start_year, second.start_day, second.end_year, second.end_day}),
        std::vector<int>({2014, 1, 2014, 2}));
    // Three days in chunks of two: the last chunk holds the last day alone.
    t.end_day = 1;
    const std::vector<Chunk> odd = split_scan_period(t, 2);
    ASSERT_EQ(odd.size(), 2u);
    EXPECT_EQ(odd[1].last_day - odd[0].first_day, 2 * 86400);
    EXPECT_EQ(odd[1].first_day, odd[1].last_day);
    t.end_year = 2013;
    EXPECT_TRUE(split_scan_period(t, 1).empty());

    EXPECT_EQ(chunk_event_names({"a", "b", "a", "x/y", "event-3"}),
              std::vector<std::string>({"event-1", "b", "event-3_", "event-4", "event-3"}));
    // The identity changes with either text, and the texts cannot trade bytes.
    const std::string id = chunk_identity("plan", "chunk");
    EXPECT_EQ(id, chunk_identity("plan", "chunk"));
    for (const auto& [plan, chunk] :
         {std::pair{"plan2", "chunk"}, {"plan", "chunk2"}, {"planc", "hunk"}})
        EXPECT_NE(id, chunk_identity(plan, chunk)) << plan << chunk;
}

TEST(BatchOptions, WrongCommandLinesAndSbatchOptionsTheBatchSetsAreRefused) {
    Batch_options options;
    ASSERT_TRUE(parse_batch_arguments(words("--engine slurm --days 3 --wait c.txt"), options).ok());
    EXPECT_EQ(options.days, 3);
    Batch_options help;
    EXPECT_TRUE(parse_batch_arguments({"--days", "0", "--help"}, help).ok() && help.help);
    EXPECT_EQ(run_program({VEMLO_BATCH_BINARY, "--help"}).out, batch_usage);
    for (const char* line : {"", "--days 0 c", "--days 2x c", "--jobs", "--engine make c",
                             "--wait c", "--engine slurm --jobs 2 c", "--frobnicate c"}) {
        Batch_options fresh;
        EXPECT_EQ(parse_batch_arguments(words(line), fresh).error.value_or("").rfind("Error: ", 0),
                  0u)
            << line;
    }

    // --sbatch: the user's dependency is taken out, in every form, and joined.
    const Outcome<Sbatch_args> kept =
        parse_sbatch_args("-p long -J x --dependency=afterok:7 -vd after:8 --dep singleton");
    ASSERT_TRUE(kept.ok()) << kept.error;
    EXPECT_EQ(kept.value->options, words("-p long -J x -v"));
    EXPECT_EQ(merge_dependency("12", kept.value->dependency),
              "afterok:12,afterok:7,after:8,singleton");
    EXPECT_EQ(merge_dependency("12", ""), "afterok:12");
    EXPECT_TRUE(parse_sbatch_args("-J -o --comment=-a").ok());  // values, not options
    for (const char* refused :
         {"--arr=2", "-a1-3", "--out x", "-ox", "-vo x", "-e x", "--wait", "-vW", "--chdir /",
          "-D /", "-d", "--dependency=", "--dependency=a?b"}) {
        EXPECT_EQ(parse_sbatch_args(refused).error.rfind("Error: ", 0), 0u) << refused;
        Batch_options fresh;
        EXPECT_FALSE(
            parse_batch_arguments({"--engine", "slurm", "--sbatch", refused, "c.txt"}, fresh).ok())
            << refused;
    }
}

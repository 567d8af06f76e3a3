// Merging chunk results: a results file the merge cannot write is a failure, never passed over.
#include <gtest/gtest.h>

#include <sstream>

#include "app/batch.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

TEST(BatchMerge, AResultsFileThatCannotBeWrittenFailsTheMerge) {
    Temp_dir dir;
    Control c;
    c.output = dir.path + "/out", c.end = "2013 46 0";
    c.templates = "quake\n2013 45 3600 XX S1 00 HHZ 0\n";
    std::istringstream in(control_text(c));
    const Template_file control = *parse_template_file(in).value;
    const Batch_work work = batch_work(control, dir.path);
    const std::vector<Chunk> chunks = split_scan_period(control, 1);
    ASSERT_EQ(chunks.size(), 2u);
    for (const Chunk& chunk : chunks) {
        ASSERT_EQ(run_program({"mkdir", "-p", chunk_output_dir(work, chunk.number)}).status, 0);
        write_file(chunk_output_dir(work, chunk.number) + "quake.txt",
                   "line of chunk " + std::to_string(chunk.number) + "\n");
        write_file(chunk_dir(work, chunk.number) + "done", "done\n");
    }
    EXPECT_TRUE(merge_chunks(work, control, chunks).empty());
    EXPECT_EQ(read_file(dir.path + "/out/quake.txt"), "line of chunk 1\nline of chunk 2\n");
    // The merge's temporary beside the results file cannot be created.
    ASSERT_EQ(run_program({"mkdir", dir.path + "/out/quake.txt.vemlo-batch-partial"}).status, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(merge_chunks(work, control, chunks), std::vector<int>({0}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: cannot write " + dir.path + "/out/quake.txt\n");
    EXPECT_EQ(report_merge(work, control, chunks, {0}), 1);
}

// Merging chunk results: channels files take one header; a chunk without its files is not done;
// a results file the merge cannot write is a failure, never passed over.
#include <gtest/gtest.h>

#include <sstream>

#include "batch/merge.h"
#include "scan/channels_file.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

TEST(BatchMerge, AResultsFileThatCannotBeWrittenFailsTheMerge) {
    Temp_dir dir;
    Control c;
    c.output = dir.path + "/out/", c.end = "2013 46 0";
    c.templates = "quake\n2013 45 3600 XX S1 00 HHZ 0\n";
    const std::string text = control_text(c);
    std::istringstream in(text);
    const Template_file control = *parse_template_file(in).value;
    const Batch_work work = batch_work(control, dir.path);
    const std::vector<Chunk> chunks = split_scan_period(control, 1);
    ASSERT_EQ(chunks.size(), 2u);
    ASSERT_TRUE(claim_work_dir(work).ok());
    ASSERT_TRUE(prepare_work(work, text, control, chunks, 1).ok());
    for (const Chunk& chunk : chunks) {
        ASSERT_EQ(run_program({"mkdir", "-p", chunk_output_dir(work, chunk.number)}).status, 0);
        write_file(chunk_output_dir(work, chunk.number) + "quake.txt",
                   "line of chunk " + std::to_string(chunk.number) + "\n");
        write_file(chunk_output_dir(work, chunk.number) + "quake.channels.csv",
                   std::string(channels_header) +
                       (chunk.number == 1 ? "" : "row 1 of chunk 2\nrow 2 of chunk 2\n"));
        ASSERT_TRUE(
            mark_chunk_done(work, chunk.number, *read_chunk_identity(work, chunk.number).value)
                .ok());
    }
    Outcome<std::vector<int>> merged = merge_chunks(work, control, chunks);
    ASSERT_TRUE(merged.ok()) << merged.error;
    EXPECT_TRUE(merged.value->empty());
    EXPECT_EQ(read_file(dir.path + "/out/quake.txt"), "line of chunk 1\nline of chunk 2\n");
    // One header, then the rows of each chunk.
    const std::string channels =
        std::string(channels_header) + "row 1 of chunk 2\nrow 2 of chunk 2\n";
    EXPECT_EQ(read_file(dir.path + "/out/quake.channels.csv"), channels);

    // A chunk without its channels file is not done: nothing is merged.
    ASSERT_EQ(run_program({"rm", chunk_output_dir(work, 1) + "quake.channels.csv"}).status, 0);
    merged = merge_chunks(work, control, chunks);
    ASSERT_TRUE(merged.ok());
    EXPECT_EQ(*merged.value, std::vector<int>{1});
    write_file(chunk_output_dir(work, 1) + "quake.channels.csv", channels_header);
    ASSERT_TRUE(mark_chunk_done(work, 1, *read_chunk_identity(work, 1).value).ok());

    // The merge's temporary beside the results file cannot be created.
    write_file(chunk_output_dir(work, 2) + "quake.txt", "changed\n");
    ASSERT_EQ(run_program({"mkdir", dir.path + "/out/quake.txt.vemlo-batch-partial"}).status, 0);
    merged = merge_chunks(work, control, chunks);
    ASSERT_FALSE(merged.ok());
    EXPECT_EQ(merged.error, "cannot write " + dir.path + "/out/quake.txt: Is a directory");
    testing::internal::CaptureStdout();
    EXPECT_EQ(report_merge(work, control, chunks, merged), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: cannot write " + dir.path +
                  "/out/quake.txt: Is a directory; no results file was merged\n");
    EXPECT_EQ(read_file(dir.path + "/out/quake.txt"), "line of chunk 1\nline of chunk 2\n");
}

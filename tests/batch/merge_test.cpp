// Merging chunk results: channels files take one header; a chunk without its files is not done;
// a results file the merge cannot write is a failure, never passed over.
#include <gtest/gtest.h>

#include <filesystem>
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
    ASSERT_TRUE(claim_work_dir(work).ok());
    ASSERT_TRUE(prepare_work(work, text, control, chunks, 1).ok());
    for (const Chunk& chunk : chunks) {
        const std::string out = chunk_output_dir(work, chunk.number);
        std::filesystem::create_directories(out);
        write_file(out + "quake.txt", "line " + std::to_string(chunk.number) + "\n");
        write_file(out + "quake.channels.csv",
                   std::string(channels_header) + (chunk.number == 1 ? "" : "row\nrow 2\n"));
        ASSERT_TRUE(
            mark_chunk_done(work, chunk.number, *read_chunk_identity(work, chunk.number).value)
                .ok());
    }
    // A chunk without its channels file is not done: nothing is merged.
    const std::string channels = chunk_output_dir(work, 1) + "quake.channels.csv";
    std::filesystem::rename(channels, dir.path + "/c");
    EXPECT_EQ(*merge_chunks(work, control, chunks).value, std::vector<int>{1});
    std::filesystem::rename(dir.path + "/c", channels);
    ASSERT_TRUE(mark_chunk_done(work, 1, *read_chunk_identity(work, 1).value).ok());
    Outcome<std::vector<int>> merged = merge_chunks(work, control, chunks);
    ASSERT_TRUE(merged.ok() && merged.value->empty()) << merged.error;
    EXPECT_EQ(read_file(dir.path + "/out/quake.txt"), "line 1\nline 2\n");
    EXPECT_EQ(read_file(dir.path + "/out/quake.channels.csv"),
              std::string(channels_header) + "row\nrow 2\n");

    // The merge's temporary beside the results file cannot be created.
    write_file(chunk_output_dir(work, 2) + "quake.txt", "changed\n");
    std::filesystem::create_directory(dir.path + "/out/quake.txt.vemlo-batch-partial");
    merged = merge_chunks(work, control, chunks);
    testing::internal::CaptureStdout();
    EXPECT_EQ(report_merge(work, control, chunks, merged), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: cannot write " + dir.path +
                  "/out/quake.txt: Is a directory; no results file was merged\n");
    EXPECT_EQ(read_file(dir.path + "/out/quake.txt"), "line 1\nline 2\n");
}

// Output held for later events: spilled to a temporary file in the results directory and
// replayed in order.
#include "scan/event_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>

#include "support/temp_dir.h"

namespace {

// The names in directory that begin with ".vemlo-held-".
std::vector<std::string> held_files(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        if (entry.path().filename().string().rfind(".vemlo-held-", 0) == 0)
            names.push_back(entry.path().string());
    return names;
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

}  // namespace

TEST(EventOutput, HeldPiecesGoToATemporaryFileAndComeBackInOrder) {
    Temp_dir dir;
    Event_output out;
    out.spill_dir = dir.path + "/";
    const std::string a = dir.path + "/a.txt", b = dir.path + "/b.txt";
    const std::string rows = dir.path + "/a.channels.csv";
    // Text and lines holding the record layout's own characters, an empty append, two files.
    EXPECT_EQ(printed([&] {
                  put_text(out, "Event #2\n");
                  put_results(out, a, "1 0.5 0.1 3\nT5\n", rows, "1,C\n2\n");
                  put_text(out, "12\nA\n");
                  put_results(out, b, "", dir.path + "/b.channels.csv", "");
                  put_results(out, a, "2 0.6 0.1 3\n", rows, "3\n");
              }),
              "");
    ASSERT_EQ(held_files(dir.path).size(), 1u);
    EXPECT_TRUE(out.held.empty());  // nothing kept in memory
    EXPECT_FALSE(std::filesystem::exists(a));
    const std::string writing = "\nWriting results to file...done.\n";
    EXPECT_EQ(printed([&] { release_output(out); }),
              "Event #2\n" + writing + "12\nA\n" + writing + writing);
    EXPECT_EQ(read_file(a), "1 0.5 0.1 3\nT5\n2 0.6 0.1 3\n");
    EXPECT_EQ(read_file(rows), "1,C\n2\n3\n");
    EXPECT_TRUE(std::filesystem::exists(b));
    EXPECT_TRUE(held_files(dir.path).empty());
    EXPECT_TRUE(out.failed_files.empty());
    // Live now: written at once.
    EXPECT_EQ(printed([&] { put_text(out, "Event #3\n"); }), "Event #3\n");

    // A held append that fails when replayed is reported; a results directory that cannot take
    // the temporary file holds the pieces in memory instead; an output dropped unreleased (a
    // run that stopped) leaves no file behind.
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
        Event_output dropped;
        dropped.spill_dir = dir.path + "/";
        put_text(dropped, "never shown\n");
        EXPECT_EQ(held_files(dir.path).size(), 1u);
    }
    EXPECT_TRUE(held_files(dir.path).empty());
}

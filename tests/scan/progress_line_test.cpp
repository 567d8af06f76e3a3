// The progress line of a real run: on a terminal only, leaving the other output as it was.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "scan/progress_line.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

namespace {

// Runs a shell command with its standard error on a pseudo-terminal; returns what that received.
std::string run_on_terminal(const std::string& command) {
    int master = -1;
    winsize size{24, 120, 0, 0};
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string received;
    char buffer[4096];
    for (ssize_t n; pid > 0 && (n = read(master, buffer, sizeof buffer)) > 0;)  // EIO at the end
        received.append(buffer, n);
    int status = -1;
    EXPECT_TRUE(waitpid(pid, &status, 0) == pid && WIFEXITED(status) && !WEXITSTATUS(status));
    return received;
}

// The screen's lines after the terminal received text, without trailing blanks.
std::string screen(const std::string& received) {
    std::string text, line;
    size_t column = 0;
    for (char c : received + "\n") {
        if (c == '\n') {
            text += line.erase(line.find_last_not_of(' ') + 1) + "\n";
            line.clear();
        }
        if (c == '\r' || c == '\n') {
            column = 0;
            continue;
        }
        line.resize(std::max(line.size(), column + 1), ' ');
        line[column++] = c;
    }
    return text;
}

}  // namespace

TEST(ProgressLine, OnTheTerminalOnly) {
    Temp_dir dir;
    const std::string folder = dir.path + "/archive/S1/2013";
    ASSERT_EQ(run_program({"mkdir", "-p", folder}).status, 0);
    uint32_t state = 7;
    for (int doy : {45, 46}) {
        std::vector<int32_t> noise(86400);
        for (int32_t& v : noise)
            v = static_cast<int32_t>((state = state * 1664525u + 1013904223u) >> 22) - 512;
        write_mseed_int(folder + "/S1.XX.00.HHZ.2013.0" + std::to_string(doy),
                        {"XX", "S1", "00", "HHZ", 1, day_start_us(2013, doy), 4096}, noise);
    }
    // Two templates scanned over two days: four template-days.
    write_file(dir.path + "/control.txt",
               "out\nout/\n\nstart\n2013 45 0\n\nend\n2013 46 0\n\nlength\n60\n\nband\n0.05 0.3\n\n"
               "mad\n8\n\nrate\n1\n\n\n0\n\n\narchive/\n\n\n\n\n\n0\n\n\n0 1\n\n\n"
               "quake\n2013 45 3600 XX S1 00 HHZ 0\n2013 45 7200 XX S1 00 HHZ 0\n");

    const Run_result plain = run_program({VEMLO_BINARY, "control.txt"}, dir.path);
    ASSERT_EQ(plain.status, 0) << plain.out << plain.err;
    EXPECT_EQ(plain.err.find("template-days"), std::string::npos);
    auto masked = [](const std::string& out) { return mask_after(out, "Run time: ~", ' ', "N"); };

    const std::string cd = "cd " + dir.path + " && exec </dev/null >out.txt ";
    const std::string err_only = run_on_terminal(cd + VEMLO_BINARY + " control.txt");
    EXPECT_EQ(masked(read_file(dir.path + "/out.txt")), masked(plain.out));
    EXPECT_NE(err_only.find("\rtemplate-days 0 of 4 (0%), elapsed 0:00:0"), std::string::npos);
    EXPECT_NE(err_only.find("\rtemplate-days 4 of 4 (100%), elapsed "), std::string::npos);
    EXPECT_EQ(screen(err_only), plain.err + "\n");  // cleared, and the other text intact

    // vemlo-batch counts its chunks the same way, and only on the terminal.
    const std::string chunks = run_on_terminal(cd + VEMLO_BATCH_BINARY + " --days 1 control.txt");
    EXPECT_NE(chunks.find("\rchunks 2 of 2 (100%)"), std::string::npos) << chunks;
    EXPECT_EQ(screen(chunks), "\n");  // cleared
    ASSERT_EQ(run_program({"rm", "-r", "out/vemlo-batch"}, dir.path).status, 0);
    const Run_result batch =
        run_program({VEMLO_BATCH_BINARY, "--days", "1", "control.txt"}, dir.path);
    EXPECT_NE(batch.out.find("running 2 chunk(s)"), std::string::npos) << batch.out;
    EXPECT_EQ(batch.err.find("chunks"), std::string::npos);
    EXPECT_EQ(progress_text("template-days", 1, 3, 3725.0),
              "template-days 1 of 3 (33%), elapsed 1:02:05, about 2:04:10 left");
}

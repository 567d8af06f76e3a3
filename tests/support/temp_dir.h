// Scratch directories and child processes for tests.
#pragma once

#include <string>
#include <vector>

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
// path ends without a slash.
struct Temp_dir {
    Temp_dir();
    ~Temp_dir();
    Temp_dir(const Temp_dir&) = delete;
    Temp_dir& operator=(const Temp_dir&) = delete;
    std::string path;
};

// Whole content of a file ("" when it cannot be read).
std::string read_file(const std::string& path);

// Writes text to path, replacing it.
void write_file(const std::string& path, const std::string& text);

struct Run_result {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs argv[0] (searched on PATH) in directory cwd with no standard input, and collects its
// exit status and both output streams.
Run_result run_program(const std::vector<std::string>& argv, const std::string& cwd = ".");

// text with whatever follows each occurrence of prefix, up to (not including) the next stop
// character, replaced by mask: hides run-dependent numbers in console output.
std::string mask_after(std::string text, const std::string& prefix, char stop,
                       const std::string& mask);

// What follows each occurrence of prefix in text, up to the next stop character.
std::vector<std::string> values_after(const std::string& text, const std::string& prefix,
                                      char stop);

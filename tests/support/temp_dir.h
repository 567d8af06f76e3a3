// Scratch directories and child processes for tests.
#pragma once

#include <string>
#include <vector>

// A fresh directory under $TMPDIR (or /tmp), path without a final slash, removed on destruction.
struct Temp_dir {
    Temp_dir();
    ~Temp_dir();
    Temp_dir(const Temp_dir&) = delete;
    Temp_dir& operator=(const Temp_dir&) = delete;
    std::string path;
};

std::string read_file(const std::string& path);  // "" when it cannot be read
void write_file(const std::string& path, const std::string& text);

struct Run_result {
    int status = -1;  // exit status, or 128 + signal number
    std::string out, err;
};

// Runs argv[0] (searched on PATH) in cwd with no standard input.
Run_result run_program(const std::vector<std::string>& argv, const std::string& cwd = ".");

// text with what follows each prefix, up to the next stop character, replaced by mask.
std::string mask_after(std::string text, const std::string& prefix, char stop,
                       const std::string& mask);

// What follows each prefix in text, up to the next stop character.
std::vector<std::string> values_after(const std::string& text, const std::string& prefix,
                                      char stop);

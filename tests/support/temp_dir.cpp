#include "support/temp_dir.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

Temp_dir::Temp_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vemlo-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

Temp_dir::~Temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

Run_result run_program(const std::vector<std::string>& argv, const std::string& cwd) {
    Temp_dir capture;
    // The shell sends its streams to capture, changes directory and runs argv (127: not found).
    std::vector<std::string> command = {
        "sh", "-c", "exec </dev/null >\"$1/out\" 2>\"$1/err\" && shift && cd \"$0\" && exec \"$@\"",
        cwd, capture.path};
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (std::string& a : command)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, "sh", nullptr, nullptr, args.data(), environ) != 0)
        throw std::runtime_error("cannot start sh");
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            read_file(capture.path + "/out"), read_file(capture.path + "/err")};
}

std::string mask_after(std::string text, const std::string& prefix, char stop,
                       const std::string& mask) {
    for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at)) {
        at += prefix.size();
        const size_t end = text.find(stop, at);
        text.replace(at, (end == std::string::npos ? text.size() : end) - at, mask);
        at += mask.size();
    }
    return text;
}

std::vector<std::string> values_after(const std::string& text, const std::string& prefix,
                                      char stop) {
    std::vector<std::string> values;
    for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at)) {
        at += prefix.size();
        const size_t end = text.find(stop, at);
        values.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    }
    return values;
}

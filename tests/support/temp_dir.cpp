#include "support/temp_dir.h"

#include <fcntl.h>
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
    const std::string out = capture.path + "/out", err = capture.path + "/err";
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
    // The shell changes directory and runs argv (status 127 when not found).
    std::vector<std::string> command = {"sh", "-c", "cd \"$0\" && exec \"$@\"", cwd};
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (std::string& a : command)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid;
    const int failed = posix_spawnp(&pid, "sh", &files, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (failed != 0)
        throw std::runtime_error("cannot start sh");
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), read_file(out),
            read_file(err)};
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

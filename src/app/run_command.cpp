#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <thread>

#include "app/batch.h"

extern char** environ;

int run_command(const std::vector<std::string>& argv, const std::string& output_path,
                bool with_stderr, const Waiting& waiting) {
    if (argv.empty())
        return 127;
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int out = -1;
    if (!output_path.empty()) {
        out = ::open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (out < 0) {
            posix_spawn_file_actions_destroy(&actions);
            return 127;
        }
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
        if (with_stderr)
            posix_spawn_file_actions_adddup2(&actions, out, STDERR_FILENO);
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (out >= 0)
        ::close(out);
    if (spawned != 0)
        return 127;
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(pid, &status, waiting ? WNOHANG : 0);
        if (ended == pid)
            break;
        if (ended < 0 && errno != EINTR)
            return 127;
        if (ended == 0) {
            waiting();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 127;
}

#include "acquire/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>

extern char** environ;

namespace {

volatile sig_atomic_t received_signal = 0;  // the last stop signal, 0 before any
volatile sig_atomic_t signal_count = 0;     // stop signals received so far

void note_signal(int number) {
    received_signal = number;
    signal_count = signal_count + 1;
}

// The environment of a child: this program's, with each NAME=value of extra replacing or adding
// its variable.
std::vector<std::string> child_environment(const std::vector<std::string>& extra) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const std::string& variable : extra)
            replaced = replaced || variable.compare(0, name.size(), name) == 0;
        if (!replaced)
            result.push_back(text);
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

std::string describe(const Child_status& status) {
    if (status.signal == 0)
        return "status " + std::to_string(status.exit_code);
    const char* name = sigabbrev_np(status.signal);
    return "signal " + std::to_string(status.signal) +
           (name ? std::string(" (SIG") + name + ")" : "");
}

void pass_on_stop_signals() {
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a blocking wait returns to pass the signal on
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
}

int stop_signal() {
    return received_signal;
}

Outcome<Child_status> run_child(const std::vector<std::string>& argv,
                                const Child_options& options) {
    if (argv.empty())
        return failed<Child_status>("no program to run");
    if (received_signal != 0)
        return failed<Child_status>(argv[0] + " was not started: stopped by signal " +
                                    std::to_string(received_signal));
    std::vector<std::string> words = argv;
    std::vector<std::string> environment = child_environment(options.environment);
    const std::vector<char*> args = pointers(words);
    const std::vector<char*> env = pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int out = -1;
    if (!options.output_path.empty()) {
        out = ::open(options.output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (out < 0) {
            const std::string reason = std::strerror(errno);
            posix_spawn_file_actions_destroy(&actions);
            return failed<Child_status>("cannot write " + options.output_path + ": " + reason);
        }
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
        if (options.with_stderr)
            posix_spawn_file_actions_adddup2(&actions, out, STDERR_FILENO);
    }
    if (options.null_input)
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!options.directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child starts with the default action for the signals this program catches.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&defaults, number);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    short flags = POSIX_SPAWN_SETSIGDEF;
    if (options.own_group) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    posix_spawnattr_setflags(&attributes, flags);

    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (out >= 0)
        ::close(out);
    if (spawned != 0)
        return failed<Child_status>("cannot run " + argv[0] + ": " + std::strerror(spawned));

    // Polled rather than waited for, so that a stop signal is passed on within moments: the
    // pause grows from 1 to 200 ms (short commands end quickly) and a signal cuts it short.
    const pid_t target = options.own_group ? -pid : pid;
    sig_atomic_t passed_on = 0;
    long pause_ms = 1;
    auto last_call = std::chrono::steady_clock::now();
    int status = 0;
    for (;;) {
        if (signal_count != passed_on) {  // once per signal received
            passed_on = signal_count;
            ::kill(target, received_signal == SIGHUP ? options.hangup_as : received_signal);
        }
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            break;
        if (ended < 0 && errno != EINTR)
            return failed<Child_status>("lost track of " + argv[0] + ": " + std::strerror(errno));
        const auto now = std::chrono::steady_clock::now();
        if (options.waiting && now - last_call >= std::chrono::milliseconds(200)) {
            last_call = now;
            options.waiting();
        }
        const struct timespec pause = {0, pause_ms * 1000000};
        ::nanosleep(&pause, nullptr);
        pause_ms = std::min(pause_ms * 2, 200L);
    }
    Child_status result;
    if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    else
        result.exit_code = WEXITSTATUS(status);
    return succeeded(result);
}

Outcome<int> lock_file(const std::string& path) {
    // No O_CLOEXEC: the children inherit the lock.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0666);
    if (fd < 0)
        return failed<int>("cannot open " + path + ": " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return failed<int>(error == EWOULDBLOCK
                               ? path + " is locked by another process"
                               : "cannot lock " + path + ": " + std::strerror(error));
    }
    return succeeded(fd);
}

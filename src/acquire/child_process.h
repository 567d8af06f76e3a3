// Other programs run as child processes (no shell in between), the signals that stop this
// program passed on to them, and advisory locks on files.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "control/outcome.h"

// How a child process ended.
struct Child_status {
    int exit_code = 0;  // its exit status (0 when a signal ended it)
    int signal = 0;     // the signal that ended it, 0 when it exited

    bool success() const { return signal == 0 && exit_code == 0; }
};

// "status N", or "signal N (NAME)" when a signal ended the child.
std::string describe(const Child_status& status);

struct Child_options {
    // When set, the child's standard output goes to this file (replaced), and its standard
    // error too when with_stderr; otherwise it inherits both.
    std::string output_path;
    bool with_stderr = true;
    // The child's standard input: /dev/null, or this program's when false.
    bool null_input = true;
    // Where the child starts; this program's own directory when empty.
    std::string directory;
    // Variables set (NAME=value) in the child's environment on top of this program's.
    std::vector<std::string> environment;
    // The child leads a process group of its own, so that the signals passed on to it (see
    // pass_on_stop_signals) reach everything it starts, and a terminal's Ctrl-C reaches it only
    // through this program.
    bool own_group = false;
    // The signal a SIGHUP is passed on as: a program may only wind down on a hangup (GNU
    // parallel waits for its running jobs) where a SIGTERM stops it and what it started.
    int hangup_as = SIGHUP;
    // Called about five times a second while the child runs.
    std::function<void()> waiting;
};

// Runs argv[0] (searched on PATH like a shell would) with argv[1..] and waits for it. This
// program's standard output is flushed first, so its text comes before the child's. Returns how
// the child ended; fails, naming the program, when it cannot be started (or output_path cannot
// be opened), or when a stop signal came before it started.
Outcome<Child_status> run_child(const std::vector<std::string>& argv,
                                const Child_options& options = {});

// From now on SIGINT, SIGTERM and SIGHUP no longer end this program at once: each is passed on
// to the child that run_child is waiting for (to its whole process group when it has one of its
// own), and run_child starts no further child. The program ends itself once the child has gone:
// stop_signal says whether to.
void pass_on_stop_signals();

// The last stop signal received since pass_on_stop_signals, or 0.
int stop_signal();

// Takes an exclusive advisory lock on path (created when missing) without waiting. The lock is
// held until the returned descriptor is closed or the process and every child it started after
// taking it have ended (the children inherit it), so that work a killed program left running
// still holds it. Fails when another process holds the lock or the file cannot be opened.
Outcome<int> lock_file(const std::string& path);

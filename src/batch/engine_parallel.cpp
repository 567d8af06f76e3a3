#include <signal.h>

#include <iostream>

#include "batch/engines.h"

Outcome<Child_status> run_with_parallel(const Batch_work& work, const std::vector<int>& numbers,
                                        int jobs, int threads, const std::string& sshlogin,
                                        const std::string& self, const Waiting& waiting) {
    // The command template is fixed text: the chunk numbers are the only values parallel puts
    // in (quoted), the paths come from the environment, which --env carries to other hosts.
    std::vector<std::string> argv = {"parallel", "--will-cite", "--joblog", "parallel-joblog.txt"};
    if (jobs > 0)
        argv.insert(argv.end(), {"--jobs", std::to_string(jobs)});
    if (!sshlogin.empty())
        argv.insert(argv.end(), {"--sshlogin", sshlogin, "--env", "VEMLO_BATCH_PROGRAM", "--env",
                                 "VEMLO_BATCH_WORK_DIR"});
    argv.push_back("\"$VEMLO_BATCH_PROGRAM\" --run-chunk \"$VEMLO_BATCH_WORK_DIR\" {}" +
                   (threads > 0 ? " --threads " + std::to_string(threads) : std::string()));
    argv.push_back(":::");
    for (int number : numbers)
        argv.push_back(std::to_string(number));

    Child_options options;
    options.directory = work.dir;
    options.environment = {"VEMLO_BATCH_PROGRAM=" + self, "VEMLO_BATCH_WORK_DIR=" + work.dir};
    // parallel runs each chunk in a process group of its own and stops them all on SIGTERM
    // or SIGINT; on SIGHUP it would wait for the running ones.
    options.own_group = true;
    options.hangup_as = SIGTERM;
    options.waiting = waiting;
    const Outcome<Child_status> status = run_child(argv, options);
    if (!status.ok())
        std::cout << "Error: GNU parallel could not be started (" << status.error
                  << "); install it (Debian package parallel) or use --engine slurm" << std::endl;
    return status;
}

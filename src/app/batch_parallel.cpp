#include <iostream>

#include "app/batch.h"

int run_with_parallel(const Batch_work& work, const std::vector<int>& numbers, int jobs,
                      int threads, const std::string& sshlogin, const std::string& self,
                      const Waiting& waiting) {
    // -q passes the command's words through the shell unchanged, so paths with blanks work.
    std::vector<std::string> argv = {"parallel", "--will-cite", "--joblog",
                                     work.dir + "parallel-joblog.txt"};
    if (jobs > 0)
        argv.insert(argv.end(), {"--jobs", std::to_string(jobs)});
    if (!sshlogin.empty())
        argv.insert(argv.end(), {"--sshlogin", sshlogin});
    argv.insert(argv.end(), {"-q", self, "--run-chunk", work.dir, "{}"});
    if (threads > 0)
        argv.insert(argv.end(), {"--threads", std::to_string(threads)});
    argv.push_back(":::");
    for (int number : numbers)
        argv.push_back(std::to_string(number));

    const int status = run_command(argv, "", true, waiting);
    if (status == 127) {
        std::cout << "Error: GNU parallel could not be started; install it (Debian package "
                     "parallel) or use --engine slurm"
                  << std::endl;
        return -1;
    }
    return status;
}

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "app/batch.h"
#include "control/messages.h"

namespace fs = std::filesystem;

namespace {

// Why the chunk's run cannot be trusted, or "" when it can.
std::string check_run(int status, const std::string& log, const Template_file& chunk_control) {
    if (status == 127)
        return "vemlo could not be started";
    if (status != 0)
        return "vemlo ended with status " + std::to_string(status);
    std::ifstream in(log, std::ios::binary);
    const std::string console((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (console.find(results_open_failure) != std::string::npos)
        return "vemlo could not write a results file";
    std::error_code error;
    for (const std::string& name : chunk_control.event_names)
        if (!fs::is_regular_file(chunk_control.output_dir + name + ".txt", error))
            return "the results file of event " + name + " is missing";
    return "";
}

}  // namespace

std::string vemlo_beside_me() {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return "vemlo";
    const std::string path(self, size_t(length));
    return path.substr(0, path.rfind('/') + 1) + "vemlo";
}

int run_chunk(const Batch_work& work, const Template_file& control, const Chunk& chunk,
              int threads) {
    const std::string dir = chunk_dir(work, chunk.number);
    const std::string log = chunk_log(work, chunk.number);
    // The same chunk must not run twice at once (a batch submitted again while its jobs wait).
    if (lock_file(dir + "lock") < 0) {
        std::cout << "Chunk " << chunk.number << " failed: it is already running, or " << dir
                  << " is not writable" << std::endl;
        return 1;
    }
    std::error_code error;
    fs::remove(dir + "done", error);
    if (::chdir(work.base_dir.c_str()) != 0) {
        std::cout << "Chunk " << chunk.number << " failed: cannot enter " << work.base_dir
                  << std::endl;
        return 1;
    }
    if (threads > 0)
        ::setenv("OMP_NUM_THREADS", std::to_string(threads).c_str(), 1);

    const int status = run_command({vemlo_beside_me(), dir + "control.txt"}, log);
    const Template_file t = chunk_control(control, chunk, chunk_output_dir(work, chunk.number));
    const std::string problem = status == 127 && !fs::exists(log, error)
                                    ? "cannot write its log " + log
                                    : check_run(status, log, t);
    if (problem.empty()) {
        std::ofstream(dir + "done.partial") << "done\n";
        if (std::rename((dir + "done.partial").c_str(), (dir + "done").c_str()) == 0) {
            std::cout << "Chunk " << chunk.number << " done." << std::endl;
            return 0;
        }
    }
    const std::string reason = problem.empty() ? "cannot mark it done in " + dir : problem;
    std::ofstream(log, std::ios::app)
        << "\nvemlo-batch: chunk " << chunk.number << " failed: " << reason << "\n";
    std::cout << "Chunk " << chunk.number << " failed: " << reason << " (log: " << log << ")"
              << std::endl;
    return 1;
}

// vemlo-batch's command line.
#pragma once

#include <string>
#include <vector>

#include "batch/sbatch_args.h"
#include "control/outcome.h"

struct Batch_options {
    std::string engine = "parallel";  // "parallel" or "slurm"
    int days = 7;                     // days per chunk
    int jobs = 0;                     // chunks at a time with parallel; 0: one per core
    std::string sshlogin;             // parallel's --sshlogin, empty for this machine only
    Sbatch_args sbatch;               // slurm: the user's extra sbatch options
    bool wait = false;                // slurm: block until the merge job has ended
    bool help = false;                // --help: print the usage and do nothing else
    std::string control_file;
};

// What --help prints.
extern const char batch_usage[];

// Reads the command line after the program name into options. With --help anywhere, nothing else
// is checked. Fails with a one-line message (no line end) naming the offending argument.
Status parse_batch_arguments(const std::vector<std::string>& args, Batch_options& options);

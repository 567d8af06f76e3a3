// The sbatch options a user passes to vemlo-batch's Slurm jobs (--sbatch).
#pragma once

#include <string>
#include <vector>

#include "control/outcome.h"

struct Sbatch_args {
    std::vector<std::string> options;  // the user's words, their dependency options taken out
    std::string dependency;            // the user's dependency list, "" when none
};

// Splits text at whitespace into sbatch options. Options that would take the jobs' shape or
// output away from vemlo-batch are refused, in their long, abbreviated, short and two-word forms
// (--array, -a, --output, -o, --error, -e, --wait, -W, --chdir, -D, "--array 1-3"), and so is a
// dependency that cannot be joined to the merge job's own with a comma (one using '?') or is
// empty. Dependency options (--dependency, -d, abbreviated too) are taken out; several are
// joined with commas (all must hold). Fails with a one-line message naming the option.
Outcome<Sbatch_args> parse_sbatch_args(const std::string& text);

// The merge job's dependency: every task of the job array array_id succeeded, and the user's
// own dependency (when not empty) holds too.
std::string merge_dependency(const std::string& array_id, const std::string& user_dependency);

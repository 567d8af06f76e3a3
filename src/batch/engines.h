// The engines that run a batch's chunks: GNU parallel on this machine or over ssh, or a Slurm
// job array. Both call this program back: --run-chunk WORK_DIR NUMBER [--threads N] runs one
// chunk, --merge WORK_DIR merges.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "acquire/child_process.h"
#include "batch/sbatch_args.h"
#include "batch/work_dir.h"
#include "control/outcome.h"

// Called about five times a second while an engine runs (for the progress line).
using Waiting = std::function<void()>;

// Runs the given chunks with GNU parallel, jobs at a time (0: one per core) on this machine or
// on sshlogin's hosts, each chunk with threads OpenMP threads; parallel's job log goes to the
// work directory. No path reaches parallel's command template (where it would expand {} and
// {= =}): the program and the work directory go to the chunks in the environment. Parallel
// runs in a process group of its own, which receives the stop signals this program gets.
// Returns how parallel ended (its status counts the failed chunks); fails after printing a
// message when parallel cannot be started.
Outcome<Child_status> run_with_parallel(const Batch_work& work, const std::vector<int>& numbers,
                                        int jobs, int threads, const std::string& sshlogin,
                                        const std::string& self, const Waiting& waiting = {});

// Submits the given chunks as one Slurm job array and a merge job that runs once every task has
// succeeded (afterok), with the user's sbatch options and dependency on both. The jobs run in the
// work directory, so their output files have names without user text (which Slurm would read
// as filename patterns). With wait, blocks until the merge job has ended, calling waiting
// meanwhile. Succeeds when the jobs were submitted (without wait) or the merge job succeeded
// (with wait); otherwise fails after printing a message.
Status submit_to_slurm(const Batch_work& work, const std::vector<int>& numbers,
                       const Sbatch_args& sbatch, bool wait, const std::string& self,
                       const Waiting& waiting = {});

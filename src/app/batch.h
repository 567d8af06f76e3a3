// vemlo-batch: one long scan cut into chunks of consecutive days, run as separate vemlo
// processes by GNU parallel or a Slurm job array, and merged into the results vemlo itself
// would write.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/outcome.h"
#include "control/template_file.h"

struct Batch_options {
    std::string engine = "parallel";  // "parallel" or "slurm"
    int days = 7;                     // days per chunk
    int jobs = 0;                     // chunks at a time with parallel; 0: one per core
    std::string sshlogin;             // parallel's --sshlogin, empty for this machine only
    std::string sbatch_args;          // extra sbatch options, separated by whitespace
    bool wait = false;                // slurm: block until the merge job has ended
    std::string control_file;
};

// Reads the command line after the program name into options. Returns "" on success, otherwise
// a one-line message (no line end) naming the offending argument.
std::string parse_batch_arguments(const std::vector<std::string>& args, Batch_options& options);

// One chunk: days first_day .. last_day (epoch seconds of 00:00:00 UTC, 86400 apart), numbered
// from 1 in day order.
struct Chunk {
    int number = 0;
    int64_t first_day = 0;
    int64_t last_day = 0;
};

// The scan period of control cut into chunks of days_per_chunk consecutive days (the last one
// possibly shorter), walking the days as vemlo's scan does. Returns no chunk when the period is
// empty (last day before first), and also when days_per_chunk < 1 or the period's ends do not
// convert to a time (settings that vemlo rejects before scanning).
std::vector<Chunk> split_scan_period(const Template_file& control, int days_per_chunk);

// The event names a chunk's control file uses: the user's names, except that names shared by
// several events, names with a slash and overlong names become "event-<n>" (n the event number,
// made unique against every other name), so that every event has a results file of its own.
std::vector<std::string> chunk_event_names(const std::vector<std::string>& names);

// control restricted to one chunk: output_dir replaced, first and last day set to the chunk's,
// event names from chunk_event_names; everything else unchanged.
Template_file chunk_control(const Template_file& control, const Chunk& chunk,
                            const std::string& output_dir);

// Where one batch keeps its files. All directory paths end in '/'.
struct Batch_work {
    std::string base_dir;  // absolute; the directory the user ran vemlo-batch in
    std::string dir;       // absolute work directory, inside the results directory
    std::string relative;  // the work directory as seen from base_dir (output_dir + "vemlo-batch/")
};
Batch_work batch_work(const Template_file& control, const std::string& base_dir);
std::string chunk_dir(const Batch_work& work, int number);         // absolute
std::string chunk_output_dir(const Batch_work& work, int number);  // relative to base_dir
std::string chunk_log(const Batch_work& work, int number);         // absolute
bool chunk_done(const Batch_work& work, int number);

// Makes the work directory ready for the plan (the control file's text, the days per chunk and
// the base directory): when the plan differs from the one recorded there, or none is recorded,
// every done mark is dropped and whatever the new plan does not use is removed, so the batch
// starts afresh. Then writes the plan, a copy of the control file and every chunk's control
// file. Fails with a one-line message.
Status prepare_work(const Batch_work& work, const std::string& control_text,
                    const Template_file& control, const std::vector<Chunk>& chunks,
                    int days_per_chunk);

// Reads a work directory written by prepare_work back: the base directory, the control record
// and the chunks. Fails with a one-line message.
Status load_work(const std::string& dir, Batch_work& work, Template_file& control,
                 std::vector<Chunk>& chunks);

// Runs vemlo on one chunk's control file from the base directory, its console output going to
// the chunk's log, with OMP_NUM_THREADS set to threads when threads > 0. The chunk is marked done
// only when vemlo ended with status 0, wrote every event's results file and reported no file it
// could not open. Returns 0 when the chunk is done, 1 otherwise (the reason is appended to the
// log and printed).
int run_chunk(const Batch_work& work, const Template_file& control, const Chunk& chunk,
              int threads);

// Joins the chunks' results into output_dir, per event in file order and chunk by chunk, so that
// every results file reads as one vemlo run over the whole period would leave it; run from
// work.base_dir. Nothing is written unless every chunk is done; each file is written beside its
// final name and renamed into place; one that cannot be written is reported. A chunk marked done
// whose results files are gone loses its mark.
// Returns the numbers of the chunks that are not done, or {0}
// after printing a message when a results file could not be written; empty on success.
std::vector<int> merge_chunks(const Batch_work& work, const Template_file& control,
                              const std::vector<Chunk>& chunks);

// Prints which chunks failed (with their days and logs), or where the merged results are; failed
// as returned by merge_chunks. Returns the exit status for the command: 0 when nothing failed,
// 1 otherwise.
int report_merge(const Batch_work& work, const Template_file& control,
                 const std::vector<Chunk>& chunks, const std::vector<int>& failed);

// When the control file allows downloads, chunks running at the same time could fetch the same
// day file at once and read it half written. This runs vemlo --templates-only once, so that it
// fetches every template's day file before any chunk starts (its log: prefetch/log.txt in the
// work directory). Returns 0 on success, 1 after printing a message.
int prefetch_templates(const Batch_work& work, const Template_file& control,
                       const std::string& vemlo);

// vemlo, installed beside the running program.
std::string vemlo_beside_me();

// Called about five times a second while a command of vemlo-batch runs (for the progress line).
using Waiting = std::function<void()>;

// Runs the given chunks with GNU parallel, jobs at a time (0: one per core) on this machine or
// on sshlogin's hosts, each chunk with threads OpenMP threads; parallel's job log goes to
// the work directory; waiting is called while parallel runs. Returns parallel's exit status (the
// number of failed chunks), or -1 after printing a message when parallel could not be started.
int run_with_parallel(const Batch_work& work, const std::vector<int>& numbers, int jobs,
                      int threads, const std::string& sshlogin, const std::string& self,
                      const Waiting& waiting = {});

// Submits the given chunks as one Slurm job array and a merge job that runs once every task has
// succeeded (afterok). With wait, blocks until the merge job has ended, calling waiting meanwhile.
// Returns 0 when the jobs
// were submitted (without wait) or the merge job succeeded (with wait), otherwise 1 after
// printing a message.
int submit_to_slurm(const Batch_work& work, const std::vector<int>& numbers,
                    const std::string& sbatch_args, bool wait, const std::string& self,
                    const Waiting& waiting = {});

// Takes an exclusive advisory lock on path (created when missing), held until the returned file
// descriptor is closed or the process ends. Returns the descriptor, or -1 when another process
// holds the lock or the file cannot be opened.
int lock_file(const std::string& path);

// Runs argv[0] (searched on PATH) and waits for it. Its standard output goes to output_path when
// that is not empty (the file is replaced), together with standard error when with_stderr.
// While it runs, waiting (when set) is called about five times a second. Returns the exit
// status, 128 + the signal number when it was killed, or 127 when it could not be started (or
// output_path could not be opened).
int run_command(const std::vector<std::string>& argv, const std::string& output_path = "",
                bool with_stderr = true, const Waiting& waiting = {});

// vemlo-batch: runs one long vemlo scan as chunks of consecutive days on GNU parallel or a Slurm
// job array, merges the chunks' results into the results directory, and resumes a batch whose
// chunks failed.
//
//   vemlo-batch [--engine parallel|slurm] [--days N] [--jobs N] [--sshlogin HOSTS]
//               [--sbatch ARGS] [--wait] CONTROL_FILE
//
// The chunk tasks call the same program back: --run-chunk WORK_DIR NUMBER [--threads N] runs
// one chunk and --merge WORK_DIR merges.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <thread>

#include "acquire/archive_check.h"
#include "acquire/child_process.h"
#include "app/band_check.h"
#include "batch/chunk_run.h"
#include "batch/engines.h"
#include "batch/merge.h"
#include "batch/options.h"
#include "control/run_record.h"
#include "scan/progress_line.h"

namespace {

std::string own_path() {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    return length > 0 ? std::string(self, size_t(length)) : "vemlo-batch";
}

std::string current_dir() {
    char dir[PATH_MAX];
    return ::getcwd(dir, sizeof dir) ? dir : "";
}

// Ends the program by the stop signal it received, once the children it was waiting for have
// ended (they got the signal too).
int stopped() {
    const int number = stop_signal();
    std::cout << "Stopped by signal " << number
              << "; the chunks that were running were stopped too. Run the same command again to "
                 "go on."
              << std::endl;
    ::signal(number, SIG_DFL);
    ::raise(number);
    return 128 + number;
}

int chunk_task(const std::vector<std::string>& args) {
    const int number = args.size() >= 2 ? std::atoi(args[1].c_str()) : 0;
    const int threads = args.size() == 4 && args[2] == "--threads" ? std::atoi(args[3].c_str()) : 0;
    if ((args.size() != 2 && args.size() != 4) || number < 1) {
        std::cout << "Error: --run-chunk WORK_DIR NUMBER [--threads N]" << std::endl;
        return 1;
    }
    const Outcome<Loaded_work> loaded = load_work(args[0]);
    if (!loaded.ok() || size_t(number) > loaded.value->chunks.size()) {
        std::cout << "Error: " << (loaded.ok() ? "no chunk " + args[1] : loaded.error) << std::endl;
        return 1;
    }
    const Status run = run_chunk(loaded.value->work, loaded.value->control,
                                 loaded.value->chunks[number - 1], threads);
    if (stop_signal() != 0)
        return stopped();
    return run.ok() ? 0 : 1;
}

int merge_task(const std::vector<std::string>& args) {
    const Outcome<Loaded_work> loaded =
        args.size() == 1 ? load_work(args[0]) : failed<Loaded_work>("--merge WORK_DIR");
    if (!loaded.ok() || ::chdir(loaded.value->work.base_dir.c_str()) != 0) {
        std::cout << "Error: "
                  << (loaded.ok() ? "cannot enter " + loaded.value->work.base_dir : loaded.error)
                  << std::endl;
        return 1;
    }
    const Loaded_work& w = *loaded.value;
    return report_merge(w.work, w.control, w.chunks, merge_chunks(w.work, w.control, w.chunks));
}

}  // namespace

int main(int argc, char** argv) {
    // SIGINT, SIGTERM and SIGHUP go on to the engine's whole process group, so that no chunk
    // outlives vemlo-batch.
    pass_on_stop_signals();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--run-chunk")
        return chunk_task({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "--merge")
        return merge_task({args.begin() + 1, args.end()});

    Batch_options options;
    const Status arguments = parse_batch_arguments(args, options);
    if (options.help) {
        std::cout << batch_usage;
        return 0;
    }
    if (!arguments.ok()) {
        std::cout << *arguments.error << "\n" << batch_usage;
        return 1;
    }
    std::ifstream file(options.control_file, std::ios::binary);
    if (!file) {
        std::cout << "Error: Unable to open template file: " << options.control_file << std::endl;
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    std::istringstream in(text);
    const Outcome<Template_file> parsed = parse_template_file(in);
    Status checked = parsed.ok() ? check_settings(*parsed.value) : failure(parsed.error);
    for (const auto& check : {check_band, check_archive})
        if (checked.ok())
            checked = check(*parsed.value);
    if (!checked.ok()) {
        std::cout << *checked.error << std::endl;
        return 1;
    }
    const Template_file& control = *parsed.value;

    if (control.event_names.empty()) {
        // vemlo would only create the results directory.
        std::error_code error;
        std::filesystem::create_directories(control.output_dir, error);
        std::cout << "The control file names no event; there is nothing to scan." << std::endl;
        return 0;
    }
    const std::vector<Chunk> chunks = split_scan_period(control, options.days);
    if (chunks.size() > size_t(max_chunks)) {
        std::cout << "Error: more than " << max_chunks << " chunks; choose more --days per chunk"
                  << std::endl;
        return 1;
    }
    const std::string base = current_dir();
    if (base.empty()) {
        std::cout << "Error: cannot tell the current directory" << std::endl;
        return 1;
    }
    const Batch_work work = batch_work(control, base);
    Status ready = claim_work_dir(work);
    if (ready.ok()) {
        const Outcome<int> lock = lock_file(work.dir + "lock");
        if (!lock.ok())
            ready = failure("another vemlo-batch is working in " + work.dir +
                            ", or it is not writable (" + lock.error + ")");
    }
    if (ready.ok())
        ready = prepare_work(work, text, control, chunks, options.days);
    // The run record the merge puts beside the results: the one vemlo would write for the
    // whole period.
    if (ready.ok())
        ready = write_text(
            work.dir + run_record_file,
            format_run_record(VEMLO_VERSION, record_path(options.control_file), text, control));
    std::vector<std::string> identities;
    for (size_t c = 0; ready.ok() && c < chunks.size(); ++c) {
        const Outcome<std::string> identity = read_chunk_identity(work, chunks[c].number);
        if (!identity.ok())
            ready = failure(identity.error);
        else
            identities.push_back(*identity.value);
    }
    if (!ready.ok()) {
        std::cout << "Error: " << *ready.error << std::endl;
        return 1;
    }

    std::vector<int> pending;
    for (const Chunk& chunk : chunks)
        if (!chunk_done(work, chunk.number, identities[chunk.number - 1]))
            pending.push_back(chunk.number);
    std::cout << chunks.size() << " chunk(s) of up to " << options.days << " day(s), "
              << chunks.size() - pending.size() << " done before; running " << pending.size()
              << " chunk(s). Work directory: " << work.dir << std::endl;

    if (!pending.empty() && control.download_missing != 0 &&
        !prefetch_templates(work, control).ok())
        return stop_signal() != 0 ? stopped() : 1;
    // On a terminal, a progress line counts the chunks that are done while the engine runs.
    Progress_line progress;
    long long counted = 0;
    const Waiting count_done = [&] {
        if (!progress.active)
            return;
        long long done = 0;
        for (int number : pending)
            done += chunk_done(work, number, identities[number - 1]) ? 1 : 0;
        progress_advance(progress, done - counted);
        counted = done;
    };
    if (!pending.empty() && (options.engine == "parallel" || options.wait))
        progress_start(progress, static_cast<long long>(pending.size()), "chunks");
    if (!pending.empty() && options.engine == "parallel") {
        const int cores = std::max(1, int(std::thread::hardware_concurrency()));
        const int threads = options.jobs > 0 ? std::max(1, cores / options.jobs) : 1;
        const Outcome<Child_status> status = run_with_parallel(
            work, pending, options.jobs, threads, options.sshlogin, own_path(), count_done);
        count_done();
        progress_finish(progress);
        if (stop_signal() != 0)
            return stopped();
        if (!status.ok())
            return 1;
    } else if (!pending.empty()) {
        const Status submitted =
            submit_to_slurm(work, pending, options.sbatch, options.wait, own_path(), count_done);
        count_done();
        progress_finish(progress);
        if (stop_signal() != 0)
            return stopped();
        if (!options.wait)
            return submitted.ok() ? 0 : 1;
        std::vector<int> failed;
        for (const Chunk& chunk : chunks)
            if (!chunk_done(work, chunk.number, identities[chunk.number - 1]))
                failed.push_back(chunk.number);
        if (failed.empty() && !submitted.ok()) {
            std::cout << "Error: the merge job failed; see " << work.dir << "slurm-merge.out"
                      << std::endl;
            return 1;
        }
        return report_merge(work, control, chunks, succeeded(failed));
    }
    return report_merge(work, control, chunks, merge_chunks(work, control, chunks));
}

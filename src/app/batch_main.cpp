// vemlo-batch: runs one long vemlo scan as chunks of consecutive days on GNU parallel or a Slurm
// job array, merges the chunks' results into the results directory, and resumes a batch whose
// chunks failed.
//
//   vemlo-batch [--engine parallel|slurm] [--days N] [--jobs N] [--sshlogin HOSTS]
//               [--sbatch ARGS] [--wait] CONTROL_FILE
//
// The chunk tasks call the same program back: --run-chunk WORK_DIR NUMBER [--threads N] runs
// one chunk and --merge WORK_DIR merges.
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
#include "app/band_check.h"
#include "app/batch.h"
#include "dsp/time_convert.h"
#include "scan/progress_line.h"

namespace {

const char* usage =
    "Usage: vemlo-batch [--engine parallel|slurm] [--days N] [--jobs N] [--sshlogin HOSTS]\n"
    "                   [--sbatch ARGS] [--wait] CONTROL_FILE\n";

std::string own_path() {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    return length > 0 ? std::string(self, size_t(length)) : "vemlo-batch";
}

std::string current_dir() {
    char dir[PATH_MAX];
    return ::getcwd(dir, sizeof dir) ? dir : "";
}

int chunk_task(const std::vector<std::string>& args) {
    Batch_work work;
    Template_file control;
    std::vector<Chunk> chunks;
    const int number = args.size() >= 2 ? std::atoi(args[1].c_str()) : 0;
    const int threads = args.size() == 4 && args[2] == "--threads" ? std::atoi(args[3].c_str()) : 0;
    if ((args.size() != 2 && args.size() != 4) || number < 1) {
        std::cout << "Error: --run-chunk WORK_DIR NUMBER [--threads N]" << std::endl;
        return 1;
    }
    const Status loaded = load_work(args[0], work, control, chunks);
    if (!loaded.ok() || size_t(number) > chunks.size()) {
        std::cout << (loaded.ok() ? "Error: no chunk " + args[1] : *loaded.error) << std::endl;
        return 1;
    }
    return run_chunk(work, control, chunks[number - 1], threads);
}

int merge_task(const std::vector<std::string>& args) {
    Batch_work work;
    Template_file control;
    std::vector<Chunk> chunks;
    const Status loaded = args.size() == 1 ? load_work(args[0], work, control, chunks)
                                           : failure("Error: --merge WORK_DIR");
    if (!loaded.ok() || ::chdir(work.base_dir.c_str()) != 0) {
        std::cout << (loaded.ok() ? "Error: cannot enter " + work.base_dir : *loaded.error)
                  << std::endl;
        return 1;
    }
    return report_merge(work, control, chunks, merge_chunks(work, control, chunks));
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--run-chunk")
        return chunk_task({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "--merge")
        return merge_task({args.begin() + 1, args.end()});

    Batch_options options;
    const std::string wrong = parse_batch_arguments(args, options);
    if (!wrong.empty()) {
        std::cout << wrong << "\n" << usage;
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
    if (chunks.size() > 100000) {
        std::cout << "Error: more than 100000 chunks; choose more --days per chunk" << std::endl;
        return 1;
    }
    const std::string base = current_dir();
    if (base.empty()) {
        std::cout << "Error: cannot tell the current directory" << std::endl;
        return 1;
    }
    const Batch_work work = batch_work(control, base);
    std::error_code error;
    std::filesystem::create_directories(work.dir, error);
    if (lock_file(work.dir + "lock") < 0) {
        std::cout << "Error: another vemlo-batch is working in " << work.dir
                  << ", or it is not writable" << std::endl;
        return 1;
    }
    const Status prepared = prepare_work(work, text, control, chunks, options.days);
    if (!prepared.ok()) {
        std::cout << *prepared.error << std::endl;
        return 1;
    }

    std::vector<int> pending;
    for (const Chunk& chunk : chunks)
        if (!chunk_done(work, chunk.number))
            pending.push_back(chunk.number);
    std::cout << chunks.size() << " chunk(s) of up to " << options.days << " day(s), "
              << chunks.size() - pending.size() << " done before; running " << pending.size()
              << " chunk(s). Work directory: " << work.dir << std::endl;

    if (!pending.empty() && control.download_missing != 0 &&
        prefetch_templates(work, control, vemlo_beside_me()) != 0)
        return 1;
    // On a terminal, a progress line counts the chunks that are done while the engine runs.
    Progress_line progress;
    long long counted = 0;
    const Waiting count_done = [&] {
        if (!progress.active)
            return;
        long long done = 0;
        for (int number : pending)
            done += chunk_done(work, number) ? 1 : 0;
        progress_advance(progress, done - counted);
        counted = done;
    };
    if (!pending.empty() && (options.engine == "parallel" || options.wait))
        progress_start(progress, static_cast<long long>(pending.size()), "chunks");
    if (!pending.empty() && options.engine == "parallel") {
        const int cores = std::max(1, int(std::thread::hardware_concurrency()));
        const int threads = options.jobs > 0 ? std::max(1, cores / options.jobs) : 1;
        const int status = run_with_parallel(work, pending, options.jobs, threads, options.sshlogin,
                                             own_path(), count_done);
        count_done();
        progress_finish(progress);
        if (status < 0)
            return 1;
    } else if (!pending.empty()) {
        const int status = submit_to_slurm(work, pending, options.sbatch_args, options.wait,
                                           own_path(), count_done);
        count_done();
        progress_finish(progress);
        if (!options.wait)
            return status;
        std::vector<int> failed;
        for (const Chunk& chunk : chunks)
            if (!chunk_done(work, chunk.number))
                failed.push_back(chunk.number);
        if (failed.empty() && status != 0) {
            std::cout << "Error: the merge job failed; see " << work.dir << "slurm-merge.out"
                      << std::endl;
            return 1;
        }
        return report_merge(work, control, chunks, failed);
    }
    return report_merge(work, control, chunks, merge_chunks(work, control, chunks));
}

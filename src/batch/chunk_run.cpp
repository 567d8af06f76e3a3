#include "batch/chunk_run.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "acquire/child_process.h"
#include "control/messages.h"
#include "control/template_file_writer.h"

namespace fs = std::filesystem;

namespace {

bool begins_with(const std::string& text, size_t at, const char* prefix) {
    return text.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Why the chunk's finished run cannot be trusted, or success.
Status check_run(const Child_status& status, const std::string& log, const Template_file& t) {
    if (!status.success())
        return failure("vemlo ended with " + describe(status));
    const Status complete = check_chunk_log(read_text(log));
    if (!complete.ok())
        return complete;
    std::error_code error;
    for (const std::string& name : t.event_names)
        if (!fs::is_regular_file(t.output_dir + name + ".txt", error))
            return failure("the results file of event " + name + " is missing");
    return success();
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

Status check_chunk_log(const std::string& console) {
    size_t last_line = std::string::npos;  // where the last line with text begins
    for (size_t at = 0; at < console.size(); at = console.find('\n', at) + 1) {
        if (begins_with(console, at, results_open_failure) ||
            begins_with(console, at, results_write_failure))
            return failure("vemlo could not write a results file: " +
                           console.substr(at, console.find('\n', at) - at));
        if (console[at] != '\n')
            last_line = at;
        if (console.find('\n', at) == std::string::npos)
            break;
    }
    if (last_line == std::string::npos || !begins_with(console, last_line, run_time_line))
        return failure("its log is incomplete (no run-time line at its end)");
    return success();
}

Status run_chunk(const Batch_work& work, const Template_file& control, const Chunk& chunk,
                 int threads) {
    const std::string dir = chunk_dir(work, chunk.number);
    const std::string log = chunk_log(work, chunk.number);
    const std::string name = "Chunk " + std::to_string(chunk.number);
    auto fail = [&](const std::string& reason, bool logged) {
        if (logged)
            std::ofstream(log, std::ios::app)
                << "\nvemlo-batch: chunk " << chunk.number << " failed: " << reason << "\n";
        std::cout << name << " failed: " << reason << " (log: " << log << ")" << std::endl;
        return failure(reason);
    };
    // The same chunk must not run twice at once (a batch submitted again while its jobs wait,
    // or a chunk of a killed batch still running): vemlo inherits the lock.
    const Outcome<int> lock = lock_file(dir + "lock");
    if (!lock.ok()) {
        std::cout << name << " failed: it is already running, or " << dir << " is not writable ("
                  << lock.error << ")" << std::endl;
        return failure(lock.error);
    }
    // The plan this run belongs to, read before vemlo reads its control file: a newer plan
    // written meanwhile makes the mark a stale one.
    const Outcome<std::string> identity = read_chunk_identity(work, chunk.number);
    if (!identity.ok())
        return fail(identity.error, false);
    const Status unmarked = unmark_chunk(work, chunk.number);
    if (!unmarked.ok())
        return fail(unmarked.error.value(), false);

    Child_options options;
    options.output_path = log;
    options.directory = work.base_dir;
    if (threads > 0)
        options.environment = {"OMP_NUM_THREADS=" + std::to_string(threads)};
    const Outcome<Child_status> run = run_child({vemlo_beside_me(), dir + "control.txt"}, options);
    if (!run.ok())
        return fail(run.error, false);
    if (::chdir(work.base_dir.c_str()) != 0)
        return fail("cannot enter " + work.base_dir, true);
    const Template_file t = chunk_control(control, chunk, chunk_output_dir(work, chunk.number));
    Status checked = check_run(*run.value, log, t);
    if (checked.ok())
        checked = mark_chunk_done(work, chunk.number, *identity.value);
    if (!checked.ok())
        return fail(checked.error.value(), true);
    std::cout << name << " done." << std::endl;
    return success();
}

Status prefetch_templates(const Batch_work& work, const Template_file& control) {
    // vemlo --templates-only builds the templates (downloading their days) and scans nothing,
    // whatever the period.
    Chunk none;
    none.first_day = 0;
    none.last_day = 0;
    const std::string dir = work.dir + "prefetch/";
    std::error_code error;
    fs::create_directories(dir, error);
    const Status written = write_template_file(
        chunk_control(control, none, work.relative + "prefetch/results/"), dir + "control.txt");
    std::cout << "Downloading the templates' day files first..." << std::endl;
    Child_options options;
    options.output_path = dir + "log.txt";
    options.directory = work.base_dir;
    options.own_group = true;
    const Outcome<Child_status> run =
        written.ok()
            ? run_child({vemlo_beside_me(), "--templates-only", dir + "control.txt"}, options)
            : failed<Child_status>(*written.error);
    if (run.ok() && run.value->success())
        return success();
    const std::string reason = !run.ok() ? run.error : "vemlo ended with " + describe(*run.value);
    std::cout << "Error: fetching the templates' day files failed (" << reason << "); see " << dir
              << "log.txt" << std::endl;
    return failure(reason);
}

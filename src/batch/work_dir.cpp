#include "batch/work_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "control/template_file_writer.h"

namespace fs = std::filesystem;

namespace {

const char plan_header[] = "vemlo-batch plan\n";

std::string chunk_name(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "chunk-%04d", number);
    return name;
}

// The chunk number of a folder name chunk_name makes, or 0.
int chunk_number(const std::string& name) {
    int number = 0;
    return std::sscanf(name.c_str(), "chunk-%d", &number) == 1 && number >= 1 &&
                   number <= max_chunks && chunk_name(number) == name
               ? number
               : 0;
}

// Whether name is one of the files vemlo-batch itself writes at the top of a work directory
// (chunk folders aside): what a new plan may remove.
bool made_by_batch(const std::string& name) {
    static const char* const fixed[] = {
        "plan.txt",        "control.txt",  "prefetch",         "parallel-joblog.txt",
        "chunk.sbatch",    "merge.sbatch", "sbatch-chunk.out", "sbatch-merge.out",
        "slurm-merge.out", "vemlo-run.txt"};
    for (const char* made : fixed)
        if (name == made || name == std::string(made) + ".partial")
            return true;
    int number = 0;
    char end = 0;
    return std::sscanf(name.c_str(), "slurm-chunk-%d.ou%c", &number, &end) == 2 && end == 't' &&
           name == "slurm-chunk-" + std::to_string(number) + ".out";
}

}  // namespace

Batch_work batch_work(const Template_file& control, const std::string& base_dir) {
    Batch_work work;
    work.base_dir = base_dir.empty() || base_dir.back() != '/' ? base_dir + "/" : base_dir;
    work.relative = control.output_dir + "vemlo-batch/";
    work.dir = (work.relative[0] == '/' ? "" : work.base_dir) + work.relative;
    return work;
}

std::string chunk_dir(const Batch_work& work, int number) {
    return work.dir + chunk_name(number) + "/";
}

std::string chunk_output_dir(const Batch_work& work, int number) {
    return work.relative + chunk_name(number) + "/results/";
}

std::string chunk_log(const Batch_work& work, int number) {
    return chunk_dir(work, number) + "log.txt";
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Status write_text(const std::string& path, const std::string& text) {
    const std::string partial = path + ".partial";
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return failure("cannot write " + path + ": " + std::strerror(errno));
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += size_t(n);
    }
    const int error = written < text.size() ? (errno ? errno : EIO) : 0;
    const bool flushed = error == 0 && ::fsync(fd) == 0;
    const int flush_error = errno;
    if (::close(fd) != 0 || !flushed || std::rename(partial.c_str(), path.c_str()) != 0) {
        const int reason = error ? error : flushed ? errno : flush_error;
        std::remove(partial.c_str());
        return failure("cannot write " + path + ": " + std::strerror(reason));
    }
    return success();
}

Status claim_work_dir(const Batch_work& work) {
    std::error_code error;
    fs::create_directories(work.dir, error);
    if (!fs::is_directory(work.dir, error))
        return failure("cannot create the work directory " + work.dir);
    if (read_text(work.dir + "plan.txt").rfind(plan_header, 0) == 0)
        return success();
    for (const auto& entry : fs::directory_iterator(work.dir, error))
        if (entry.path().filename() != "lock")
            return failure(work.dir +
                           " holds files but no vemlo-batch plan: it is not a "
                           "vemlo-batch work directory, and vemlo-batch leaves it "
                           "alone; move it away or choose another results directory");
    return error ? failure("cannot read " + work.dir + ": " + error.message()) : success();
}

Status prepare_work(const Batch_work& work, const std::string& control_text,
                    const Template_file& control, const std::vector<Chunk>& chunks,
                    int days_per_chunk) {
    std::error_code error;
    const std::string plan = plan_text(work.base_dir, days_per_chunk, control_text);
    if (read_text(work.dir + "plan.txt") != plan) {
        // Start afresh. A chunk folder of the new plan keeps its results folder (vemlo empties
        // its files when it starts); the rest of what earlier plans made goes.
        std::vector<fs::path> entries;
        for (const auto& entry : fs::directory_iterator(work.dir, error))
            entries.push_back(entry.path());
        for (const fs::path& path : entries) {
            const std::string name = path.filename().string();
            const int number = chunk_number(name);
            if (number >= 1 && size_t(number) <= chunks.size()) {
                if (!unmark_chunk(work, number).ok())
                    return failure("cannot remove the done mark of an earlier plan in " +
                                   path.string());
            } else if (number >= 1 || made_by_batch(name)) {
                fs::remove_all(path, error);
            }
        }
        const Status written = write_text(work.dir + "plan.txt", plan);
        if (!written.ok())
            return written;
    }
    const Status copied = write_text(work.dir + "control.txt", control_text);
    if (!copied.ok())
        return copied;

    for (const Chunk& chunk : chunks) {
        const std::string dir = chunk_dir(work, chunk.number);
        fs::create_directories(dir, error);
        const Template_file t = chunk_control(control, chunk, chunk_output_dir(work, chunk.number));
        const Outcome<std::string> text = format_template_file(t);
        if (!text.ok())
            return failure("this control file cannot be cut into chunks: " + text.error);
        if (read_text(dir + "control.txt") == *text.value)
            continue;
        const Status written = write_text(dir + "control.txt", *text.value);
        if (!written.ok())
            return written;
    }
    return success();
}

Outcome<Loaded_work> load_work(const std::string& dir) {
    const std::string folder = dir.empty() || dir.back() != '/' ? dir + "/" : dir;
    std::istringstream plan(read_text(folder + "plan.txt"));
    std::string header, base_line, days_line;
    std::getline(plan, header);
    std::getline(plan, base_line);
    std::getline(plan, days_line);
    int days = 0;
    if (header + "\n" != plan_header || base_line.rfind("base ", 0) != 0 ||
        std::sscanf(days_line.c_str(), "days %d", &days) != 1 || days < 1)
        return failed<Loaded_work>(folder + " is not a vemlo-batch work directory");
    std::istringstream text(read_text(folder + "control.txt"));
    Outcome<Template_file> parsed = parse_template_file(text);
    if (!parsed.ok())
        return failed<Loaded_work>(parsed.error + " (" + folder + "control.txt)");
    Loaded_work loaded;
    loaded.control = std::move(*parsed.value);
    loaded.work = batch_work(loaded.control, base_line.substr(5));
    loaded.chunks = split_scan_period(loaded.control, days);
    return succeeded(loaded);
}

Outcome<std::string> read_chunk_identity(const Batch_work& work, int number) {
    const std::string plan = read_text(work.dir + "plan.txt");
    const std::string control = read_text(chunk_dir(work, number) + "control.txt");
    if (plan.rfind(plan_header, 0) != 0 || control.empty())
        return failed<std::string>("cannot read the plan of chunk " + std::to_string(number) +
                                   " in " + work.dir);
    return succeeded(chunk_identity(plan, control));
}

Status mark_chunk_done(const Batch_work& work, int number, const std::string& identity) {
    return write_text(chunk_dir(work, number) + "done", "done " + identity + "\n");
}

Status unmark_chunk(const Batch_work& work, int number) {
    std::error_code error;
    fs::remove(chunk_dir(work, number) + "done", error);
    return error ? failure("cannot remove " + chunk_dir(work, number) + "done: " + error.message())
                 : success();
}

bool chunk_done(const Batch_work& work, int number, const std::string& identity) {
    return read_text(chunk_dir(work, number) + "done") == "done " + identity + "\n";
}

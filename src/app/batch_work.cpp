#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/batch.h"
#include "control/template_file_writer.h"

namespace fs = std::filesystem;

namespace {

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes text beside path and renames it into place, so a reader never sees half a file.
bool write_text(const std::string& path, const std::string& text) {
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!out || !(out << text) || !out.flush())
            return false;
    }
    return std::rename(partial.c_str(), path.c_str()) == 0;
}

std::string chunk_name(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "chunk-%04d/", number);
    return name;
}

// The plan that decides whether an earlier batch in the same work directory can be resumed.
std::string plan_text(const std::string& base_dir, int days_per_chunk,
                      const std::string& control_text) {
    return "vemlo-batch plan\nbase " + base_dir + "\ndays " + std::to_string(days_per_chunk) +
           "\ncontrol file:\n" + control_text;
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
    return work.dir + chunk_name(number);
}

std::string chunk_output_dir(const Batch_work& work, int number) {
    return work.relative + chunk_name(number) + "results/";
}

std::string chunk_log(const Batch_work& work, int number) {
    return chunk_dir(work, number) + "log.txt";
}

bool chunk_done(const Batch_work& work, int number) {
    std::error_code error;
    return fs::is_regular_file(chunk_dir(work, number) + "done", error);
}

Status prepare_work(const Batch_work& work, const std::string& control_text,
                    const Template_file& control, const std::vector<Chunk>& chunks,
                    int days_per_chunk) {
    std::error_code error;
    fs::create_directories(work.dir, error);
    if (!fs::is_directory(work.dir, error))
        return failure("Error: cannot create the work directory " + work.dir);

    const std::string plan = plan_text(work.base_dir, days_per_chunk, control_text);
    if (read_text(work.dir + "plan.txt") != plan) {
        // Start afresh. A chunk folder of the new plan keeps its results folder (vemlo empties
        // its files when it starts); everything else goes.
        std::vector<fs::path> entries;
        for (const auto& entry : fs::directory_iterator(work.dir, error))
            entries.push_back(entry.path());
        for (const fs::path& path : entries) {
            const std::string name = path.filename().string();
            int number = 0;
            const bool in_plan = std::sscanf(name.c_str(), "chunk-%d", &number) == 1 &&
                                 number >= 1 && size_t(number) <= chunks.size() &&
                                 chunk_name(number) == name + "/";
            if (name == "lock")
                continue;  // held by the running batch
            if (in_plan)
                fs::remove(path / "done", error);
            else
                fs::remove_all(path, error);
        }
        if (!write_text(work.dir + "plan.txt", plan))
            return failure("Error: cannot write in the work directory " + work.dir);
    }
    if (!write_text(work.dir + "control.txt", control_text))
        return failure("Error: cannot write in the work directory " + work.dir);

    for (const Chunk& chunk : chunks) {
        const std::string dir = chunk_dir(work, chunk.number);
        fs::create_directories(dir, error);
        const Template_file t = chunk_control(control, chunk, chunk_output_dir(work, chunk.number));
        const Outcome<std::string> text = format_template_file(t);
        if (!text.ok())
            return failure("Error: this control file cannot be cut into chunks: " + text.error);
        if (!write_text(dir + "control.txt", *text.value))
            return failure("Error: cannot write the control file of chunk " +
                           std::to_string(chunk.number) + " in " + dir);
    }
    return success();
}

Status load_work(const std::string& dir, Batch_work& work, Template_file& control,
                 std::vector<Chunk>& chunks) {
    const std::string folder = dir.empty() || dir.back() != '/' ? dir + "/" : dir;
    std::istringstream plan(read_text(folder + "plan.txt"));
    std::string header, base_line, days_line;
    std::getline(plan, header);
    std::getline(plan, base_line);
    std::getline(plan, days_line);
    int days = 0;
    if (header != "vemlo-batch plan" || base_line.rfind("base ", 0) != 0 ||
        std::sscanf(days_line.c_str(), "days %d", &days) != 1 || days < 1)
        return failure("Error: " + folder + " is not a vemlo-batch work directory");
    std::istringstream text(read_text(folder + "control.txt"));
    Outcome<Template_file> parsed = parse_template_file(text);
    if (!parsed.ok())
        return failure(parsed.error + " (" + folder + "control.txt)");
    control = std::move(*parsed.value);
    work = batch_work(control, base_line.substr(5));
    chunks = split_scan_period(control, days);
    return success();
}

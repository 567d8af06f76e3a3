#include <fstream>
#include <iostream>

#include "batch/engines.h"

namespace {

// text in single quotes for sh.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

Status write_script(const std::string& path, const std::string& command) {
    return write_text(path, "#!/bin/sh\n" + command + "\n");
}

// Runs sbatch with the given options and script in the work directory; its --parsable output
// gives the job id. Returns the job id, or fails after printing a message when the job was not
// accepted. status receives how sbatch ended (with --wait, the job's outcome).
Outcome<std::string> submit(const Batch_work& work, const std::vector<std::string>& argv,
                            const std::string& name, Child_status& status,
                            const Waiting& waiting = {}) {
    const std::string answer = work.dir + "sbatch-" + name + ".out";
    Child_options options;
    options.output_path = answer;
    options.with_stderr = false;
    options.own_group = true;
    options.waiting = waiting;
    const Outcome<Child_status> run = run_child(argv, options);
    if (!run.ok()) {
        std::cout << "Error: sbatch could not be started (" << run.error
                  << "); is Slurm installed here?" << std::endl;
        return failed<std::string>(run.error);
    }
    status = *run.value;
    std::ifstream in(answer);
    std::string id;
    std::getline(in, id);
    id = id.substr(0, id.find(';'));  // "id;cluster" on federated set-ups
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        std::cout << "Error: sbatch did not accept the " << name << " job (" << describe(status)
                  << ")" << std::endl;
        return failed<std::string>("sbatch did not accept the " + name + " job");
    }
    return succeeded(id);
}

}  // namespace

Status submit_to_slurm(const Batch_work& work, const std::vector<int>& numbers,
                       const Sbatch_args& sbatch, bool wait, const std::string& self,
                       const Waiting& waiting) {
    // The jobs start in the work directory (--chdir takes its path as it is) and send their
    // output to files there themselves: Slurm reads an --output path, the directory it is
    // relative to included, as a filename pattern ('%' and '\'), so it gets none of the user's
    // text. Each task gets the CPUs Slurm gave it as OpenMP threads.
    const std::string chunk_script = work.dir + "chunk.sbatch";
    const std::string merge_script = work.dir + "merge.sbatch";
    Status scripts = write_script(chunk_script,
                                  "exec >\"slurm-chunk-$SLURM_ARRAY_TASK_ID.out\" 2>&1\n"
                                  "OMP_NUM_THREADS=${SLURM_CPUS_PER_TASK:-1} exec " +
                                      quoted(self) + " --run-chunk " + quoted(work.dir) +
                                      " \"$SLURM_ARRAY_TASK_ID\"");
    if (scripts.ok())
        scripts = write_script(merge_script, "exec >slurm-merge.out 2>&1\nexec " + quoted(self) +
                                                 " --merge " + quoted(work.dir));
    if (!scripts.ok()) {
        std::cout << "Error: cannot write the job scripts: " << *scripts.error << std::endl;
        return scripts;
    }

    std::string array;
    for (int number : numbers)
        array += (array.empty() ? "" : ",") + std::to_string(number);
    std::vector<std::string> argv = {
        "sbatch",           "--parsable",          "--job-name=vemlo-chunks",
        "--array=" + array, "--chdir=" + work.dir, "--output=/dev/null"};
    if (!sbatch.dependency.empty())
        argv.push_back("--dependency=" + sbatch.dependency);
    argv.insert(argv.end(), sbatch.options.begin(), sbatch.options.end());
    argv.push_back(chunk_script);
    Child_status status;
    const Outcome<std::string> array_id = submit(work, argv, "chunk", status);
    if (!array_id.ok())
        return failure(array_id.error);
    if (!status.success()) {
        std::cout << "Error: sbatch ended with " << describe(status) << std::endl;
        return failure("sbatch ended with " + describe(status));
    }

    argv = {"sbatch",
            "--parsable",
            "--job-name=vemlo-merge",
            "--dependency=" + merge_dependency(*array_id.value, sbatch.dependency),
            "--kill-on-invalid-dep=yes",
            "--chdir=" + work.dir,
            "--output=/dev/null"};
    argv.insert(argv.end(), sbatch.options.begin(), sbatch.options.end());
    if (wait)
        argv.push_back("--wait");
    argv.push_back(merge_script);
    std::cout << "Submitted " << numbers.size() << " chunk(s) as Slurm job array "
              << *array_id.value << (wait ? "; waiting for the merge job..." : ".") << std::endl;
    const Outcome<std::string> merge_id = submit(work, argv, "merge", status, waiting);
    if (!merge_id.ok())
        return failure(merge_id.error);
    if (wait)
        return status.success() ? success()
                                : failure("the merge job ended with " + describe(status));
    std::cout << "Submitted the merge as Slurm job " << *merge_id.value
              << "; it runs once every chunk has succeeded (squeue shows both). Its report: "
              << work.dir << "slurm-merge.out" << std::endl;
    return success();
}

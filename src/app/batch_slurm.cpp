#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "app/batch.h"

namespace {

// text in single quotes for sh.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool write_script(const std::string& path, const std::string& command) {
    std::ofstream out(path, std::ios::trunc);
    out << "#!/bin/sh\n" << command << "\n";
    return bool(out.flush());
}

// Runs sbatch with the given options and script; its --parsable output gives the job id. Returns
// the job id, or "" after printing a message when the job was not accepted. status receives
// sbatch's exit status (with --wait, the job's).
std::string submit(const Batch_work& work, const std::vector<std::string>& argv,
                   const std::string& name, int& status, const Waiting& waiting = {}) {
    const std::string answer = work.dir + "sbatch-" + name + ".out";
    status = run_command(argv, answer, false, waiting);
    std::ifstream in(answer);
    std::string id;
    std::getline(in, id);
    id = id.substr(0, id.find(';'));  // "id;cluster" on federated set-ups
    if (status == 127) {
        std::cout << "Error: sbatch could not be started; is Slurm installed here?" << std::endl;
        return "";
    }
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        std::cout << "Error: sbatch did not accept the " << name << " job (status " << status << ")"
                  << std::endl;
        return "";
    }
    return id;
}

}  // namespace

int submit_to_slurm(const Batch_work& work, const std::vector<int>& numbers,
                    const std::string& sbatch_args, bool wait, const std::string& self,
                    const Waiting& waiting) {
    std::vector<std::string> extra;
    std::istringstream words(sbatch_args);
    for (std::string word; words >> word;)
        extra.push_back(word);

    // Each task gets the CPUs Slurm gave it as OpenMP threads.
    const std::string chunk_script = work.dir + "chunk.sbatch";
    const std::string merge_script = work.dir + "merge.sbatch";
    if (!write_script(chunk_script, "OMP_NUM_THREADS=${SLURM_CPUS_PER_TASK:-1} exec " +
                                        quoted(self) + " --run-chunk " + quoted(work.dir) +
                                        " \"$SLURM_ARRAY_TASK_ID\"") ||
        !write_script(merge_script, "exec " + quoted(self) + " --merge " + quoted(work.dir))) {
        std::cout << "Error: cannot write the job scripts in " << work.dir << std::endl;
        return 1;
    }

    std::string array;
    for (int number : numbers)
        array += (array.empty() ? "" : ",") + std::to_string(number);
    std::vector<std::string> argv = {"sbatch",
                                     "--parsable",
                                     "--job-name=vemlo-chunks",
                                     "--array=" + array,
                                     "--chdir=" + work.base_dir,
                                     "--output=" + work.dir + "slurm-chunk-%a.out"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(chunk_script);
    int status = 0;
    const std::string array_id = submit(work, argv, "chunk", status);
    if (array_id.empty() || status != 0)
        return 1;

    argv = {"sbatch",
            "--parsable",
            "--job-name=vemlo-merge",
            "--dependency=afterok:" + array_id,
            "--kill-on-invalid-dep=yes",
            "--chdir=" + work.base_dir,
            "--output=" + work.dir + "slurm-merge.out"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (wait)
        argv.push_back("--wait");
    argv.push_back(merge_script);
    std::cout << "Submitted " << numbers.size() << " chunk(s) as Slurm job array " << array_id
              << (wait ? "; waiting for the merge job..." : ".") << std::endl;
    const std::string merge_id = submit(work, argv, "merge", status, waiting);
    if (merge_id.empty())
        return 1;
    if (wait)
        return status == 0 ? 0 : 1;
    std::cout << "Submitted the merge as Slurm job " << merge_id
              << "; it runs once every chunk has succeeded (squeue shows both). Its report: "
              << work.dir << "slurm-merge.out" << std::endl;
    return 0;
}

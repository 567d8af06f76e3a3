#include "batch/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// A whole decimal number from 1 to max, or 0.
int positive_number(const std::string& text, long max) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return (errno == 0 && value >= 1 && value <= max) ? int(value) : 0;
}

}  // namespace

const char batch_usage[] =
    "Usage: vemlo-batch [--engine parallel|slurm] [--days N] [--jobs N] [--sshlogin HOSTS]\n"
    "                   [--sbatch ARGS] [--wait] CONTROL_FILE\n"
    "Runs the scan of CONTROL_FILE as chunks of N consecutive days, each one vemlo run, and\n"
    "merges their results into the results directory as one vemlo run would write them.\n"
    "Run the same command again after a failure: only the chunks not done run again.\n"
    "  --engine parallel  GNU parallel, on this machine or --sshlogin's hosts (default)\n"
    "  --engine slurm     a Slurm job array and a merge job that waits for every task\n"
    "  --days N           days per chunk (default 7)\n"
    "  --jobs N           parallel: chunks at a time (default one per core)\n"
    "  --sshlogin HOSTS   parallel: run on these hosts (GNU parallel's syntax)\n"
    "  --sbatch ARGS      slurm: extra sbatch options for both jobs, separated by blanks;\n"
    "                     not --array, --output, --error, --wait or --chdir (-a -o -e -W -D)\n"
    "  --wait             slurm: wait for the merge job and exit with its outcome\n"
    "  --help             print this text\n";

Status parse_batch_arguments(const std::vector<std::string>& args, Batch_options& options) {
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return success();
        }
    bool have_file = false;
    bool have_sbatch = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takes_value = arg == "--engine" || arg == "--days" || arg == "--jobs" ||
                                 arg == "--sshlogin" || arg == "--sbatch";
        if (takes_value && i + 1 == args.size())
            return failure("Error: " + arg + " needs a value");
        if (arg == "--engine") {
            options.engine = args[++i];
            if (options.engine != "parallel" && options.engine != "slurm")
                return failure("Error: unknown engine '" + options.engine +
                               "' (parallel or slurm)");
        } else if (arg == "--days") {
            options.days = positive_number(args[++i], 100000);
            if (options.days == 0)
                return failure("Error: --days takes a whole number from 1 to 100000, not '" +
                               args[i] + "'");
        } else if (arg == "--jobs") {
            options.jobs = positive_number(args[++i], 10000);
            if (options.jobs == 0)
                return failure("Error: --jobs takes a whole number from 1 to 10000, not '" +
                               args[i] + "'");
        } else if (arg == "--sshlogin") {
            options.sshlogin = args[++i];
        } else if (arg == "--sbatch") {
            Outcome<Sbatch_args> sbatch = parse_sbatch_args(args[++i]);
            if (!sbatch.ok())
                return failure(sbatch.error);
            options.sbatch = *sbatch.value;
            have_sbatch = true;
        } else if (arg == "--wait") {
            options.wait = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return failure("Error: unknown option " + arg);
        } else if (have_file) {
            return failure("Error: more than one control file: " + options.control_file + ", " +
                           arg);
        } else {
            options.control_file = arg;
            have_file = true;
        }
    }
    if (!have_file)
        return failure("Error: no control file given");
    if (options.engine != "parallel" && (options.jobs != 0 || !options.sshlogin.empty()))
        return failure("Error: --jobs and --sshlogin are options of the parallel engine");
    if (options.engine != "slurm" && (options.wait || have_sbatch))
        return failure("Error: --sbatch and --wait are options of the slurm engine");
    return success();
}

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "app/batch.h"

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

std::string parse_batch_arguments(const std::vector<std::string>& args, Batch_options& options) {
    bool have_file = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takes_value = arg == "--engine" || arg == "--days" || arg == "--jobs" ||
                                 arg == "--sshlogin" || arg == "--sbatch";
        if (takes_value && i + 1 == args.size())
            return "Error: " + arg + " needs a value";
        if (arg == "--engine") {
            options.engine = args[++i];
            if (options.engine != "parallel" && options.engine != "slurm")
                return "Error: unknown engine '" + options.engine + "' (parallel or slurm)";
        } else if (arg == "--days") {
            options.days = positive_number(args[++i], 100000);
            if (options.days == 0)
                return "Error: --days takes a whole number from 1 to 100000, not '" + args[i] + "'";
        } else if (arg == "--jobs") {
            options.jobs = positive_number(args[++i], 10000);
            if (options.jobs == 0)
                return "Error: --jobs takes a whole number from 1 to 10000, not '" + args[i] + "'";
        } else if (arg == "--sshlogin") {
            options.sshlogin = args[++i];
        } else if (arg == "--sbatch") {
            options.sbatch_args = args[++i];
        } else if (arg == "--wait") {
            options.wait = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "Error: unknown option " + arg;
        } else if (have_file) {
            return "Error: more than one control file: " + options.control_file + ", " + arg;
        } else {
            options.control_file = arg;
            have_file = true;
        }
    }
    if (!have_file)
        return "Error: no control file given";
    if (options.engine != "parallel" && (options.jobs != 0 || !options.sshlogin.empty()))
        return "Error: --jobs and --sshlogin are options of the parallel engine";
    if (options.engine != "slurm" && (options.wait || !options.sbatch_args.empty()))
        return "Error: --sbatch and --wait are options of the slurm engine";
    return "";
}

// vemlo: searches continuous seismic data for repeats of known earthquakes by multi-station
// template matching.
#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "acquire/archive_check.h"
#include "app/band_check.h"
#include "app/hello_world.h"
#include "app/results_start.h"
#include "app/template_creation.h"
#include "control/messages.h"
#include "control/run_record.h"
#include "control/template_file.h"
#include "scan/channel_measure.h"
#include "scan/correlation_scan.h"
#include "scan/memory_budget.h"
#include "scan/results_file.h"

namespace {

const char usage[] =
    "Usage: vemlo [--templates-only] [CONTROL_FILE]\n"
    "       vemlo --help | --version\n"
    "\n"
    "Searches continuous seismic data for repeats of the template events of CONTROL_FILE\n"
    "(default: template.txt in the current directory) by multi-station template matching, and\n"
    "writes one results file per event, its per-channel measurements <event>.channels.csv and\n"
    "the run record vemlo-run.txt into the control file's results directory.\n"
    "\n"
    "  --templates-only  build the templates (downloading their day files when the control\n"
    "                    file allows it), scan no day and write no results\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "Environment: OMP_NUM_THREADS (threads), VEMLO_MEMORY_MB (memory budget in megabytes),\n"
    "VEMLO_MAX_LAG (seconds a channel's pick may lie from its aligned time, default 0.5).\n"
    "Exit status: 0 when the run wrote every results and channels file completely, 1 otherwise.\n";

// The first failure among the checks made before any work, in order.
Status check_before_work(const Template_file& control, long long& budget, double& max_lag) {
    for (const auto& check : {check_settings, check_band, check_archive})
        if (Status status = check(control); !status.ok())
            return status;
    const Outcome<long long> memory = memory_budget_bytes();
    if (!memory.ok())
        return failure(memory.error);
    budget = *memory.value;
    const Outcome<double> lag = max_lag_seconds();
    if (!lag.ok())
        return failure(lag.error);
    max_lag = *lag.value;
    return check_memory_budget(control, budget);
}

}  // namespace

int main(int argc, char** argv) {
    // Day-length arrays come and go all through the scan. Taken from the heap rather than mapped
    // one by one, the memory of one is kept and reused for the next instead of being returned to
    // the system and faulted in again page by page (which cost more than the FFTs themselves);
    // large blocks are given huge pages as they are allocated (control/huge_pages.h).
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // One arena for all threads: a day array one thread frees is reused by the next one any
    // thread takes, instead of each thread faulting in memory of its own (the big arrays are few,
    // so the shared lock costs nothing).
    mallopt(M_ARENA_MAX, 1);

    bool templates_only = false;
    std::vector<std::string> files;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "vemlo " << VEMLO_VERSION << "\n";
            return 0;
        }
        if (arg == "--templates-only") {
            templates_only = true;
        } else if (arg.rfind("--", 0) == 0) {
            std::cout << "Error: unknown option " << arg << "\n\n" << usage;
            return 1;
        } else {
            files.push_back(arg);
        }
    }

    // The banner's tab and the C greeting share stdout's buffer: cout stays synchronised with
    // stdio, so "Utilizing C code." lands right after the tab.
    std::cout << "\n\tvemlo v" << VEMLO_VERSION << "\n"
              << "\t";
    hello_world_c();
    const auto start = std::chrono::steady_clock::now();

    std::string filename;
    if (files.empty()) {
        filename = "template.txt";
        std::cout << "Missing template filename argument. Using default filename: " << filename
                  << "\n";
    } else if (files.size() == 1) {
        filename = files[0];
    } else {
        std::cout << "Error: Unknown argument format. Call vemlo with: ./vemlo "
                     "example_filename.txt\n";
        return 1;
    }

    const Outcome<std::string> text = read_control_text(filename);
    if (!text.ok()) {
        std::cout << text.error << std::endl;
        return 1;
    }
    std::istringstream in(*text.value);
    const Outcome<Template_file> parsed = parse_template_file(in);
    if (!parsed.ok()) {
        std::cout << parsed.error << std::endl;
        return 1;
    }
    const Template_file& control = *parsed.value;
    // Every check is made, and the memory budget found, before anything is written.
    long long budget = 0;
    double max_lag = 0.0;
    if (Status checked = check_before_work(control, budget, max_lag); !checked.ok()) {
        std::cout << *checked.error << std::endl;
        return 1;
    }

    try {
        const Outcome<Template_bank> made = create_templates(control, budget);
        if (!made.ok()) {
            std::cout << made.error << std::endl;
            return 1;
        }
        const Template_bank& bank = *made.value;
        if (!control.event_names.empty() && templates_made(bank) == 0) {
            std::cout << (control.pick_year.empty()
                              ? "Error: not one template could be made: no event has a pick"
                              : "Error: not one template could be made: no pick had data (see "
                                "the lines above); nothing was scanned or written")
                      << std::endl;
            return 1;
        }
        if (templates_only) {
            if (Status fetched = downloads_complete(bank.failed_downloads); !fetched.ok()) {
                std::cout << *fetched.error << std::endl;
                return 1;
            }
        } else {
            const std::string record =
                format_run_record(VEMLO_VERSION, record_path(filename), *text.value, control);
            Status done = start_results(control, record);
            if (done.ok())
                done = run_scan(control, bank, budget, max_lag);
            if (!done.ok()) {
                std::cout << std::flush;
                std::cout << *done.error << std::endl;
                return 1;
            }
        }
    } catch (const std::bad_alloc&) {
        std::cout << std::flush;
        std::cout << "\nError: out of memory: the machine or the job has less memory than the "
                     "budget; set VEMLO_MEMORY_MB to what it can give, or run with more memory"
                  << std::endl;
        return 1;
    }

    // Wall-clock time: processor time would count every thread of a parallel run.
    const auto end = std::chrono::steady_clock::now();
    const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(end - start).count();
    std::cout << run_time_line << seconds << " seconds." << std::endl;
    return 0;
}

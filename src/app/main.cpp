// vemlo: searches continuous seismic data for repeats of known earthquakes by multi-station
// template matching.
#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <new>
#include <string>

#include "app/band_check.h"
#include "app/hello_world.h"
#include "app/huge_pages.h"
#include "app/template_creation.h"
#include "control/messages.h"
#include "control/template_file.h"
#include "scan/correlation_scan.h"
#include "scan/memory_budget.h"

int main(int argc, char** argv) {
    restart_with_huge_pages(argv);
    // Day-length arrays come and go all through the scan. Taken from the heap rather than mapped
    // one by one, the memory of one is kept and reused for the next instead of being returned to
    // the system and faulted in again page by page (which cost more than the FFTs themselves).
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // One arena for all threads: a day array one thread frees is reused by the next one any
    // thread takes, instead of each thread faulting in memory of its own (the big arrays are few,
    // so the shared lock costs nothing).
    mallopt(M_ARENA_MAX, 1);
    // The banner's tab and the C greeting share stdout's buffer: cout stays synchronised with
    // stdio, so "Utilizing C code." lands right after the tab.
    std::cout << "\n\tvemlo v0.2\n"
              << "\t";
    hello_world_c();
    const auto start = std::chrono::steady_clock::now();

    std::string filename;
    if (argc == 1) {
        filename = "template.txt";
        std::cout << "Missing template filename argument. Using default filename: " << filename
                  << "\n";
    } else if (argc == 2) {
        filename = argv[1];
    } else {
        std::cout << "Error: Unknown argument format. Call vemlo with: ./vemlo "
                     "example_filename.txt\n";
        return 1;
    }

    const Template_file control = read_temp_file(filename);
    std::string problem = check_settings(control);
    if (problem.empty())
        problem = check_band(control);  // needs the filter design, downstream of control
    // The memory budget is checked before anything is written.
    long long budget = 0;
    if (problem.empty()) {
        budget = memory_budget_bytes(problem);
    }
    if (problem.empty()) {
        problem = check_memory_budget(control, budget);
    }
    if (!problem.empty()) {
        std::cout << problem << std::endl;
        return 1;
    }

    try {
        const Template_bank bank = create_templates(control, budget);
        run_scan(control, bank, budget);
    } catch (const std::bad_alloc&) {
        std::cout << std::flush;
        std::cout << "\nError: out of memory; a smaller VEMLO_MEMORY_MB scans fewer events at "
                     "once"
                  << std::endl;
        return 1;
    }

    // Wall-clock time: processor time would count every thread of a parallel run.
    const auto end = std::chrono::steady_clock::now();
    const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(end - start).count();
    std::cout << run_time_line << seconds << " seconds." << std::endl;
    return 0;
}

// vemlo: searches continuous seismic data for repeats of known earthquakes by multi-station
// template matching.
#include <cstdint>
#include <ctime>
#include <iostream>
#include <string>

#include "app/band_check.h"
#include "app/hello_world.h"
#include "app/template_creation.h"
#include "control/template_file.h"
#include "scan/correlation_scan.h"

int main(int argc, char** argv) {
    // The banner's tab and the C greeting share stdout's buffer: cout stays synchronised with
    // stdio, so "Utilizing C code." lands right after the tab.
    std::cout << "\n\tvemlo v0.2\n"
              << "\t";
    hello_world_c();
    const std::clock_t start = std::clock();

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
    if (!problem.empty()) {
        std::cout << problem << std::endl;
        return 1;
    }

    const Template_bank bank = create_templates(control);
    run_scan(control, bank);

    const std::clock_t end = std::clock();
    const int64_t seconds = static_cast<int64_t>(end - start) / 1000000;
    std::cout << "Run time: ~" << seconds << " seconds." << std::endl;
    return 0;
}

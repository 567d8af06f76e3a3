#include <unistd.h>

#include <climits>
#include <filesystem>
#include <iostream>

#include "app/batch.h"
#include "control/template_file_writer.h"

int prefetch_templates(const Batch_work& work, const Template_file& control,
                       const std::string& vemlo) {
    // vemlo --templates-only builds the templates (downloading their days) and scans nothing,
    // whatever the period.
    Chunk none;
    none.first_day = 0;
    none.last_day = 0;
    const std::string dir = work.dir + "prefetch/";
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    const Status written = write_template_file(
        chunk_control(control, none, work.relative + "prefetch/results/"), dir + "control.txt");
    std::cout << "Downloading the templates' day files first..." << std::endl;
    const int status =
        written.ok() && ::chdir(work.base_dir.c_str()) == 0
            ? run_command({vemlo, "--templates-only", dir + "control.txt"}, dir + "log.txt")
            : 1;
    if (status != 0)
        std::cout << "Error: fetching the templates' day files failed; see " << dir << "log.txt"
                  << std::endl;
    return status == 0 ? 0 : 1;
}

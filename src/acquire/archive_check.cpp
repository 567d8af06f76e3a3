#include "acquire/archive_check.h"

#include <filesystem>

#include "control/quoted.h"

Status check_archive(const Template_file& control) {
    if (control.pick_year.empty() || control.download_missing != 0)
        return success();
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(control.data_dir, error);
    if (std::filesystem::is_directory(status))
        return success();
    const std::string what =
        std::filesystem::exists(status) ? "is not a directory" : "does not exist";
    return failure("Error: line 26 of the control file: the archive directory " +
                   quoted(control.data_dir) + " " + what +
                   " (and line 35 does not allow downloads)");
}

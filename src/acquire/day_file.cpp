#include "acquire/day_file.h"

#include <sys/stat.h>

#include <iostream>

#include "acquire/create_path.h"

namespace {

// True when path names a regular file of more than usable_day_file_bytes; exists tells whether
// there is anything at path at all.
bool usable(const std::string& path, bool& exists) {
    struct stat status;
    exists = stat(path.c_str(), &status) == 0;
    return exists && S_ISREG(status.st_mode) && status.st_size > usable_day_file_bytes;
}

}  // namespace

std::string day_directory(const std::string& data_dir, const std::string& station, int year) {
    return data_dir + station + "/" + std::to_string(year);
}

std::string day_file_path(const std::string& data_dir, const std::string& network,
                          const std::string& station, const std::string& location,
                          const std::string& channel, int year, int doy) {
    const std::string pad = doy <= 9 ? "00" : doy <= 99 ? "0" : "";
    return day_directory(data_dir, station, year) + "/" + station + "." + network + "." + location +
           "." + channel + "." + std::to_string(year) + "." + pad + std::to_string(doy);
}

Day_file find_day_file(int year, int doy, float start, const std::string& network,
                       const std::string& station, const std::string& location,
                       const std::string& channel, const Template_file& control) {
    Day_file file;
    file.directory = day_directory(control.data_dir, station, year);
    file.path = day_file_path(control.data_dir, network, station, location, channel, year, doy);

    bool exists = false;
    if (usable(file.path, exists)) {
        file.outcome = Day_file_outcome::read;
        return file;
    }
    // A small file left behind by an earlier attempt is never fetched again.
    if (exists || control.download_missing == 0)
        return file;

    std::cout << "Downloading data." << std::endl;
    createPath(file.directory);  // a failure shows as its message and as a missing file
    run_download(download_command(fdsn_base_url(), network, station, location, channel, year, doy,
                                  start, file.path));
    if (usable(file.path, exists)) {
        file.outcome = Day_file_outcome::read_downloaded;
        file.deletion_notice = control.keep_downloads == 0;
    }
    return file;
}

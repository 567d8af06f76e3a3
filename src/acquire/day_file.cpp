#include "acquire/day_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

bool download_day_file(const std::string& base_url, const std::string& network,
                       const std::string& station, const std::string& location,
                       const std::string& channel, int year, int doy, const std::string& path,
                       std::ostream& out) {
    // A name of this process's own beside the day file: two processes fetching the same day
    // never write to one file, and the day file appears only whole, by rename.
    static unsigned attempt = 0;
    std::string part;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        part = path + ".part-" + std::to_string(getpid()) + "-" + std::to_string(++attempt);
        fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        out << "cannot create file [" << part << "] : " << std::strerror(errno) << std::endl;
        return false;
    }
    close(fd);
    const int status = run_download(
        download_command(base_url, network, station, location, channel, year, doy, part));
    bool exists = false;
    if (status == 0 && usable(part, exists) && std::rename(part.c_str(), path.c_str()) == 0)
        return true;
    std::remove(part.c_str());  // an error page, an empty answer or a cut transfer
    return false;
}

Day_file find_day_file(int year, int doy, const std::string& network, const std::string& station,
                       const std::string& location, const std::string& channel,
                       const Template_file& control, std::ostream& out) {
    Day_file file;
    file.directory = day_directory(control.data_dir, station, year);
    file.path = day_file_path(control.data_dir, network, station, location, channel, year, doy);

    bool exists = false;
    if (usable(file.path, exists)) {
        file.outcome = Day_file_outcome::read;
        return file;
    }
    // A small file put there by hand or by an earlier version is never fetched again.
    if (exists || control.download_missing == 0)
        return file;

    out << "Downloading data." << std::endl;
    if (createPath(file.directory, out) != 0)
        return file;  // createPath said why
    if (download_day_file(fdsn_base_url(), network, station, location, channel, year, doy,
                          file.path, out) &&
        usable(file.path, exists)) {
        file.outcome = Day_file_outcome::read_downloaded;
        file.deletion_notice = control.keep_downloads == 0;
    }
    return file;
}

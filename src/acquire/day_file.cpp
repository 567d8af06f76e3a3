#include "acquire/day_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "acquire/create_path.h"
#include "acquire/download_check.h"
#include "acquire/partial_download.h"

namespace {

// True when path names a regular file of more than usable_day_file_bytes; exists tells whether
// there is anything at path at all.
bool usable(const std::string& path, bool& exists) {
    struct stat status;
    exists = stat(path.c_str(), &status) == 0;
    return exists && S_ISREG(status.st_mode) && status.st_size > usable_day_file_bytes;
}

// Day of year with zeros in front up to three digits.
std::string padded_day(int doy) {
    const std::string pad = doy <= 9 ? "00" : doy <= 99 ? "0" : "";
    return pad + std::to_string(doy);
}

// vemlo's day-file path with the location code exactly as given.
std::string vemlo_name_path(const std::string& data_dir, const std::string& network,
                            const std::string& station, const std::string& location,
                            const std::string& channel, int year, int doy) {
    return day_directory(data_dir, station, year) + "/" + station + "." + network + "." + location +
           "." + channel + "." + std::to_string(year) + "." + padded_day(doy);
}

// One line on standard error (standard output flushed first): the day file is missing, with
// every path tried, what stood at those that hold something, and why no download helped.
void report_missing(const std::vector<std::string>& tried, const char* download_note) {
    std::cout.flush();
    std::cerr << "No usable day file at ";
    for (size_t k = 0; k < tried.size(); ++k) {
        struct stat status;
        const char* note = stat(tried[k].c_str(), &status) != 0 ? ""
                           : S_ISREG(status.st_mode)            ? " (300 bytes or less)"
                                                                : " (not a file)";
        std::cerr << (k == 0 ? "" : k + 1 < tried.size() ? ", " : " or ") << tried[k] << note;
    }
    std::cerr << download_note << std::endl;
}

// The status line of the last answer in wget's report (wget run with --server-response), as
// "HTTP/1.1 404 Not Found"; empty when there is none.
std::string last_status_line(const std::string& wget_log) {
    std::ifstream log(wget_log);
    std::string last;
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("  HTTP/", 0) == 0) {
            last = line.substr(2);
            while (!last.empty() && (last.back() == '\r' || last.back() == ' '))
                last.pop_back();
        }
    }
    return last;
}

}  // namespace

std::string day_directory(const std::string& data_dir, const std::string& station, int year) {
    return data_dir + station + "/" + std::to_string(year);
}

std::string location_in_file_names(const std::string& location) {
    return location == "--" ? "" : location;
}

std::string day_file_path(const std::string& data_dir, const std::string& network,
                          const std::string& station, const std::string& location,
                          const std::string& channel, int year, int doy) {
    return vemlo_name_path(data_dir, network, station, location_in_file_names(location), channel,
                           year, doy);
}

std::string sds_day_file_path(const std::string& data_dir, const std::string& network,
                              const std::string& station, const std::string& location,
                              const std::string& channel, int year, int doy) {
    const std::string y = std::to_string(year);
    return data_dir + y + "/" + network + "/" + station + "/" + channel + ".D/" + network + "." +
           station + "." + location_in_file_names(location) + "." + channel + ".D." + y + "." +
           padded_day(doy);
}

Download_result download_day_file(const std::string& base_url, const std::string& network,
                                  const std::string& station, const std::string& location,
                                  const std::string& channel, int year, int doy,
                                  const std::string& path, std::ostream& out) {
    // A name of this process's own beside the day file: two processes fetching the same day
    // never write to one file, and the day file appears only whole, by rename.
    remove_abandoned_downloads(path);
    static unsigned attempt = 0;
    std::string part;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        part = partial_download_name(path, ++attempt);
        fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        out << "cannot create file [" << part << "] : " << std::strerror(errno) << std::endl;
        return Download_result::failed;
    }
    close(fd);
    const std::string log = part + ".log";
    const Outcome<Child_status> wget = run_download(
        download_command(base_url, network, station, location, channel, year, doy, part, log));
    // No data is an empty answer (204, or a few bytes) or a 404, which services give on request
    // instead of a 204; every other ending is a failure and is reported: a later run may get the
    // day.
    bool exists = false;
    Status whole = success();
    const char* ending = "failed";  // or "incomplete": an answer that was cut off
    Download_result result = Download_result::failed;
    const std::string answer = last_status_line(log);
    std::string protocol;
    int code = 0;
    if (!wget.ok()) {
        whole = failure(wget.error);
    } else if (wget.value->exit_code == 4) {
        whole = failure("the connection failed or was lost (wget's status 4)");
        ending = "incomplete";
    } else if (wget.value->exit_code == 8) {
        if (std::istringstream(answer) >> protocol >> code && code == 404)
            result = Download_result::no_data;
        else
            whole = failure("the data centre answered " +
                            (answer.empty() ? std::string("with an error") : answer));
    } else if (!wget.value->success()) {
        whole = failure("wget ended with " + describe(*wget.value));
    } else if (!usable(part, exists)) {
        result = Download_result::no_data;
    } else {
        whole = check_download_whole(part, log);
        if (whole.ok())
            result = Download_result::fetched;
        ending = "incomplete";
    }
    std::remove(log.c_str());
    if (result == Download_result::fetched) {
        if (std::rename(part.c_str(), path.c_str()) == 0)
            return result;
        whole = failure(std::string("it could not be renamed into place: ") + std::strerror(errno));
        ending = "failed";
        result = Download_result::failed;
    }
    std::remove(part.c_str());
    if (result == Download_result::failed)
        out << "Download of " << path << " " << ending << ": " << *whole.error
            << "; nothing kept, the next run asks again." << std::endl;
    return result;
}

Day_file find_day_file(int year, int doy, const std::string& network, const std::string& station,
                       const std::string& location, const std::string& channel,
                       const Template_file& control, std::ostream& out, bool say_missing) {
    Day_file file;
    file.directory = day_directory(control.data_dir, station, year);
    file.path = day_file_path(control.data_dir, network, station, location, channel, year, doy);

    std::vector<std::string> tried{file.path};
    if (location == "--")
        tried.push_back(
            vemlo_name_path(control.data_dir, network, station, location, channel, year, doy));
    tried.push_back(
        sds_day_file_path(control.data_dir, network, station, location, channel, year, doy));
    bool any_exists = false;
    for (const std::string& path : tried) {
        bool exists = false;
        if (usable(path, exists)) {
            file.path = path;
            file.outcome = Day_file_outcome::read;
            return file;
        }
        any_exists = any_exists || exists;
    }
    // A small file put there by hand or by an earlier version is never fetched again.
    if (any_exists || control.download_missing == 0) {
        if (say_missing)
            report_missing(tried, "");
        return file;
    }

    out << "Downloading data." << std::endl;
    bool exists = false;
    const Download_result result =
        createPath(file.directory, out) != 0  // createPath says why it failed
            ? Download_result::failed
            : download_day_file(fdsn_base_url(), network, station, location, channel, year, doy,
                                file.path, out);
    if (result == Download_result::fetched && usable(file.path, exists)) {
        file.outcome = Day_file_outcome::read_downloaded;
        file.deletion_notice = control.keep_downloads == 0;
        return file;
    }
    file.download_failed = result != Download_result::no_data;
    if (say_missing)
        report_missing(tried, file.download_failed ? "; downloading it failed"
                                                   : "; the data centre has no data for it");
    return file;
}

// The local day-file archive and downloads of missing day files.
#pragma once

#include <iostream>
#include <string>
#include <vector>

#include "acquire/child_process.h"
#include "control/template_file.h"

enum class Day_file_outcome {
    read,             // present and usable
    read_downloaded,  // fetched in this call and now usable
    not_found,
};

struct Day_file {
    std::string directory;  // data_dir + station + "/" + year, where downloads land
    std::string path;       // the file read: vemlo's day-file path, or the SDS one
    Day_file_outcome outcome = Day_file_outcome::not_found;
    bool deletion_notice = false;  // downloaded and keep_downloads is 0
    // A download was tried and failed for another reason than the data centre having no data:
    // the day's data may exist, and a later run may get it.
    bool download_failed = false;
};

// How a download ended.
enum class Download_result {
    fetched,  // the day file is in place
    no_data,  // the data centre has no data for the day: an empty answer (204 or 300 bytes or
              // less) or a 404
    failed,   // anything else: the connection, an error answer, an answer cut off or not miniSEED
};

// Size above which a day file is taken to hold data.
constexpr long usable_day_file_bytes = 300;

// Day directory: data_dir + station + "/" + year.
std::string day_directory(const std::string& data_dir, const std::string& station, int year);

// Location code as day-file names hold it: the FDSN "--" of an empty location code is empty.
std::string location_in_file_names(const std::string& location);

// Day-file path: day directory + "/" + station.network.location.channel.year.ddd, the location
// as location_in_file_names gives it.
std::string day_file_path(const std::string& data_dir, const std::string& network,
                          const std::string& station, const std::string& location,
                          const std::string& channel, int year, int doy);

// The day file's path in the SDS layout of SeisComP and ObsPy archives:
// data_dir + YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DDD, the location as
// location_in_file_names gives it.
std::string sds_day_file_path(const std::string& data_dir, const std::string& network,
                              const std::string& station, const std::string& location,
                              const std::string& channel, int year, int doy);

// Argument vector of the wget command that downloads the whole UTC day doy of year (day
// numbers past the year's end roll over) into path, writing its report (errors, the server's
// headers, the bytes received) to log_path. The codes are percent-encoded in the URL (letters,
// digits and "-._~" stay as they are). Element 0 is "wget".
std::vector<std::string> download_command(const std::string& base_url, const std::string& network,
                                          const std::string& station, const std::string& location,
                                          const std::string& channel, int year, int doy,
                                          const std::string& path, const std::string& log_path);

// The service base address compiled in (plain HTTP, ends in '/').
const char* fdsn_base_url();

// Runs argv[0] (searched on PATH like a shell would) with the arguments argv[1..] and no shell
// in between, inheriting the standard streams, and waits for it (run_child). Returns how it
// ended; fails when it could not be started.
Outcome<Child_status> run_download(const std::vector<std::string>& argv);

// Downloads day doy of year of one station channel from the service at base_url into path:
// wget writes to a temporary name beside path (path + ".part-HOST-PID-N"), and only a whole
// answer is renamed onto path: wget's status 0, more than usable_day_file_bytes, as many bytes
// as the answer's Content-Length, no transfer ended early in wget's report, and miniSEED
// records to the file's last byte. Anything else is removed; an answer that was cut off (or a
// connection lost) is reported on out. Temporary files of earlier downloads of
// path whose process on this host has gone are removed first. The directory of path must
// exist. Returns fetched when path now holds the download; otherwise path is left as it was, and
// a failure (not "no data") is reported on out.
Download_result download_day_file(const std::string& base_url, const std::string& network,
                                  const std::string& station, const std::string& location,
                                  const std::string& channel, int year, int doy,
                                  const std::string& path, std::ostream& out = std::cout);

// Looks the day file up at vemlo's day-file path, then (for a location "--", written that way by
// earlier versions) at that path with "--" in the name, then at its SDS path; the first usable
// one is read. When none exists and control.download_missing is set, downloads it to vemlo's
// path (download_day_file, from fdsn_base_url()), printing "Downloading data." first, and its
// other lines, on out. Never fails: a missing or unusable file, or a failed download, gives
// not_found, with one line on standard error naming every path tried (unless say_missing is
// false: a file that is only read when it is there); a failed download leaves no file behind,
// so that a later call asks again, and sets download_failed.
Day_file find_day_file(int year, int doy, const std::string& network, const std::string& station,
                       const std::string& location, const std::string& channel,
                       const Template_file& control, std::ostream& out = std::cout,
                       bool say_missing = true);

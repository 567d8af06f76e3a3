#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "acquire/day_file.h"
#include "dsp/time_convert.h"

extern char** environ;

namespace {

// Two digits for months and days of month.
std::string two_digits(int value) {
    return (value <= 9 ? "0" : "") + std::to_string(value);
}

// code as a URL query value: letters, digits and "-._~" as they are, every other byte as %XX,
// so that no code can end its parameter ('&'), the query ('#') or add one.
std::string url_value(const std::string& code) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : code) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace

const char* fdsn_base_url() {
    return VEMLO_FDSN_BASE_URL;
}

std::vector<std::string> download_command(const std::string& base_url, const std::string& network,
                                          const std::string& station, const std::string& location,
                                          const std::string& channel, int year, int doy,
                                          const std::string& path) {
    // The day the file is named after; day numbers past the year's end roll over.
    const Calendar_time date = doy_to_day(year, doy, 0.0);
    const std::string day =
        std::to_string(date.year) + "-" + two_digits(date.month) + "-" + two_digits(date.day);
    // The query asks for the whole UTC day; the blank after the end time belongs to the URL.
    std::string url = base_url + "fdsnws/dataselect/1/query?net=" + url_value(network) +
                      "&sta=" + url_value(station) + "&loc=" + url_value(location) +
                      "&cha=" + url_value(channel) + "&starttime=" + day +
                      "T00:00:00&endtime=" + day + "T23:59:59.999 ";
    return {"wget", url, "-q", "-O", path};
}

int run_download(const std::vector<std::string>& argv) {
    if (argv.empty())
        return -1;
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    // Everything printed so far must come before the child's own output.
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = 0;
    const int failure = posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), environ);
    if (failure != 0) {
        std::fprintf(stderr, "Cannot run %s: %s\n", args[0], std::strerror(failure));
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

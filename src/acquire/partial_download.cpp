#include "acquire/partial_download.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

std::string host_name() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

}  // namespace

std::string partial_download_name(const std::string& path, unsigned attempt) {
    return path + ".part-" + host_name() + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(attempt);
}

void remove_abandoned_downloads(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path day_file(path);
    const std::string prefix = day_file.filename().string() + ".part-" + host_name() + "-";
    std::error_code error;
    std::vector<fs::path> abandoned;
    for (const auto& entry : fs::directory_iterator(
             day_file.parent_path().empty() ? fs::path(".") : day_file.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        // PID-ATTEMPT, or PID-ATTEMPT.log for wget's report.
        char* end = nullptr;
        errno = 0;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (errno != 0 || end == name.c_str() + prefix.size() || *end != '-' || pid <= 0 ||
            pid > INT_MAX)
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            abandoned.push_back(entry.path());
    }
    for (const fs::path& file : abandoned)
        fs::remove(file, error);
}

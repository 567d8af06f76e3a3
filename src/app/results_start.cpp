#include "app/results_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "control/messages.h"
#include "control/run_record.h"
#include "scan/channels_file.h"

namespace {

// Creates or empties path. Fails with a line naming it and the reason.
Status empty_results_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return failure("Error: " + std::string(results_open_failure) + " " + path + ": " +
                       std::strerror(errno));
    ::close(fd);
    return success();
}

// Creates or empties path and writes the channels file's header into it. Fails with a line
// naming it and the reason.
Status start_channels_file(const std::string& path) {
    std::ofstream out(path, std::ios::out | std::ios::trunc | std::ios::binary);
    const int open_error = out ? 0 : errno;
    out << channels_header;
    out.close();
    if (open_error != 0)
        return failure("Error: " + std::string(results_open_failure) + " " + path + ": " +
                       std::strerror(open_error));
    if (out.fail())
        return failure("Error: " + std::string(results_write_failure) + " " + path);
    return success();
}

}  // namespace

Status start_results(const Template_file& control, const std::string& record) {
    const std::string& dir = control.output_dir;
    std::error_code error;
    std::filesystem::create_directories(dir.substr(0, dir.find_last_not_of('/') + 1), error);
    if (!std::filesystem::is_directory(dir)) {
        return failure("Error: cannot create the results directory " + dir + ": " +
                       (error ? error.message() : "a file of that name is in the way"));
    }

    const std::string record_path = dir + run_record_file;
    std::ofstream out(record_path, std::ios::out | std::ios::trunc | std::ios::binary);
    const int open_error = out ? 0 : errno;
    out << record;
    out.close();  // buffered text reaches the file here: a full disk shows now
    if (out.fail()) {
        return failure("Error: cannot write the run record " + record_path +
                       (open_error != 0 ? std::string(": ") + std::strerror(open_error) : ""));
    }

    for (const std::string& name : control.event_names) {
        if (Status emptied = empty_results_file(dir + name + ".txt"); !emptied.ok())
            return emptied;
        if (Status started = start_channels_file(dir + name + ".channels.csv"); !started.ok())
            return started;
    }
    return success();
}

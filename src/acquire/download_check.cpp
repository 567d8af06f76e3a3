#include "acquire/download_check.h"

#include <sys/stat.h>

#include <strings.h>
#include <cstdlib>
#include <fstream>

#include "acquire/mseed_whole.h"

Status check_download_whole(const std::string& file, const std::string& wget_log) {
    struct stat status;
    if (::stat(file.c_str(), &status) != 0)
        return failure("the download left no file");
    // The headers of each answer follow its status line, indented by two blanks; a redirect or
    // a retry makes the last answer the one that counts.
    std::ifstream log(wget_log);
    long long announced = -1;
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("  HTTP/", 0) == 0)
            announced = -1;
        else if (line.size() > 18 && strncasecmp(line.c_str(), "  Content-Length:", 17) == 0)
            announced = std::strtoll(line.c_str() + 17, nullptr, 10);
        else if (line.find("Read error at byte") != std::string::npos ||
                 line.find("Connection closed at byte") != std::string::npos)
            return failure("the transfer ended early (wget: " + line + ")");
    }
    if (announced >= 0 && announced != static_cast<long long>(status.st_size))
        return failure("received " + std::to_string(status.st_size) + " of the " +
                       std::to_string(announced) + " bytes announced");
    return check_mseed_whole(file);
}

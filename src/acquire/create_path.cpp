#include "acquire/create_path.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <iostream>

int createPath(const std::string& path, std::ostream& out) {
    std::string::size_type cursor = 0;
    while (cursor < path.size()) {
        // Searching from the character after the cursor keeps the leading '/' of an absolute
        // path inside the first component.
        const std::string::size_type slash = path.find('/', cursor + 1);
        const std::string prefix = path.substr(0, slash);
        struct stat status;
        if (stat(prefix.c_str(), &status) == 0) {
            if (!S_ISDIR(status.st_mode)) {
                errno = ENOTDIR;
                out << "path [" << prefix << "] not a dir " << std::endl;
                return -1;
            }
        } else if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            const int reason = errno;
            out << "cannot create folder [" << prefix << "] : " << std::strerror(reason)
                << std::endl;
            errno = reason;
            return -1;
        }
        cursor = slash == std::string::npos ? path.size() : slash + 1;
    }
    return 0;
}

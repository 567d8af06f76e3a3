#include "acquire/mseed_whole.h"

#include <libmseed.h>
#include <sys/stat.h>

Status check_mseed_whole(const std::string& path) {
    struct stat file;
    if (::stat(path.c_str(), &file) != 0)
        return failure("cannot read " + path);
    MSFileParam* reader = nullptr;
    MSRecord* record = nullptr;
    off_t position = 0;
    long long covered = 0;  // bytes from the start to the end of the last record read
    int last = 0;
    int code = MS_NOERROR;
    while ((code = ms_readmsr_r(&reader, &record, path.c_str(), 0, &position, &last, 0, 0, 0)) ==
           MS_NOERROR) {
        if (position != covered)
            break;  // bytes between records were skipped
        covered = static_cast<long long>(position) + record->reclen;
    }
    ms_readmsr_r(&reader, &record, nullptr, 0, nullptr, nullptr, 0, 0, 0);  // frees both
    const long long size = file.st_size;
    if (code != MS_NOERROR && code != MS_ENDOFFILE)
        return failure("byte " + std::to_string(covered) + " of " + std::to_string(size) +
                       " does not begin a miniSEED record (" + ms_errorstr(code) + ")");
    if (covered != size)
        return failure("its miniSEED records end at byte " + std::to_string(covered) + " of " +
                       std::to_string(size) + " (cut within a record)");
    return success();
}

#include "batch/merge.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "control/run_record.h"
#include "dsp/time_convert.h"
#include "scan/channels_file.h"

namespace fs = std::filesystem;

namespace {

// Writes size bytes of data to fd. Returns 0, or the errno of the failure.
int write_all(int fd, const char* data, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t w = ::write(fd, data + done, size - done);
        if (w < 0 && errno != EINTR)
            return errno;
        done += w > 0 ? size_t(w) : 0;
    }
    return 0;
}

// Appends the file at path (when there is one) to fd, without its first line when skip_line.
// Returns 0, or the errno of the failure.
int append_file(int fd, const std::string& path, bool skip_line = false) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno == ENOENT ? 0 : errno;
    char buffer[1 << 16];
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        ssize_t from = 0;
        while (skip_line && from < n)
            skip_line = buffer[from++] != '\n';
        error = write_all(fd, buffer + from, size_t(n - from));
        if (error)
            break;
    }
    ::close(in);
    return error;
}

}  // namespace

Outcome<std::vector<int>> merge_chunks(const Batch_work& work, const Template_file& control,
                                       const std::vector<Chunk>& chunks) {
    const std::vector<std::string> names = chunk_event_names(control.event_names);
    std::vector<int> not_done;
    std::error_code error;
    for (const Chunk& chunk : chunks) {
        const Outcome<std::string> identity = read_chunk_identity(work, chunk.number);
        bool complete = identity.ok() && chunk_done(work, chunk.number, *identity.value);
        for (size_t e = 0; complete && e < names.size(); ++e)
            for (const char* ending : {".txt", ".channels.csv"})
                complete = complete &&
                           fs::is_regular_file(
                               chunk_output_dir(work, chunk.number) + names[e] + ending, error);
        if (!complete) {
            // A chunk whose results have gone since it was marked done runs again next time.
            (void)unmark_chunk(work, chunk.number);
            not_done.push_back(chunk.number);
        }
    }
    if (!not_done.empty())
        return succeeded(not_done);

    // vemlo empties every results file first (a channels file keeps its header) and then
    // appends event after event, each day by day; events that share a name therefore follow one
    // another in the same file. The run record is the one vemlo-batch wrote for the whole period
    // (see record_run).
    std::map<std::string, std::vector<std::string>> sources;  // merged file: its parts in order
    std::vector<std::string> files;                           // in order of first appearance
    std::set<std::string> with_header;                        // channels files
    for (size_t e = 0; e < control.event_names.size(); ++e) {
        for (const char* ending : {".txt", ".channels.csv"}) {
            const std::string path = control.output_dir + control.event_names[e] + ending;
            if (sources[path].empty())
                files.push_back(path);
            if (ending[1] == 'c')
                with_header.insert(path);
            for (const Chunk& chunk : chunks)
                sources[path].push_back(chunk_output_dir(work, chunk.number) + names[e] + ending);
        }
    }
    if (fs::is_regular_file(work.dir + run_record_file, error)) {
        files.push_back(control.output_dir + run_record_file);
        sources[files.back()] = {work.dir + run_record_file};
    }
    std::vector<std::string> written;  // merged files waiting beside their final names
    auto discard = [&](const std::string& message) {
        for (const std::string& path : written)
            std::remove((path + ".vemlo-batch-partial").c_str());
        return failed<std::vector<int>>(message);
    };
    for (const std::string& path : files) {
        const std::string partial = path + ".vemlo-batch-partial";
        const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            return discard("cannot write " + path + ": " + std::strerror(errno));
        written.push_back(path);
        // A channels file takes its header once, then the rows of every part.
        const bool header = with_header.count(path) != 0;
        int problem = header ? write_all(fd, channels_header, std::strlen(channels_header)) : 0;
        for (const std::string& part : sources[path])
            if (problem == 0)
                problem = append_file(fd, part, header);
        if (problem == 0 && ::fsync(fd) != 0)
            problem = errno;
        if (::close(fd) != 0 && problem == 0)
            problem = errno;
        if (problem != 0)
            return discard("cannot write " + path + ": " + std::strerror(problem));
    }
    for (const std::string& path : written)
        if (std::rename((path + ".vemlo-batch-partial").c_str(), path.c_str()) != 0)
            return discard("cannot write " + path + ": " + std::strerror(errno));
    return succeeded(std::vector<int>());
}

int report_merge(const Batch_work& work, const Template_file& control,
                 const std::vector<Chunk>& chunks, const Outcome<std::vector<int>>& merged) {
    if (!merged.ok()) {
        std::cout << "Error: " << merged.error << "; no results file was merged" << std::endl;
        return 1;
    }
    const std::vector<int>& failed = *merged.value;
    if (failed.empty()) {
        std::cout << "Merged the results of every chunk into " << control.output_dir << std::endl;
        return 0;
    }
    std::cout << failed.size() << " chunk(s) failed or did not run; nothing was merged:\n";
    for (int number : failed) {
        const Doy_time first = epoch_to_time(long(chunks[number - 1].first_day));
        const Doy_time last = epoch_to_time(long(chunks[number - 1].last_day));
        std::cout << "  chunk " << number << " (" << first.year << " " << first.doy << " to "
                  << last.year << " " << last.doy << "): log " << chunk_log(work, number) << "\n";
    }
    std::cout << "Run the same command again to run only these chunks and merge." << std::endl;
    return 1;
}

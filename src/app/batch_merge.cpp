#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "app/batch.h"
#include "dsp/time_convert.h"

namespace fs = std::filesystem;

std::vector<int> merge_chunks(const Batch_work& work, const Template_file& control,
                              const std::vector<Chunk>& chunks) {
    // A chunk whose results have gone since it was marked done runs again next time.
    const std::vector<std::string> names = chunk_event_names(control.event_names);
    std::vector<int> failed;
    std::error_code error;
    for (const Chunk& chunk : chunks) {
        bool complete = chunk_done(work, chunk.number);
        for (size_t e = 0; complete && e < names.size(); ++e)
            complete = fs::is_regular_file(chunk_output_dir(work, chunk.number) + names[e] + ".txt",
                                           error);
        if (!complete) {
            fs::remove(chunk_dir(work, chunk.number) + "done", error);
            failed.push_back(chunk.number);
        }
    }
    if (!failed.empty())
        return failed;

    // vemlo empties every results file first and then appends event after event, each day by
    // day; events that share a name therefore follow one another in the same file.
    std::map<std::string, std::vector<size_t>> events_of_file;
    std::vector<std::string> files;  // in order of first appearance
    for (size_t e = 0; e < control.event_names.size(); ++e) {
        const std::string path = control.output_dir + control.event_names[e] + ".txt";
        if (events_of_file[path].empty())
            files.push_back(path);
        events_of_file[path].push_back(e);
    }
    for (const std::string& path : files) {
        const std::string partial = path + ".vemlo-batch-partial";
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        for (size_t e : events_of_file[path])
            for (const Chunk& chunk : chunks) {
                std::ifstream in(chunk_output_dir(work, chunk.number) + names[e] + ".txt",
                                 std::ios::binary);
                if (in.peek() != std::ifstream::traits_type::eof())
                    out << in.rdbuf();
            }
        out.close();
        if (!out || std::rename(partial.c_str(), path.c_str()) != 0) {
            std::remove(partial.c_str());
            std::cout << "Error: cannot write " << path << std::endl;
            failed.assign(1, 0);
        }
    }
    return failed;
}

int report_merge(const Batch_work& work, const Template_file& control,
                 const std::vector<Chunk>& chunks, const std::vector<int>& failed) {
    if (failed.empty()) {
        std::cout << "Merged the results of every chunk into " << control.output_dir << std::endl;
        return 0;
    }
    if (failed.front() == 0)
        return 1;  // a results file could not be written; merge_chunks said which
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

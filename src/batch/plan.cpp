#include "batch/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "dsp/time_convert.h"

std::vector<Chunk> split_scan_period(const Template_file& control, int days_per_chunk) {
    std::vector<Chunk> chunks;
    const double first = time_to_epoch(control.start_year, control.start_day, 0.0);
    const double last = time_to_epoch(control.end_year, control.end_day, 0.0);
    if (days_per_chunk < 1 || !std::isfinite(first) || !std::isfinite(last) || last < first)
        return chunks;
    // The days vemlo scans: from the first day's epoch in steps of 86400 s while not past the
    // last day's.
    const int64_t start = static_cast<int64_t>(first);
    const int64_t day_count =
        static_cast<int64_t>(std::floor((last - double(start)) / 86400.0)) + 1;
    const int64_t step = int64_t(days_per_chunk) * 86400;
    for (int64_t day = 0; day < day_count && chunks.size() <= size_t(max_chunks);
         day += days_per_chunk) {
        Chunk chunk;
        chunk.number = int(chunks.size()) + 1;
        chunk.first_day = start + day * 86400;
        chunk.last_day = std::min(chunk.first_day + step, start + day_count * 86400) - 86400;
        chunks.push_back(chunk);
    }
    return chunks;
}

std::vector<std::string> chunk_event_names(const std::vector<std::string>& names) {
    std::multiset<std::string> counts(names.begin(), names.end());
    std::set<std::string> taken(names.begin(), names.end());
    std::vector<std::string> result = names;
    for (size_t e = 0; e < names.size(); ++e) {
        const std::string& name = names[e];
        if (counts.count(name) == 1 && name.find('/') == std::string::npos && name.size() <= 200)
            continue;
        std::string renamed = "event-" + std::to_string(e + 1);
        while (taken.count(renamed))
            renamed += "_";
        taken.insert(renamed);
        result[e] = renamed;
    }
    return result;
}

Template_file chunk_control(const Template_file& control, const Chunk& chunk,
                            const std::string& output_dir) {
    Template_file t = control;
    t.output_dir = output_dir;
    const Doy_time first = epoch_to_time(long(chunk.first_day));
    const Doy_time last = epoch_to_time(long(chunk.last_day));
    t.start_year = first.year;
    t.start_day = first.doy;
    t.end_year = last.year;
    t.end_day = last.doy;
    t.event_names = chunk_event_names(control.event_names);
    return t;
}

std::string plan_text(const std::string& base_dir, int days_per_chunk,
                      const std::string& control_text) {
    return "vemlo-batch plan\nbase " + base_dir + "\ndays " + std::to_string(days_per_chunk) +
           "\ncontrol file:\n" + control_text;
}

std::string chunk_identity(const std::string& plan, const std::string& chunk_control_text) {
    uint64_t hash = 14695981039346656037ull;
    for (const std::string* text : {&plan, &chunk_control_text}) {
        for (const unsigned char c : *text)
            hash = (hash ^ c) * 1099511628211ull;
        hash = (hash ^ 0xffu) * 1099511628211ull;  // keeps the two texts apart
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return digits;
}

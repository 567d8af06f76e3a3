#include "scan/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "acquire/get_data.h"
#include "scan/fft_correlation.h"

namespace {

constexpr long long mib = 1 << 20;

// Samples of a day at the control file's rate, as the scan computes them.
long long day_samples(const Template_file& control) {
    const float samples = static_cast<float>(control.sample_rate) * 86400.0f;
    return static_cast<long long>(std::clamp(samples, 0.0f, 2147483520.0f));
}

// The smallest limit in the files named file of the control group path below root and of the
// groups above it, or -1 when none holds a number ("max" means no limit).
long long smallest_limit(const std::string& root, std::string path, const std::string& file) {
    long long smallest = -1;
    for (bool more = true; more;) {
        std::ifstream in(root + (path == "/" ? std::string() : path) + "/" + file);
        long long limit = 0;
        if (in >> limit && limit > 0 && (smallest < 0 || limit < smallest))
            smallest = limit;
        const std::size_t slash = path.rfind('/');
        more = !path.empty() && path != "/" && slash != std::string::npos;
        path = more ? path.substr(0, slash) : path;
    }
    return smallest;
}

// The memory limit of this process's control group (as a Slurm job or a container sets it), or
// -1 when there is none or it cannot be read. Both cgroup versions are looked at.
long long cgroup_memory_limit() {
    std::ifstream groups("/proc/self/cgroup");
    long long smallest = -1;
    for (std::string line; std::getline(groups, line);) {
        long long limit = -1;
        if (line.rfind("0::", 0) == 0) {
            limit = smallest_limit("/sys/fs/cgroup", line.substr(3), "memory.max");
        } else if (line.find(":memory:") != std::string::npos) {
            limit = smallest_limit("/sys/fs/cgroup/memory", line.substr(line.find(":memory:") + 8),
                                   "memory.limit_in_bytes");
        }
        if (limit > 0 && (smallest < 0 || limit < smallest))
            smallest = limit;
    }
    return smallest;
}

}  // namespace

Outcome<long long> memory_budget_bytes() {
    const char* value = std::getenv("VEMLO_MEMORY_MB");
    if (value != nullptr) {
        const std::string text = value;
        long long mb = 0;
        bool valid = !text.empty() && text.size() <= 10;
        for (char c : text) {
            valid = valid && c >= '0' && c <= '9';
            mb = valid ? mb * 10 + (c - '0') : 0;
        }
        if (!valid || mb < 1 || mb > (1LL << 30)) {
            return failed<long long>(
                "Error: VEMLO_MEMORY_MB must be a whole number of megabytes from 1 to "
                "1073741824, not \"" +
                text + "\"");
        }
        return succeeded(mb * mib);
    }
    const long long pages = sysconf(_SC_PHYS_PAGES);
    const long long page_size = sysconf(_SC_PAGE_SIZE);
    const long long memory = pages > 0 && page_size > 0 ? pages * page_size : 8192 * mib;
    return succeeded(default_budget(memory, cgroup_memory_limit()));
}

long long default_budget(long long physical, long long limit) {
    // A batch job or a container may be held to less than the machine has.
    return (limit > 0 ? std::min(physical, limit) : physical) / 2;
}

long long stack_bytes(long long n) {
    // The MAD gathers the keys of one bucket per thread, then joins them: twice n keys when
    // every position falls in one bucket.
    return 4 * n * static_cast<long long>(sizeof(float));
}

long long conditioning_bytes(long long reading, long long trace) {
    return std::max(reading, reading / 2 + (trace + 400) * static_cast<long long>(sizeof(float)));
}

long long channel_length_bytes(long long trace, int m) {
    return day_spectra_bytes(m, std::max(trace - m + 1, 1LL), trace);
}

long long channel_trace_bytes(long long trace) {
    return trace * static_cast<long long>(sizeof(float));
}

long long template_bytes(int m, long long trace) {
    return template_spectrum_bytes(m, trace);
}

std::string budget_too_small(long long budget, long long need, const std::string& what) {
    return "Error: the memory budget of " + std::to_string(budget / mib) + " MB is too small for " +
           what + ", which needs about " + std::to_string((need + mib - 1) / mib) +
           " MB: set VEMLO_MEMORY_MB to at least that";
}

Status check_memory_budget(const Template_file& control, long long budget) {
    const long long n = day_samples(control);
    const int m = std::max(template_sample_count(control), 1);
    const std::size_t templates =
        std::min({control.pick_event.size(), control.network.size(), control.station.size(),
                  control.location.size(), control.channel.size()});
    // Day traces reach past midnight by at most a template length (moveouts come on top, and
    // the scan counts them).
    const long long trace = n + m;
    const long long day_work =
        std::max(stack_bytes(n), conditioning_bytes(reading_bytes(trace, 4), trace)) +
        workspace_bytes(m, trace);
    for (std::size_t k = 1; k <= control.event_names.size(); ++k) {
        std::set<std::string> channels;
        long long need = 0;
        for (std::size_t i = 0; i < templates; ++i) {
            if (control.pick_event[i] == static_cast<long long>(k)) {
                channels.insert(control.network[i] + "." + control.station[i] + "." +
                                control.location[i] + "." + control.channel[i]);
                need += template_bytes(m, trace);
            }
        }
        if (channels.empty()) {
            continue;
        }
        need += program_bytes + day_work +
                static_cast<long long>(channels.size()) *
                    (channel_length_bytes(trace, m) + channel_trace_bytes(trace));
        if (need > budget) {
            return failure(budget_too_small(
                budget, need,
                "event #" + std::to_string(k) + " (" + control.event_names[k - 1] + ")"));
        }
    }
    return success();
}

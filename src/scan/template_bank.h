// The templates of a run, built before the scan and read-only during it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Template_bank {
    int32_t template_samples = 0;               // M: samples in a template window
    std::vector<int32_t> moveout_samples;       // per template: delay after its event's first pick
    std::vector<std::vector<float>> waveforms;  // per template: get_data result as returned
    std::size_t failed_downloads = 0;  // day files whose download failed while it was built
};

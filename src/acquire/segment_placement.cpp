#include "acquire/segment_placement.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// 1 when x is 0 or not finite (a sample that may not be data), else 0.
int suspect(float x) {
    const float size = std::fabs(x);
    return !(size > 0.0f) | !(size < INFINITY);
}

// The first sample from `from` on that is 0 or not finite, or size when there is none. Whole
// blocks of samples are tested at once first (a loop of fixed length without branches, which
// the compiler runs several samples at a time), as nearly all samples are plain data.
int next_suspect(const std::vector<float>& samples, int from) {
    const int size = static_cast<int>(samples.size());
    constexpr int block = 64;
    int i = from;
    for (; i + block <= size; i += block) {
        const float* x = samples.data() + i;
        int count = 0;
        for (int k = 0; k < block; ++k)
            count += suspect(x[k]);
        if (count > 0)
            break;
    }
    for (; i < size; ++i) {
        if (suspect(samples[i]) != 0)
            return i;
    }
    return size;
}

// The stretches of samples that are data: neither non-finite (set to 0 here, counted in
// non_finite) nor inside a run of at least `shortest` exact zeros.
std::vector<Sample_span> data_stretches(std::vector<float>& samples, double shortest,
                                        long long& non_finite) {
    std::vector<Sample_span> data;
    const int size = static_cast<int>(samples.size());
    int first = 0;  // start of the current stretch of data
    for (int i = next_suspect(samples, 0); i < size; i = next_suspect(samples, i)) {
        if (!std::isfinite(samples[i])) {
            samples[i] = 0.0f;
            ++non_finite;
            if (first < i)
                data.push_back({first, i});
            first = ++i;
            continue;
        }
        int end = i + 1;  // the run of exact zeros from i
        while (end < size && samples[end] == 0.0f)
            ++end;
        if (end - i >= shortest) {
            if (first < i)
                data.push_back({first, i});
            first = end;
        }
        i = end;
    }
    if (first < size)
        data.push_back({first, size});
    return data;
}

// count samples at fs per second interpolated from segment, the first at start seconds after
// the segment's first sample. covered receives the output samples interpolated from it.
std::vector<float> resample(const Day_segment& segment, double start, int count, int fs,
                            Sample_span& covered) {
    // Half a sample more than count, so that rounding cannot cost the last one.
    std::vector<float> out =
        interp1(0.0, segment.samprate, segment.samples, start,
                start + (static_cast<double>(count) + 0.5) / fs, static_cast<double>(fs), &covered);
    out.resize(static_cast<std::size_t>(count), 0.0f);
    covered.end = std::min(covered.end, count);
    covered.first = std::min(covered.first, covered.end);
    return out;
}

// The output samples j in [0, count) whose times j / fs lie from t_first up to (not including)
// t_last: those a stretch of data from t_first to its last sample at t_last covers. A time
// within a millionth of a sample of the grid counts as on it.
Sample_span covered_range(double t_first, double t_last, int count, int fs) {
    auto index = [&](double t) {
        const double j = std::ceil(t * fs - 1e-6);
        return static_cast<int>(std::clamp(j, 0.0, static_cast<double>(count)));
    };
    const int first = index(t_first);
    return {first, std::max(first, index(t_last))};
}

// The parts of range that no span of placed holds.
std::vector<Sample_span> holes(const std::map<int, int>& placed, Sample_span range) {
    std::vector<Sample_span> result;
    auto it = placed.upper_bound(range.first);
    int from = range.first;
    if (it != placed.begin())
        from = std::max(from, std::prev(it)->second);
    for (; from < range.end; ++it) {
        if (it == placed.end() || it->first >= range.end) {
            result.push_back({from, range.end});
            break;
        }
        if (it->first > from)
            result.push_back({from, it->first});
        from = std::max(from, it->second);
    }
    return result;
}

}  // namespace

Day_segment judge_segment(Mseed_segment&& segment, long long& non_finite) {
    Day_segment day;
    day.starttime = segment.starttime;
    day.samprate = segment.samprate;
    day.samples = std::move(segment.samples);
    day.data = data_stretches(day.samples, std::max(2.0, segment.samprate), non_finite);
    return day;
}

Placed_window place_segments(const std::vector<Day_segment>& segments, double day_start,
                             double window_start, int count, int fs,
                             std::vector<Day_segment>* release) {
    Placed_window window;
    std::map<int, int> placed;  // first -> end of the spans of data placed so far
    for (std::size_t k = 0; k < segments.size(); ++k) {
        const Day_segment& segment = segments[k];
        // Where the segment's first sample lies, in seconds after output sample 0.
        const double t0 = (segment.starttime / 1000000 - day_start) - window_start;
        std::vector<Sample_span> ranges;
        for (const Sample_span& run : segment.data) {
            const Sample_span range =
                covered_range(t0 + run.first / segment.samprate,
                              t0 + (run.end - 1) / segment.samprate, count, fs);
            if (range.first < range.end)
                ranges.push_back(range);
        }
        if (!ranges.empty() && window.samples.empty()) {
            // The first segment with data in the window fills it in one go; whatever it does
            // not cover with its stretches of data is set to 0.
            Sample_span covered;
            window.samples = resample(segment, -t0, count, fs, covered);
            int next = 0;
            for (Sample_span range : ranges) {
                range.first = std::max(range.first, covered.first);
                range.end = std::min(range.end, covered.end);
                if (range.first >= range.end)
                    continue;
                std::fill(window.samples.begin() + next, window.samples.begin() + range.first,
                          0.0f);
                placed[range.first] = range.end;
                next = range.end;
            }
            std::fill(window.samples.begin() + next, window.samples.end(), 0.0f);
        } else {
            // Later segments fill only what is still empty.
            std::vector<Sample_span> added;
            for (const Sample_span& range : ranges) {
                for (const Sample_span& hole : holes(placed, range)) {
                    Sample_span covered;
                    const int size = hole.end - hole.first;
                    const std::vector<float> piece = resample(
                        segment, static_cast<double>(hole.first) / fs - t0, size, fs, covered);
                    std::copy(piece.begin() + covered.first, piece.begin() + covered.end,
                              window.samples.begin() + hole.first + covered.first);
                    if (covered.first < covered.end)
                        added.push_back({hole.first + covered.first, hole.first + covered.end});
                }
            }
            for (const Sample_span& span : added)
                placed[span.first] = span.end;
        }
        if (release != nullptr)
            std::vector<float>().swap((*release)[k].samples);
    }
    if (window.samples.empty())
        window.samples.assign(static_cast<std::size_t>(std::max(count, 0)), 0.0f);
    for (const auto& [first, end] : placed) {
        if (!window.data.empty() && window.data.back().end == first)
            window.data.back().end = end;
        else
            window.data.push_back({first, end});
    }
    return window;
}

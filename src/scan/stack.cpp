// Correlation of one template with one day, and its shifted addition into the event-day stack.
#include <algorithm>
#include <cfloat>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "scan/correlation_scan.h"

namespace {

// Correlation positions computed per call of the image library.
constexpr int block_positions = 1 << 18;

// The image library answers a template without variance with 1 at every position; such a
// template has no shape to match, so it is given a correlation of 0 everywhere instead. The
// variance bound is the one the library applies to decide that.
bool has_no_variance(const float* t, int m) {
    double sum = 0.0;
    for (int i = 0; i < m; ++i) {
        sum += t[i];
    }
    const double mean = sum / m;
    double squares = 0.0;
    for (int i = 0; i < m; ++i) {
        const double d = t[i] - mean;
        squares += d * d;
    }
    return squares / m < DBL_EPSILON;
}

}  // namespace

std::vector<float> correlate(const std::vector<float>& day, const std::vector<float>& templ,
                             int m_used, int l) {
    const int n = static_cast<int>(day.size());
    if (m_used < 1 || m_used > n || m_used > static_cast<int>(templ.size()) || l < 1) {
        return {};
    }
    const int full = n - m_used + 1;
    l = std::min(l, full);
    if (has_no_variance(templ.data(), m_used)) {
        return std::vector<float>(l, 0.0f);
    }
    // The matrices wrap the existing buffers, and the result matrix has the size and type the
    // library asks for, so it writes straight into the vector. The day is taken in blocks of
    // positions: the library's integral images of one whole-day call would take about eight
    // day-length float arrays. Each value depends only on its own window, so blocking changes
    // the memory taken, not the values (beyond rounding).
    std::vector<float> result(l);
    const cv::Mat templ_image(1, m_used, CV_32F, const_cast<float*>(templ.data()));
    for (int first = 0; first < l; first += block_positions) {
        const int count = std::min(block_positions, l - first);
        const cv::Mat day_image(1, count + m_used - 1, CV_32F,
                                const_cast<float*>(day.data()) + first);
        float* out = result.data() + first;
        cv::Mat result_image(1, count, CV_32F, out);
        cv::matchTemplate(day_image, templ_image, result_image, cv::TM_CCOEFF_NORMED);
        if (result_image.data != reinterpret_cast<uchar*>(out)) {
            // Not expected; keeps the values right should the library ever reallocate.
            result_image.copyTo(cv::Mat(1, count, CV_32F, out));
        }
    }
    return result;
}

void add_to_stack(const std::vector<float>& correlation, const std::vector<float>& day, int s,
                  std::vector<float>& stack, std::vector<int>& stack_count) {
    const long long l = static_cast<long long>(stack.size());
    const long long day_size = static_cast<long long>(day.size());
    if (s < 0) {
        return;
    }
    const long long end = std::min({l, static_cast<long long>(correlation.size()), day_size,
                                    static_cast<long long>(stack_count.size()) + s});
    for (long long p = s; p < end; ++p) {
        if (day[p] == 0.0f) {
            // Runs of zeros are gaps in the data; an isolated zero is a sample like any other.
            // A neighbour past the end of the day trace counts as a gap.
            const bool gap = p == 0 || p == l - 1 || day[p - 1] == 0.0f || p + 1 >= day_size ||
                             day[p + 1] == 0.0f;
            if (gap) {
                continue;
            }
        }
        stack[p - s] += correlation[p];
        stack_count[p - s] += 1;
    }
}

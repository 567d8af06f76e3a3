#include "dsp/bandpass.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>

#include "dsp/butterworth.h"

namespace {

struct Free_deleter {
    void operator()(double* p) const { std::free(p); }
};
using Coeffs = std::unique_ptr<double, Free_deleter>;

// One pass of the recursion y[i] = sum b[k] x[i-k] - sum a[k] y[i-k] in transposed direct
// form II. Each output is rounded to float when stored and fed back as that float. z has
// k_max + 1 entries and z[k_max] stays 0; the caller owns z so its state can carry over.
void filter_pass(const double* b, const double* a, int k_max, double* z,
                 const std::vector<float>& in, std::vector<float>& out) {
    const std::size_t count = in.size();
    for (std::size_t i = 0; i < count; ++i) {
        const double x = in[i];
        const float stored = static_cast<float>(b[0] * x + z[0]);
        out[i] = stored;
        const double y = stored;
        for (int k = 1; k <= k_max; ++k) {
            z[k - 1] = (b[k] * x + z[k]) - a[k] * y;
        }
    }
}

}  // namespace

void bandpass(std::vector<float>& data, double f_low, double f_high, int n, double fs) {
    if (n < 1) {
        throw std::invalid_argument("bandpass: filter order must be at least 1");
    }
    const int count = static_cast<int>(data.size());
    const double r = 1.0 / fs;
    const double w1 = f_low * r * 2.0;
    const double w2 = f_high * r * 2.0;

    Coeffs a(ComputeDenCoeffs(n, w1, w2));
    if (!a) {
        throw std::bad_alloc();
    }
    Coeffs b(ComputeNumCoeffs(n, w1, w2, a.get()));
    if (!b) {
        throw std::bad_alloc();
    }
    // Everything is allocated before the trace is touched, so a failure leaves it as it was.
    std::vector<float> work(data.size(), 0.0f);
    const int k_max = 2 * n;
    std::vector<double> z(static_cast<std::size_t>(k_max) + 1, 0.0);

    if (count > 0) {
        double sum = 0.0;
        for (float v : data) {
            sum += static_cast<double>(v);
        }
        const double mean = sum / count;
        for (float& v : data) {
            v = static_cast<float>(static_cast<double>(v) - mean);
        }
    }

    filter_pass(b.get(), a.get(), k_max, z.data(), data, work);
    std::reverse(work.begin(), work.end());
    // The backward pass starts from the state the forward pass left behind.
    filter_pass(b.get(), a.get(), k_max, z.data(), work, data);
    std::reverse(data.begin(), data.end());
}

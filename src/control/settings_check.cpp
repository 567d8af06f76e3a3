#include <cmath>
#include <cstdint>
#include <sstream>

#include "control/template_file.h"

namespace {

// Samples in a template window before truncation, as template creation forms it.
double template_product(const Template_file& control) {
    return static_cast<double>(static_cast<float>(control.sample_rate)) * control.template_length;
}

// Samples in one day at the run's rate, as the scan forms it.
double day_samples(const Template_file& control) {
    return std::trunc(static_cast<float>(control.sample_rate) * 86400.0f);
}

// The highest rate whose day still fits a 32-bit sample count.
constexpr int32_t max_sample_rate = 24855;

}  // namespace

int32_t template_sample_count(const Template_file& control) {
    // Clamped so that settings rejected by check_settings (which then never reach waveform
    // processing) still convert without overflow.
    const double samples = std::trunc(template_product(control));
    if (!(samples > INT32_MIN))
        return INT32_MIN;
    if (!(samples < INT32_MAX))
        return INT32_MAX;
    return static_cast<int32_t>(samples);
}

Status check_settings(const Template_file& control) {
    if (Status period = check_scan_period(control); !period.ok())
        return period;
    if (control.pick_year.empty())
        return success();
    if (Status lines = check_template_lines(control); !lines.ok())
        return lines;
    std::ostringstream error;
    error << "Error: ";
    const double nyquist = control.sample_rate / 2.0;
    if (control.sample_rate < 1 || control.sample_rate > max_sample_rate) {
        error << "sample_rate " << control.sample_rate << " is outside 1 to " << max_sample_rate
              << " samples per second";
    } else if (!(control.freq_low > 0.0 && control.freq_low < nyquist)) {
        error << "freq_low " << control.freq_low
              << " Hz must lie between 0 and half the sample rate (" << nyquist << " Hz)";
    } else if (!(control.freq_high > control.freq_low && control.freq_high < nyquist)) {
        error << "freq_high " << control.freq_high << " Hz must lie above freq_low ("
              << control.freq_low << " Hz) and below half the sample rate (" << nyquist << " Hz)";
    } else if (!(template_product(control) >= 2.0 &&
                 std::trunc(template_product(control)) < day_samples(control))) {
        error << "template_length " << control.template_length << " s gives "
              << std::trunc(template_product(control)) << " samples at " << control.sample_rate
              << " samples per second; a template needs at least 2 samples and fewer than one "
                 "day's";
    } else {
        return success();
    }
    return failure(error.str());
}

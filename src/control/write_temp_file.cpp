#include <fstream>
#include <limits>
#include <sstream>
#include <tuple>

#include "control/template_file_writer.h"

namespace {

auto members(const Template_file& t) {
    return std::tie(t.output_dir, t.start_year, t.start_day, t.start_reserved, t.end_year,
                    t.end_day, t.end_reserved, t.template_length, t.freq_low, t.freq_high,
                    t.mad_multiple, t.sample_rate, t.reserved_int_1, t.data_dir, t.reserved_text,
                    t.reserved_int_2, t.download_missing, t.keep_downloads, t.event_names,
                    t.pick_year, t.pick_day, t.pick_seconds, t.network, t.station, t.location,
                    t.channel, t.pick_reserved, t.pick_event);
}

// Whether the per-template sequences have one entry per template and the templates of event e
// follow those of event e - 1, every event number naming an existing event.
bool templates_well_formed(const Template_file& t) {
    const size_t n = t.pick_event.size();
    if (t.pick_year.size() != n || t.pick_day.size() != n || t.pick_seconds.size() != n ||
        t.network.size() != n || t.station.size() != n || t.location.size() != n ||
        t.channel.size() != n || t.pick_reserved.size() != n)
        return false;
    int32_t previous = 1;
    for (size_t i = 0; i < n; ++i) {
        const int32_t event = t.pick_event[i];
        if (event < previous || event < 1 || size_t(event) > t.event_names.size())
            return false;
        previous = event;
    }
    return true;
}

std::string text_of(const Template_file& t) {
    std::ostringstream out;
    // Enough digits that every double reads back to the same value.
    out.precision(std::numeric_limits<double>::max_digits10);
    out << "Output directory for the results files (one per event)\n"
        << t.output_dir << "\n\nFirst day to scan: year, day of year, reserved\n"
        << t.start_year << ' ' << t.start_day << ' ' << t.start_reserved
        << "\n\nLast day to scan: year, day of year, reserved\n"
        << t.end_year << ' ' << t.end_day << ' ' << t.end_reserved << "\n\nTemplate length (s)\n"
        << t.template_length << "\n\nBand-pass corners: low and high (Hz)\n"
        << t.freq_low << ' ' << t.freq_high
        << "\n\nDetection threshold (multiple of the stack's median absolute deviation)\n"
        << t.mad_multiple << "\n\nSample rate (samples per second)\n"
        << t.sample_rate << "\n\nReserved\n"
        << t.reserved_int_1 << "\n\nWaveform archive directory\n"
        << t.data_dir << "\n\nReserved\n"
        << t.reserved_text << "\n\nReserved\n"
        << t.reserved_int_2 << "\n\nDownload missing day files (1/0), keep downloads (1/0)\n"
        << t.download_missing << ' ' << t.keep_downloads
        << "\n\nTemplate events: a name line, one pick per line (year day seconds net sta loc cha "
           "reserved)\n";
    size_t i = 0;
    for (size_t e = 0; e < t.event_names.size(); ++e) {
        if (e > 0)
            out << "\n";
        out << t.event_names[e] << "\n";
        for (; i < t.pick_event.size() && size_t(t.pick_event[i]) == e + 1; ++i)
            out << t.pick_year[i] << ' ' << t.pick_day[i] << ' ' << t.pick_seconds[i] << ' '
                << t.network[i] << ' ' << t.station[i] << ' ' << t.location[i] << ' '
                << t.channel[i] << ' ' << t.pick_reserved[i] << "\n";
    }
    return out.str();
}

}  // namespace

bool same_record(const Template_file& a, const Template_file& b) {
    return members(a) == members(b);
}

Outcome<std::string> format_template_file(const Template_file& t) {
    const std::string refused = "Error: the control record cannot be written as a control file";
    if (!templates_well_formed(t))
        return failed<std::string>(refused + ": its templates are not numbered by event in order");
    // Whatever the reader would refuse or read differently (a line break shifting lines, a code
    // with a blank, a name it refuses) shows when the text is read back.
    std::string text = text_of(t);
    std::istringstream in(text);
    const Outcome<Template_file> back = parse_template_file(in);
    if (!back.ok()) {
        const std::string prefix = "Error: ";
        const bool prefixed = back.error.rfind(prefix, 0) == 0;
        return failed<std::string>(refused + " (" +
                                   back.error.substr(prefixed ? prefix.size() : 0) + ")");
    }
    if (!same_record(*back.value, t))
        return failed<std::string>(refused + ": it would not read back unchanged");
    return succeeded(std::move(text));
}

Status write_template_file(const Template_file& t, const std::string& path) {
    const Outcome<std::string> text = format_template_file(t);
    if (!text.ok())
        return failure(text.error + " (" + path + ")");
    std::ofstream file(path, std::ios::out | std::ios::trunc | std::ios::binary);
    file << *text.value;
    file.close();  // buffered text reaches the file here: a full disk shows now
    if (file.fail())
        return failure("Error: cannot write control file " + path);
    return success();
}

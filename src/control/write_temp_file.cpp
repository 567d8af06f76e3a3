#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include "control/template_file_writer.h"

namespace {

bool has_line_break(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

bool is_word(const std::string& text) {
    return !text.empty() && text.find_first_of(" \t\r\n\v\f") == std::string::npos;
}

bool is_directory(const std::string& dir) {
    return !dir.empty() && dir.back() == '/';
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
        if (!is_word(t.network[i]) || !is_word(t.station[i]) || !is_word(t.location[i]) ||
            !is_word(t.channel[i]))
            return false;
        previous = event;
    }
    return true;
}

}  // namespace

std::string format_template_file(const Template_file& t) {
    // Whitespace in output_dir would be cut at the first word; line breaks would shift lines.
    if (!is_word(t.output_dir) || !is_directory(t.output_dir) || !is_directory(t.data_dir) ||
        has_line_break(t.data_dir) || has_line_break(t.reserved_text) || !templates_well_formed(t))
        return "";
    for (const std::string& name : t.event_names)
        if (has_line_break(name))
            return "";

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

std::string write_template_file(const Template_file& t, const std::string& path) {
    const std::string text = format_template_file(t);
    if (text.empty())
        return "Error: the control record cannot be written as a control file: " + path;
    std::ofstream file(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!file || !(file << text) || !file.flush())
        return "Error: cannot write control file " + path;
    return "";
}

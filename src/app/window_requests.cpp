// Conditioned windows on request: templates and stretches of day traces.
#include "app/window_requests.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <utility>

#include "acquire/get_data.h"
#include "app/template_creation.h"
#include "dsp/time_convert.h"

namespace {

// The fields of a tab-separated line (empty fields kept).
std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
        fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from));
    return fields;
}

// text as a finite number when it is one whole.
bool read_number(const std::string& text, double& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

std::string codes_of(const Template_file& c, std::size_t i) {
    return c.network[i] + "." + c.station[i] + "." + c.location[i] + "." + c.channel[i];
}

bool same_channel(const Template_file& c, std::size_t i, const std::vector<std::string>& codes) {
    return c.network[i] == codes[0] && c.station[i] == codes[1] && c.location[i] == codes[2] &&
           c.channel[i] == codes[3];
}

Outcome<Window_request> template_request(const std::vector<std::string>& f,
                                         const Template_file& c) {
    std::size_t event = 0;
    while (event < c.event_names.size() && c.event_names[event] != f[1])
        ++event;
    if (event == c.event_names.size())
        return failed<Window_request>("the control file has no event '" + f[1] + "'");
    double k = 0;
    if (!read_number(f[2], k) || k < 1 || k != std::floor(k))
        return failed<Window_request>("'" + f[2] + "' is not a template number (1, 2, ...)");
    long long seen = 0;
    for (std::size_t i = 0; i < c.pick_event.size(); ++i) {
        if (c.pick_event[i] != static_cast<int32_t>(event + 1) || ++seen < k)
            continue;
        if (!same_channel(c, i, {f.begin() + 3, f.end()}))
            return failed<Window_request>("template " + f[2] + " of event '" + f[1] + "' is " +
                                          codes_of(c, i) + ", not " + f[3] + "." + f[4] + "." +
                                          f[5] + "." + f[6]);
        Window_request request;
        request.is_template = true;
        request.template_index = i;
        return succeeded(request);
    }
    return failed<Window_request>("event '" + f[1] + "' has " + std::to_string(seen) +
                                  " template(s), not " + f[2]);
}

Outcome<Window_request> day_window_request(const std::vector<std::string>& f,
                                           const Template_file& c) {
    Window_request request;
    const std::vector<std::string> codes(f.begin() + 1, f.begin() + 5);
    while (request.channel_index < c.pick_event.size() &&
           !same_channel(c, request.channel_index, codes))
        ++request.channel_index;
    if (request.channel_index == c.pick_event.size())
        return failed<Window_request>("no template of the control file is of channel " + codes[0] +
                                      "." + codes[1] + "." + codes[2] + "." + codes[3]);
    double start = 0, seconds = 0;
    // Days of the years 1 to 9999, as the control file allows.
    if (!read_number(f[5], start) || start < time_to_epoch(1, 1, 0.0) ||
        start >= time_to_epoch(10000, 1, 0.0))
        return failed<Window_request>("'" + f[5] + "' is not a time in epoch seconds");
    if (!read_number(f[6], seconds) || seconds <= 0 || seconds > 86400)
        return failed<Window_request>("'" + f[6] + "' is not a length of 0 to 86400 seconds");
    request.first_sample = std::llround(start * c.sample_rate);
    request.samples = std::max(1LL, std::llround(seconds * c.sample_rate));
    return succeeded(request);
}

// Day number (days since 1970) and sample within it of a sample counted since 1970.
std::pair<long long, long long> day_and_sample(long long sample, long long per_day) {
    long long day = sample / per_day;
    if (sample % per_day < 0)
        --day;
    return {day, sample - day * per_day};
}

// One answer line of samples whose first lies at first (epoch seconds).
std::string data_line(double first, int rate, const float* samples, std::size_t count) {
    std::string line;
    char number[40];
    std::snprintf(number, sizeof number, "data\t%.6f\t%d\t", first, rate);
    line += number;
    for (std::size_t j = 0; j < count; ++j) {
        std::snprintf(number, sizeof number, j ? " %.9g" : "%.9g", samples[j]);
        line += number;
    }
    return line;
}

// The template of pick i as template creation makes it.
std::string template_answer(const Template_file& c, std::size_t i, std::ostream& log) {
    const float start = static_cast<float>(c.pick_seconds[i]);
    const int length = template_sample_count(c);
    const std::vector<float> samples = template_samples(condition_window(
        read_day(c.pick_year[i], c.pick_day[i], c.network[i], c.station[i], c.location[i],
                 c.channel[i], c, log, window_reach(start, length, c.sample_rate)),
        c.pick_year[i], c.pick_day[i], start, length, c, log));
    if (is_not_found(samples))
        return "none\tno data for " + codes_of(c, i) + " on " + std::to_string(c.pick_year[i]) +
               " " + std::to_string(c.pick_day[i]);
    // The first sample lies at the pick time narrowed to single precision.
    return data_line(time_to_epoch(c.pick_year[i], c.pick_day[i], start), c.sample_rate,
                     samples.data(), samples.size());
}

}  // namespace

Outcome<std::vector<Window_request>> read_window_requests(std::istream& in,
                                                          const Template_file& control) {
    std::vector<Window_request> requests;
    std::string line;
    for (long number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> f = fields_of(line);
        Outcome<Window_request> request;
        if (f.size() == 7 && f[0] == "template")
            request = template_request(f, control);
        else if (f.size() == 7 && f[0] == "window")
            request = day_window_request(f, control);
        else
            request = failed<Window_request>(
                "not 'template EVENT K NET STA LOC CHA' or 'window NET STA LOC CHA START "
                "SECONDS' (fields separated by tabs)");
        if (!request.ok())
            return failed<std::vector<Window_request>>("line " + std::to_string(number) + ": " +
                                                       request.error);
        requests.push_back(*request.value);
    }
    return succeeded(std::move(requests));
}

void answer_window_requests(const std::vector<Window_request>& requests,
                            const Template_file& control, std::ostream& out, std::ostream& log) {
    const int rate = control.sample_rate;
    const long long per_day = 86400LL * rate;
    std::vector<std::string> answers(requests.size());
    std::map<std::size_t, std::string> templates;
    // Windows by channel (its first template's index) and day, so that each is conditioned once.
    std::map<std::pair<std::size_t, long long>, std::vector<std::size_t>> days;
    for (std::size_t r = 0; r < requests.size(); ++r) {
        const Window_request& q = requests[r];
        if (q.is_template) {
            auto found = templates.find(q.template_index);
            if (found == templates.end())
                found =
                    templates
                        .emplace(q.template_index, template_answer(control, q.template_index, log))
                        .first;
            answers[r] = found->second;
        } else {
            days[{q.channel_index, day_and_sample(q.first_sample, per_day).first}].push_back(r);
        }
    }
    // The scan reads each channel's day on into the next day's file as far as the channel's
    // templates reach (largest moveout plus the template length), and conditions it as a whole.
    const std::vector<int32_t> moveouts = compute_moveouts(control, static_cast<float>(rate));
    const long long m = std::max(template_sample_count(control), 1);
    for (const auto& [key, members] : days) {
        const auto [i, day] = key;
        long long past_midnight = 0;
        for (std::size_t j = 0; j < moveouts.size(); ++j)
            if (codes_of(control, j) == codes_of(control, i))
                past_midnight = std::max(past_midnight, std::max(moveouts[j], 0) + m - 1);
        const int length = static_cast<int>(per_day + std::min(past_midnight, per_day));
        const Doy_time date = epoch_to_time(static_cast<long>(day * 86400));
        const std::vector<float> trace =
            condition_window(read_day(date.year, date.doy, control.network[i], control.station[i],
                                      control.location[i], control.channel[i], control, log,
                                      window_reach(0.0f, length, rate)),
                             date.year, date.doy, 0.0f, length, control, log)
                .samples;
        for (std::size_t r : members) {
            if (is_not_found(trace)) {
                answers[r] = "none\tno data for " + codes_of(control, i) + " on " +
                             std::to_string(date.year) + " " + std::to_string(date.doy);
                continue;
            }
            const long long from = day_and_sample(requests[r].first_sample, per_day).second;
            const long long to = std::min<long long>(from + requests[r].samples,
                                                     static_cast<long long>(trace.size()));
            answers[r] =
                data_line(static_cast<double>(requests[r].first_sample) / rate, rate,
                          trace.data() + from, static_cast<std::size_t>(std::max(0LL, to - from)));
        }
    }
    for (const std::string& answer : answers)
        out << answer << '\n';
}

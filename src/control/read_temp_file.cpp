#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <type_traits>

#include "control/quoted.h"
#include "control/run_record.h"
#include "control/template_file.h"

namespace {

// Lines 1 to 37 hold the settings; the template section starts on line 38.
constexpr size_t settings_lines = 37;

constexpr char blanks[] = " \t\v\f\r";

// Removes one trailing carriage return, so CR LF files read like LF files.
std::string without_cr(std::string line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

bool is_blank(const std::string& line) {
    return line.find_first_not_of(blanks) == std::string::npos;
}

// A line between events: blank, or of a single character.
bool is_separator(const std::string& line) {
    return line.size() <= 1 || is_blank(line);
}

std::string trimmed(const std::string& line) {
    const size_t first = line.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "";
    return line.substr(first, line.find_last_not_of(blanks) - first + 1);
}

std::vector<std::string> words_of(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

std::string at_line(size_t number) {
    return "Error: line " + std::to_string(number) + " of the control file: ";
}

// Reads word as a whole into value (left unchanged when the word is not one number).
template <typename T>
bool read_number(const std::string& word, T& value) {
    std::istringstream in(word);
    T read{};
    if (!(in >> read) || in.peek() != std::char_traits<char>::eof())
        return false;
    value = read;
    return true;
}

// Whether word begins like a number: a digit, a sign or a decimal point.
bool looks_numeric(const std::string& word) {
    return !word.empty() && std::string("0123456789+-.").find(word[0]) != std::string::npos;
}

// Why word cannot be a value of type T.
template <typename T>
std::string not_a_number(const std::string& word) {
    double number = 0.0;
    if (std::is_integral_v<T> && read_number(word, number))
        return quoted(word, '\'') +
               (std::floor(number) == number ? " is out of range" : " is not a whole number");
    return quoted(word, '\'') + " is not a number";
}

// The values of one numeric settings line, read one after the other; the first failure is
// kept and the later reads are skipped.
struct Value_line {
    size_t number;
    std::vector<std::string> words;
    size_t next = 0;
    Status status;

    Value_line(size_t line_number, const std::string& text)
        : number(line_number), words(words_of(text)) {}

    // Reads the next word into member. An optional value is absent (member stays 0) when the
    // line has no word left or its word does not begin like a number.
    template <typename T>
    Value_line& value(T& member, const char* what, bool optional = false) {
        if (!status.ok())
            return *this;
        if (next >= words.size() || (optional && !looks_numeric(words[next]))) {
            next = words.size();
            if (!optional)
                status = failure(at_line(number) + "the " + what + " is missing");
        } else if (!read_number(words[next], member)) {
            status = failure(at_line(number) + not_a_number<T>(words[next]));
        } else {
            ++next;
        }
        return *this;
    }
};

// A reserved line: the values that can be read are kept, as they mean nothing to the run.
int32_t reserved_value(const std::string& line) {
    int32_t value = 0;
    std::istringstream(line) >> value;
    return value;
}

// A directory line: taken whole, blanks around it trimmed, ending in '/'.
Status read_directory(size_t number, const std::string& line, const char* what,
                      std::string& member) {
    member = trimmed(line);
    if (member.empty())
        return failure(at_line(number) + "the " + std::string(what) + " is missing");
    if (member.back() != '/')
        member += '/';
    return success();
}

Status read_settings(const std::vector<std::string>& lines, Template_file& t) {
    const auto line = [&](size_t n) { return n <= lines.size() ? lines[n - 1] : std::string(); };
    for (Status status : {read_directory(2, line(2), "results directory", t.output_dir),
                          read_directory(26, line(26), "archive directory", t.data_dir)})
        if (!status.ok())
            return status;
    t.reserved_int_1 = reserved_value(line(23));
    t.reserved_text = line(29);
    t.reserved_int_2 = reserved_value(line(32));
    const Value_line values[] = {
        Value_line(5, line(5))
            .value(t.start_year, "year of the first day to scan")
            .value(t.start_day, "day of year of the first day to scan")
            .value(t.start_reserved, "reserved number", true),
        Value_line(8, line(8))
            .value(t.end_year, "year of the last day to scan")
            .value(t.end_day, "day of year of the last day to scan")
            .value(t.end_reserved, "reserved number", true),
        Value_line(11, line(11)).value(t.template_length, "template length"),
        Value_line(14, line(14))
            .value(t.freq_low, "low band-pass corner")
            .value(t.freq_high, "high band-pass corner"),
        Value_line(17, line(17)).value(t.mad_multiple, "MAD multiple"),
        Value_line(20, line(20)).value(t.sample_rate, "sample rate"),
        Value_line(35, line(35))
            .value(t.download_missing, "download switch")
            .value(t.keep_downloads, "keep-downloads switch", true)};
    for (const Value_line& values_of_line : values)
        if (!values_of_line.status.ok())
            return values_of_line.status;
    return success();
}

// One pick read from a line: year, day, seconds, network, station, location, channel, and a
// reserved integer (required when reserved_required, else optional), then free words.
struct Pick {
    int32_t year = 0, day = 0, reserved = 0;
    double seconds = 0.0;
    std::string network, station, location, channel;
};

bool read_pick(const std::string& line, bool reserved_required, Pick& pick) {
    const std::vector<std::string> words = words_of(line);
    if (words.size() < 7 || !read_number(words[0], pick.year) || !read_number(words[1], pick.day) ||
        !read_number(words[2], pick.seconds))
        return false;
    pick.network = words[3];
    pick.station = words[4];
    pick.location = words[5];
    pick.channel = words[6];
    if (words.size() > 7 && (reserved_required || looks_numeric(words[7])))
        return read_number(words[7], pick.reserved);
    return !reserved_required;
}

// Checks that name can stand for a results file name (name + ".txt" in the results directory).
Status check_event_name(size_t number, const std::string& name) {
    for (const unsigned char c : name)
        if (c == '/' || c < 0x20 || c == 0x7f)
            return failure(at_line(number) + "the event name " + quoted(name) +
                           " becomes a file name and must not hold '/' or control characters");
    if (name + ".txt" == run_record_file)
        return failure(at_line(number) + "the event name " + quoted(name) +
                       " is taken: its results file would be the run record " + run_record_file);
    return success();
}

}  // namespace

Outcome<Template_file> parse_template_file(std::istream& in) {
    std::vector<std::string> lines;  // lines[k] is line k + 1
    for (std::string line; std::getline(in, line);)
        lines.push_back(without_cr(line));
    Template_file t;
    if (Status status = read_settings(lines, t); !status.ok())
        return failed<Template_file>(*status.error);

    // Event blocks: a name line, pick lines, a separator line.
    size_t k = settings_lines;
    while (k < lines.size() && !std::all_of(lines.begin() + k, lines.end(), is_blank)) {
        const std::string& name = lines[k];
        const bool has_picks = k + 1 < lines.size() && !is_separator(lines[k + 1]);
        Pick pick;
        if (is_blank(name) && has_picks)
            return failed<Template_file>(
                at_line(k + 1) +
                "the event name is empty (one blank line ends an event; the next line names the "
                "next event)");
        if (read_pick(name, true, pick))
            return failed<Template_file>(
                at_line(k + 1) + quoted(name, '\'') +
                " reads as a pick where an event name belongs: a blank line ends an event");
        if (Status status = check_event_name(k + 1, name); !status.ok())
            return failed<Template_file>(*status.error);
        t.event_names.push_back(name);
        const auto event = static_cast<int32_t>(t.event_names.size());
        for (++k; k < lines.size() && !is_separator(lines[k]); ++k) {
            if (!read_pick(lines[k], false, pick))
                return failed<Template_file>(
                    at_line(k + 1) + "cannot read a pick from " + quoted(lines[k], '\'') +
                    " (year, day of year, seconds, network, station, location, channel, reserved "
                    "number)");
            t.pick_year.push_back(pick.year);
            t.pick_day.push_back(pick.day);
            t.pick_seconds.push_back(pick.seconds);
            t.network.push_back(pick.network);
            t.station.push_back(pick.station);
            t.location.push_back(pick.location);
            t.channel.push_back(pick.channel);
            t.pick_reserved.push_back(pick.reserved);
            t.pick_event.push_back(event);
        }
        ++k;  // past the separator
    }
    return succeeded(std::move(t));
}

Outcome<std::string> read_control_text(const std::string& filename) {
    // A directory opens as a stream on Linux and reads as an empty file; it is no control file.
    struct stat status;
    const bool directory = stat(filename.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    std::ifstream file(filename, std::ios::binary);
    std::string text;
    if (!directory && file)
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (directory || !file || file.bad())
        return failed<std::string>("Error: Unable to open template file: " + filename);
    return succeeded(std::move(text));
}

Outcome<Template_file> read_temp_file(const std::string& filename) {
    const Outcome<std::string> text = read_control_text(filename);
    if (!text.ok())
        return failed<Template_file>(text.error);
    std::istringstream in(*text.value);
    return parse_template_file(in);
}

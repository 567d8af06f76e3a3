// Reading control files: settings, event blocks, what is refused and with which message.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "control/template_file.h"
#include "support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;
using Changes = std::vector<std::pair<int, std::string>>;

// Lines 1-37 of a control file, then the template section; changes are {line number, text}.
Outcome<Template_file> read(const Changes& changes, const Lines& section,
                            const std::string& end = "\n") {
    Lines lines(37, "label");
    const Lines values = {"/data/results/", "2013 40 0", "2013 42 0", "10", "2 8", "8", "100", "0",
                          "/data/archive",  "any text",  "0",         "1 1"};
    for (size_t k = 0; k < values.size(); ++k)
        lines[k == 0 ? 1 : 3 * k + 1] = values[k];
    lines.insert(lines.end(), section.begin(), section.end());
    for (const auto& [line, text] : changes)
        lines.at(line - 1) = text;
    std::string text;
    for (const std::string& line : lines)
        text += line + end;
    std::istringstream in(text);
    return parse_template_file(in);
}

Template_file parse(const Changes& changes, const Lines& section, const std::string& end = "\n") {
    Outcome<Template_file> t = read(changes, section, end);
    EXPECT_TRUE(t.ok()) << t.error;
    return t.ok() ? *t.value : Template_file();
}

// The message of a refused file, or of a refused setting when settings is set.
std::string refusal(const Changes& changes, const Lines& section, bool settings = false) {
    const Outcome<Template_file> t = read(changes, section);
    if (!settings)
        return t.ok() ? "" : t.error;
    const Status status = check_settings(parse(changes, section));
    return status.ok() ? "" : *status.error;
}

const Lines two_events = {
    "quake_a", "2013 41 3600.5 XX ABC 00 HHZ 0",          "2013 41 3602.25 XX ABD 00 HHZ 0", "",
    "quake_b", "2013 41 7200 XX ABC 00 HHZ 0 extra words"};
const std::string pick = "2013 41 1 XX S1 00 HHZ 0";

}  // namespace

TEST(ControlFile, SettingsAndEventsLfOrCrLfWithWholeDirectoryLines) {
    for (const std::string end : {"\n", "\r\n"}) {
        const Template_file t =
            parse({{2, "  my results \t"}, {26, " my archive "}}, two_events, end);
        EXPECT_EQ(t.output_dir + "|" + t.data_dir + "|" + t.reserved_text,
                  "my results/|my archive/|any text");
        EXPECT_EQ(std::vector<double>({double(t.start_year), double(t.start_day), double(t.end_day),
                                       double(t.sample_rate), double(t.keep_downloads),
                                       t.template_length, t.freq_low, t.freq_high}),
                  std::vector<double>({2013, 40, 42, 100, 1, 10, 2, 8}));
        EXPECT_EQ(t.event_names, Lines({"quake_a", "quake_b"}));
        EXPECT_EQ(t.pick_seconds, std::vector<double>({3600.5, 3602.25, 7200}));
        EXPECT_EQ(template_line_numbers(t), std::vector<long>({39, 40, 43}));
    }
}

TEST(ControlFile, NumbersNotesAndRefusedValues) {
    // Words after values are notes; an optional value is absent when it does not begin like a
    // number; reserved lines are not checked.
    const Template_file t = parse(
        {{5, "2013 40 first day"}, {14, "1.5e1 20 #"}, {20, "250 sps"}, {23, "9x"}, {35, "1 no"}},
        {});
    EXPECT_EQ(std::vector<double>({double(t.start_reserved), double(t.sample_rate),
                                   double(t.reserved_int_1), double(t.keep_downloads), t.freq_low}),
              std::vector<double>({0, 250, 9, 0, 15}));
    const std::vector<std::tuple<int, std::string, std::string>> refused = {
        {2, " \r", "line 2 of the control file: the results directory is missing"},
        {11, "eight", "line 11 of the control file: 'eight' is not a number"},
        {20, "100.5", "line 20 of the control file: '100.5' is not a whole number"},
        {14, "2", "line 14 of the control file: the high band-pass corner is missing"},
        {17, "nan", "line 17 of the control file: 'nan' is not a number"},
        {5, "2013 40 0x", "line 5 of the control file: '0x' is not a number"},
        {8, "2013 99999999999 0", "line 8 of the control file: '99999999999' is out of range"},
    };
    for (const auto& [line, text, message] : refused)
        EXPECT_EQ(refusal({{line, text}}, two_events), "Error: " + message) << text;
}

TEST(ControlFile, EventBlocksNamesAndPicks) {
    // A lone character separates blocks; an event may have no templates; end blanks add none.
    Template_file t = parse({}, {"a", pick, " ", "b", "x", "c", pick, pick, "", "", " \t", ""});
    EXPECT_EQ(t.event_names, Lines({"a", "b", "c"}));
    EXPECT_EQ(template_line_numbers(t), std::vector<long>({39, 44, 45}));
    // The reserved number is optional, notes may follow a pick, names keep their spaces.
    t = parse({},
              {"2019-07-06 03:19:53 M7.1", "2013 41 1 XX S1 -- HHZ", "2013 41 2 XX S2 00 HHZ #"});
    EXPECT_EQ(t.event_names, Lines({"2019-07-06 03:19:53 M7.1"}));
    EXPECT_EQ(t.location, Lines({"--", "00"}));

    const std::vector<std::pair<Lines, std::string>> refused = {
        {{"quake", pick, "", "2013 41 2 XX S2 00 HHZ 0", pick},
         "line 41 of the control file: '2013 41 2 XX S2 00 HHZ 0' reads as a pick where an "
         "event name belongs: a blank line ends an event"},
        {{"a", pick, "", "", "quake_b", pick},
         "line 41 of the control file: the event name is empty (one blank line ends an event;"},
        {{"2019/07/06 03:19:53", pick},
         "line 38 of the control file: the event name \"2019/07/06 03:19:53\" becomes a file"},
        {{"vemlo-run", pick}, "line 38 of the control file: the event name \"vemlo-run\" is taken"},
        {{"a", "2013 41 abc XX S1 00 HHZ 0"},
         "line 39 of the control file: cannot read a pick from '2013 41 abc XX S1 00 HHZ 0' "
         "(year, day of year, seconds, network, station, location, channel, reserved number)"},
        {{"a", "2013 41 1 XX S1 00 HHZ 0.5"}, "line 39 of the control file: cannot read a pick"},
    };
    for (const auto& [section, message] : refused) {
        const std::string error = refusal({}, section);
        EXPECT_EQ(error.rfind("Error: " + message, 0), 0u) << error;
    }
}

TEST(ControlFile, UnreadableFilesAndUnusableSettings) {
    Temp_dir dir;
    for (const std::string& path : {dir.path + "/absent.txt", dir.path})
        EXPECT_EQ(read_temp_file(path).error, "Error: Unable to open template file: " + path);

    EXPECT_EQ(refusal({}, two_events, true), "");
    EXPECT_EQ(template_sample_count(parse({{11, "2.345"}}, {})), 234);  // truncated, not rounded
    const std::vector<std::tuple<int, std::string, std::string>> bad = {
        {20, "0", "sample_rate 0 is outside"},
        {14, "0 8", "freq_low 0 Hz"},
        {14, "2 50", "freq_high 50 Hz"},
        {14, "2 2", "freq_high 2 Hz"},
        {11, "0.015", "template_length 0.015 s gives 1 "},
        {5, "-2147483648 1 0", "line 5 of the control file: the first day to scan, day 1 "},
        {8, "2013 39 0",
         "line 8 of the control file: the last day to scan, day 39 of year 2013, is before the "
         "first day, day 40 of year 2013 (line 5)"},
        {40, "2013 41 1 XX A\x1b[2J 00 HHZ 0",
         "line 40 of the control file: station code \"A\\x1B[2J\" must not hold '/'"},
        {39, "-1 41 1 XX ABC 00 HHZ 0",
         "line 39 of the control file: the pick's day 41 of year -1"},
    };
    for (const auto& [line, text, message] : bad) {
        const std::string error = refusal({{line, text}}, two_events, true);
        EXPECT_EQ(error.rfind("Error: " + message, 0), 0u) << error;
    }
    // Calendar limits and odd codes inside the archive pass; day 366 carries into the next year;
    // without templates only the days to scan are checked, and only when an event exists.
    const Lines odd_codes = {"q", "9999 365 1 X.Y .ABC.. 00 H;H 0", "1 1 1 XX A B C 0"};
    EXPECT_EQ(refusal({{5, "1 1 0"}, {8, "9999 365 0"}}, odd_codes, true), "");
    EXPECT_EQ(refusal({{5, "2013 366 0"}, {8, "2014 1 0"}}, odd_codes, true), "");
    EXPECT_NE(refusal({{8, "10000 1 0"}}, {"lonely"}, true), "");
    EXPECT_EQ(refusal({{8, "10000 1 0"}}, {}, true), "");
}

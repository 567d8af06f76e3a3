// Reading control files: positional settings, the template section and its separators; the
// settings check.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "control/template_file.h"
#include "support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

// Lines 1-37 of a control file, then the template section; lines replaced through changes
// {line number, text}.
Template_file parse(const std::vector<std::pair<int, std::string>>& changes, const Lines& section,
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

const Lines two_events = {
    "quake_a", "2013 41 3600.5 XX ABC 00 HHZ 0",          "2013 41 3602.25 XX ABD 00 HHZ 0", "",
    "quake_b", "2013 41 7200 XX ABC 00 HHZ 0 extra words"};

}  // namespace

TEST(ControlFile, SettingsAndEventsLfOrCrLf) {
    for (const std::string end : {"\n", "\r\n"}) {
        const Template_file t = parse({}, two_events, end);
        EXPECT_EQ(t.output_dir + t.data_dir + t.reserved_text,
                  "/data/results//data/archive/any text");
        EXPECT_EQ(std::vector<int>({t.start_year, t.start_day, t.end_day, t.sample_rate,
                                    t.download_missing, t.keep_downloads}),
                  std::vector<int>({2013, 40, 42, 100, 1, 1}));
        EXPECT_EQ(std::vector<double>({t.template_length, t.freq_low, t.freq_high}),
                  std::vector<double>({10, 2, 8}));
        EXPECT_EQ(t.event_names, Lines({"quake_a", "quake_b"}));
        EXPECT_EQ(t.pick_event, std::vector<int32_t>({1, 1, 2}));
        EXPECT_EQ(t.pick_seconds, std::vector<double>({3600.5, 3602.25, 7200}));
        EXPECT_EQ(t.station, Lines({"ABC", "ABD", "ABC"}));
        EXPECT_EQ(t.channel[2], "HHZ");
        EXPECT_EQ(template_line_numbers(t), std::vector<long>({39, 40, 43}));
    }
}

TEST(ControlFile, DirectoriesBadNumbersAndShortFiles) {
    Template_file t = parse({{2, "results more words"}, {26, "my archive"}}, {});
    EXPECT_EQ(t.output_dir, "results");  // first word; the slash went to the end of the line
    EXPECT_EQ(t.data_dir, "my archive/");
    EXPECT_EQ(parse({{2, "out"}}, {}).output_dir, "out/");
    // A value that cannot be read leaves 0 and stops its line; trailing text is ignored.
    t = parse({{5, "2013 x 7"}, {14, "1.5e1 20 # corners"}, {20, "fast"}, {35, "1 no"}}, {});
    EXPECT_EQ(std::vector<int>({t.start_year, t.start_day, t.start_reserved, t.sample_rate,
                                t.download_missing, t.keep_downloads}),
              std::vector<int>({2013, 0, 0, 0, 1, 0}));
    EXPECT_EQ(std::vector<double>({t.freq_low, t.freq_high}), std::vector<double>({15, 20}));
    // Lines past the end of a short file read as empty.
    std::istringstream short_file("a\nout\n\n\n2013 40\n");
    t = parse_template_file(short_file);
    EXPECT_EQ(std::vector<int>({t.start_year, t.start_day, t.end_year, t.sample_rate}),
              std::vector<int>({2013, 40, 0, 0}));
    EXPECT_EQ(t.data_dir, "/");
    EXPECT_TRUE(t.event_names.empty());
}

TEST(ControlFile, SeparatorsAndEventNumbering) {
    const std::string pick = "2013 41 1 XX S1 00 HHZ 0";
    // A lone character separates blocks like a blank line; an event may have no templates.
    Template_file t = parse({}, {"a", pick, " ", "b", "x", "c", pick, pick});
    EXPECT_EQ(t.event_names, Lines({"a", "b", "c"}));
    EXPECT_EQ(t.pick_event, std::vector<int32_t>({1, 3, 3}));
    EXPECT_EQ(template_line_numbers(t), std::vector<long>({39, 44, 45}));
    // Two blank lines: an empty event name, whose templates include the intended name line.
    t = parse({}, {"a", pick, "", "", "quake_b", pick});
    EXPECT_EQ(t.event_names, Lines({"a", ""}));
    EXPECT_EQ(t.pick_event, std::vector<int32_t>({1, 2, 2}));
    EXPECT_EQ(template_line_numbers(t), std::vector<long>({39, 42, 43}));
    // An empty line 38 names the first event; a trailing blank line adds nothing.
    t = parse({}, {"", pick, ""});
    EXPECT_EQ(t.event_names, Lines({""}));
    EXPECT_EQ(t.pick_event, std::vector<int32_t>({1}));
}

TEST(ControlFile, UnreadableFilesAndUnusableSettings) {
    Temp_dir dir;
    EXPECT_EXIT(read_temp_file(dir.path + "/absent.txt"), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(read_temp_file(dir.path), testing::ExitedWithCode(1), "");

    const Template_file t = parse({}, two_events);
    EXPECT_EQ(check_settings(t), "");
    EXPECT_EQ(template_sample_count(parse({{11, "2.345"}}, {})), 234);  // truncated, not rounded
    const std::vector<std::tuple<int, std::string, std::string>> bad = {
        {20, "0", "sample_rate 0 is outside"},
        {14, "0 8", "freq_low 0 Hz"},
        {14, "2 50", "freq_high 50 Hz"},
        {14, "2 2", "freq_high 2 Hz"},
        {11, "0.015", "template_length 0.015 s gives 1 "},
        {11, "86400", "template_length 86400 s"},
        {5, "0 366 0", "line 5 of the control file: the first day to scan, day 366 of year 0,"},
        {8, "9999 366 0", "line 8 of the control file: the last day to scan, day 366 of"},
        {5, "-2147483648 1 0", "line 5 of the control file: the first day to scan, day 1 "},
        {39, "2013 41 1 XX ABC 00 H/Z 0", "line 39 of the control file: channel code \"H/Z\""},
        {40, "2013 41 1 .. ABC 00 HHZ 0", "line 40 of the control file: network code \"..\""},
        {40, "2013 41 1 XX ABC . HHZ 0", "line 40 of the control file: location code \".\""},
        {40, "2013 41 1 XX A\x1b[2J 00 HHZ 0",
         "line 40 of the control file: station code \"A\\x1B[2J\" must not hold '/' or control "
         "characters, nor be \".\" or \"..\""},
        {39, "-1 41 1 XX ABC 00 HHZ 0",
         "line 39 of the control file: the pick's day 41 of year -1 is not a calendar day of the "
         "years 1 to 9999"},
    };
    for (const auto& [line, text, message] : bad) {
        const std::string problem = check_settings(parse({{line, text}}, two_events));
        EXPECT_EQ(problem.rfind("Error: " + message, 0), 0u) << problem;
    }
    // Calendar limits and codes that stay inside the archive pass; without templates only the
    // days to scan are checked, and only when there is an event whose days would be scanned.
    const Lines odd_codes = {"q", "9999 365 1 X.Y .ABC.. 00 H;H 0", "1 1 1 XX A B C 0"};
    EXPECT_EQ(check_settings(parse({{5, "1 1 0"}, {8, "9999 365 0"}}, odd_codes)), "");
    EXPECT_EQ(check_settings(parse({{20, "0"}}, {"lonely"})), "");
    EXPECT_NE(check_settings(parse({{8, "10000 1 0"}}, {"lonely"})), "");
    EXPECT_EQ(check_settings(parse({{8, "10000 1 0"}}, {})), "");
}

// Reading control files: positional settings, the template section and its separators.
#include <gtest/gtest.h>

#include <sstream>

#include "control/template_file.h"
#include "support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

// Lines 1-37 of a control file; value lines replaced through changes {line number, text}.
Lines settings(const std::vector<std::pair<int, std::string>>& changes = {}) {
    Lines lines(37, "label");
    const Lines values = {"/data/results/", "2013 40 0", "2013 42 0", "10", "2 8", "8", "100", "0",
                          "/data/archive",  "any text",  "0",         "1 1"};
    for (size_t k = 0; k < values.size(); ++k)
        lines[k == 0 ? 1 : 3 * k + 1] = values[k];
    for (const auto& [line, text] : changes)
        lines[line - 1] = text;
    return lines;
}

Template_file parse(const Lines& lines, const std::string& end = "\n") {
    std::string text;
    for (const std::string& line : lines)
        text += line + end;
    std::istringstream in(text);
    return parse_template_file(in);
}

Lines with(Lines lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

const Lines two_events = {
    "quake_a", "2013 41 3600.5 XX ABC 00 HHZ 0",          "2013 41 3602.25 XX ABD 00 HHZ 0", "",
    "quake_b", "2013 41 7200 XX ABC 00 HHZ 0 extra words"};

}  // namespace

TEST(ControlFile, SettingsAndEventsLfOrCrLf) {
    for (const std::string end : {"\n", "\r\n"}) {
        const Template_file t = parse(with(settings(), two_events), end);
        EXPECT_EQ(t.output_dir, "/data/results/");
        EXPECT_EQ(t.data_dir, "/data/archive/");
        EXPECT_EQ(t.reserved_text, "any text");
        EXPECT_EQ(std::vector<int>({t.start_year, t.start_day, t.end_day, t.sample_rate}),
                  std::vector<int>({2013, 40, 42, 100}));
        EXPECT_EQ(std::vector<double>({t.template_length, t.freq_low, t.freq_high}),
                  std::vector<double>({10, 2, 8}));
        EXPECT_EQ(t.keep_downloads, 1);
        EXPECT_EQ(t.event_names, Lines({"quake_a", "quake_b"}));
        EXPECT_EQ(t.pick_event, std::vector<int32_t>({1, 1, 2}));
        EXPECT_EQ(t.pick_seconds, std::vector<double>({3600.5, 3602.25, 7200}));
        EXPECT_EQ(t.station, Lines({"ABC", "ABD", "ABC"}));
        EXPECT_EQ(t.channel[2], "HHZ");
    }
}

TEST(ControlFile, DirectoriesAndBadNumbers) {
    Template_file t = parse(settings({{2, "results more words"}, {26, "my archive"}}));
    EXPECT_EQ(t.output_dir, "results");  // first word; the slash went to the end of the line
    EXPECT_EQ(t.data_dir, "my archive/");
    EXPECT_EQ(parse(settings({{2, "out"}})).output_dir, "out/");
    // A value that cannot be read leaves 0 and stops its line; trailing text is ignored.
    t = parse(settings({{5, "2013 x 7"}, {14, "1.5e1 20 # corners"}, {20, "fast"}, {35, "1 no"}}));
    EXPECT_EQ(std::vector<int>({t.start_year, t.start_day, t.start_reserved, t.sample_rate}),
              std::vector<int>({2013, 0, 0, 0}));
    EXPECT_EQ(t.freq_low, 15.0);
    EXPECT_EQ(t.freq_high, 20.0);
    EXPECT_EQ(t.download_missing, 1);
    EXPECT_EQ(t.keep_downloads, 0);
    // Lines past the end of a short file read as empty.
    Lines short_file = settings();
    short_file.resize(20);
    t = parse(short_file);
    EXPECT_EQ(t.sample_rate, 100);
    EXPECT_EQ(t.data_dir, "/");
    EXPECT_TRUE(parse({}).event_names.empty());
    EXPECT_EQ(parse({}).output_dir, "/");
}

TEST(ControlFile, SeparatorsAndEventNumbering) {
    const std::string pick = "2013 41 1 XX S1 00 HHZ 0";
    // A lone character separates blocks like a blank line.
    Template_file t = parse(with(settings(), {"a", pick, " ", "b", pick, "x", "c", pick}));
    EXPECT_EQ(t.event_names, Lines({"a", "b", "c"}));
    EXPECT_EQ(t.pick_event, std::vector<int32_t>({1, 2, 3}));
    // Two blank lines: an empty event name, whose templates include the intended name line.
    t = parse(with(settings(), {"a", pick, "", "", "quake_b", pick}));
    EXPECT_EQ(t.event_names, Lines({"a", ""}));
    EXPECT_EQ(t.pick_event, std::vector<int32_t>({1, 2, 2}));
    // An empty line 38 names the first event; a trailing blank line adds nothing.
    t = parse(with(settings(), {"", pick, ""}));
    EXPECT_EQ(t.event_names, Lines({""}));
    EXPECT_EQ(t.pick_event, std::vector<int32_t>({1}));
}

TEST(ControlFile, MissingFileAndUnusableSettings) {
    Temp_dir dir;
    EXPECT_EXIT(read_temp_file(dir.path + "/absent.txt"), testing::ExitedWithCode(1), "");

    Template_file t = parse(with(settings(), two_events));
    EXPECT_EQ(check_settings(t), "");
    t.template_length = 2.345;
    EXPECT_EQ(template_sample_count(t), 234);
    const std::vector<std::pair<void (*)(Template_file&), std::string>> bad = {
        {[](Template_file& c) { c.sample_rate = 0; }, "sample_rate 0 is outside"},
        {[](Template_file& c) { c.freq_low = 0; }, "freq_low 0 Hz"},
        {[](Template_file& c) { c.freq_high = 50; }, "freq_high 50 Hz"},
        {[](Template_file& c) { c.freq_high = 2; }, "freq_high 2 Hz"},
        {[](Template_file& c) { c.template_length = 0.015; }, "template_length 0.015 s gives 1 "},
        {[](Template_file& c) { c.template_length = 86400; }, "template_length 86400 s"}};
    for (const auto& [change, message] : bad) {
        Template_file c = t;
        change(c);
        EXPECT_EQ(check_settings(c).rfind("Error: " + message, 0), 0u) << check_settings(c);
    }
    // Without templates nothing is processed, so nothing is checked.
    EXPECT_EQ(check_settings(parse({})), "");
}

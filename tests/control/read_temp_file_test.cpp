// Reading control files: the positional settings, the template section and their edge cases.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "control/template_file.h"
#include "support/temp_dir.h"

namespace {

// The settings section of a small control file, one string per line (lines 1 to 37).
std::vector<std::string> example_settings() {
    std::vector<std::string> lines(37, "");
    for (int n = 1; n <= 37; n += 3)
        lines[n - 1] = "label";
    lines[1] = "/data/results/";
    lines[4] = "2013 40 0";
    lines[7] = "2013 42 0";
    lines[10] = "10";
    lines[13] = "2 8";
    lines[16] = "8";
    lines[19] = "100";
    lines[22] = "0";
    lines[25] = "/data/archive";
    lines[28] = "any text";
    lines[31] = "0";
    lines[34] = "1 1";
    lines[36] = "templates";
    return lines;
}

std::string join(const std::vector<std::string>& lines, const std::string& end = "\n") {
    std::string text;
    for (const auto& line : lines)
        text += line + end;
    return text;
}

Template_file parse(const std::string& text) {
    std::istringstream in(text);
    return parse_template_file(in);
}

const std::vector<std::string> two_events = {
    "quake_a", "2013 41 3600.5 XX ABC 00 HHZ 0", "2013 41 3602.25 XX ABD 00 HHZ 0", "",
    "quake_b", "2013 41 7200 XX ABC 00 HHZ 0"};

}  // namespace

TEST(ControlFile, ReadsSettingsAndTemplateBlocks) {
    const Template_file t = parse(join(example_settings()) + join(two_events));
    EXPECT_EQ(t.output_dir, "/data/results/");
    EXPECT_EQ(t.start_year, 2013);
    EXPECT_EQ(t.start_day, 40);
    EXPECT_EQ(t.end_day, 42);
    EXPECT_EQ(t.template_length, 10.0);
    EXPECT_EQ(t.freq_low, 2.0);
    EXPECT_EQ(t.freq_high, 8.0);
    EXPECT_EQ(t.mad_multiple, 8.0);
    EXPECT_EQ(t.sample_rate, 100);
    EXPECT_EQ(t.data_dir, "/data/archive/");
    EXPECT_EQ(t.reserved_text, "any text");
    EXPECT_EQ(t.download_missing, 1);
    EXPECT_EQ(t.keep_downloads, 1);
    EXPECT_EQ(t.event_names, (std::vector<std::string>{"quake_a", "quake_b"}));
    EXPECT_EQ(t.pick_event, (std::vector<int32_t>{1, 1, 2}));
    EXPECT_EQ(t.pick_seconds, (std::vector<double>{3600.5, 3602.25, 7200}));
    EXPECT_EQ(t.station, (std::vector<std::string>{"ABC", "ABD", "ABC"}));
    EXPECT_EQ(t.location[2], "00");
    EXPECT_EQ(t.channel[1], "HHZ");
}

TEST(ControlFile, CrLfReadsLikeLf) {
    const Template_file lf = parse(join(example_settings()) + join(two_events));
    std::vector<std::string> settings = example_settings();
    settings[25] = "/data/my archive";
    const Template_file crlf = parse(join(settings, "\r\n") + join(two_events, "\r\n"));
    EXPECT_EQ(crlf.data_dir, "/data/my archive/");
    EXPECT_EQ(crlf.output_dir, lf.output_dir);
    EXPECT_EQ(crlf.event_names, lf.event_names);
    EXPECT_EQ(crlf.pick_event, lf.pick_event);
    EXPECT_EQ(crlf.channel, lf.channel);
    EXPECT_EQ(crlf.keep_downloads, 1);
    // A final line without a line end is still read.
    std::string text = join(example_settings()) + join(two_events);
    text.pop_back();
    EXPECT_EQ(parse(text).channel.size(), 3u);
}

TEST(ControlFile, SlashRulesForDirectories) {
    std::vector<std::string> settings = example_settings();
    settings[1] = "out";
    settings[25] = "arch ive";
    Template_file t = parse(join(settings));
    EXPECT_EQ(t.output_dir, "out/");
    EXPECT_EQ(t.data_dir, "arch ive/");
    // Only the first word of line 2 is kept; the slash went to the end of the whole line.
    settings[1] = "results more words";
    EXPECT_EQ(parse(join(settings)).output_dir, "results");
    settings[1] = "results/ more";
    EXPECT_EQ(parse(join(settings)).output_dir, "results/");
    settings[1] = "";
    settings[25] = "";
    t = parse(join(settings));
    EXPECT_EQ(t.output_dir, "/");
    EXPECT_EQ(t.data_dir, "/");
}

TEST(ControlFile, BadNumbersLeaveZeroAndStopTheLine) {
    std::vector<std::string> settings = example_settings();
    settings[4] = "2013 x 7";             // day unreadable: it and the rest stay 0
    settings[13] = "1.5e1 20 # corners";  // trailing comment ignored
    settings[19] = "fast";
    settings[34] = "1 maybe";
    const Template_file t = parse(join(settings));
    EXPECT_EQ(t.start_year, 2013);
    EXPECT_EQ(t.start_day, 0);
    EXPECT_EQ(t.start_reserved, 0);
    EXPECT_EQ(t.freq_low, 15.0);
    EXPECT_EQ(t.freq_high, 20.0);
    EXPECT_EQ(t.sample_rate, 0);
    EXPECT_EQ(t.download_missing, 1);
    EXPECT_EQ(t.keep_downloads, 0);
}

TEST(ControlFile, SeparatorsAndEventNumbering) {
    const std::string settings = join(example_settings());
    // A single character (a lone space) separates blocks like a blank line; extra words after
    // the reserved integer are ignored.
    Template_file t =
        parse(settings + join({"a", "2013 41 1 XX S1 00 HHZ 0 extra words", " ", "b",
                               "2013 41 2 XX S2 00 HHZ 0", "x", "c", "2013 41 3 XX S3 00 HHZ 0"}));
    EXPECT_EQ(t.event_names, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(t.pick_event, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(t.pick_reserved, (std::vector<int32_t>{0, 0, 0}));

    // Two blank lines: the second is an empty event name, and the intended name line becomes a
    // template of that empty-named event.
    t = parse(settings + join({"a", "2013 41 1 XX S1 00 HHZ 0", "", "", "quake_b",
                               "2013 41 2 XX S2 00 HHZ 0"}));
    EXPECT_EQ(t.event_names, (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(t.pick_event, (std::vector<int32_t>{1, 2, 2}));
    EXPECT_EQ(t.station[2], "S2");

    // An empty line 38 is an empty first event name.
    t = parse(settings + join({"", "2013 41 1 XX S1 00 HHZ 0"}));
    EXPECT_EQ(t.event_names, (std::vector<std::string>{""}));
    EXPECT_EQ(t.pick_event, (std::vector<int32_t>{1}));

    // A trailing blank line adds nothing; one more line after it is an event without templates.
    t = parse(settings + join({"a", "2013 41 1 XX S1 00 HHZ 0", ""}));
    EXPECT_EQ(t.event_names.size(), 1u);
    t = parse(settings + join({"a", "2013 41 1 XX S1 00 HHZ 0", "", "lonely"}));
    EXPECT_EQ(t.event_names, (std::vector<std::string>{"a", "lonely"}));
    EXPECT_EQ(t.pick_event.size(), 1u);
}

TEST(ControlFile, ShortFilesReadMissingLinesAsEmpty) {
    Template_file t = parse("");
    EXPECT_EQ(t.output_dir, "/");
    EXPECT_EQ(t.data_dir, "/");
    EXPECT_EQ(t.sample_rate, 0);
    EXPECT_TRUE(t.event_names.empty());
    EXPECT_TRUE(t.pick_year.empty());
    std::vector<std::string> settings = example_settings();
    settings.resize(20);
    t = parse(join(settings));
    EXPECT_EQ(t.sample_rate, 100);
    EXPECT_EQ(t.data_dir, "/");
    EXPECT_EQ(t.download_missing, 0);
}

TEST(ControlFile, MissingFileEndsTheProcess) {
    Temp_dir dir;
    const std::string name = dir.path + "/absent.txt";
    EXPECT_EXIT(read_temp_file(name), testing::ExitedWithCode(1),
                "");  // the message goes to standard output, checked by the driver's tests
    write_file(name, join(example_settings()) + join(two_events));
    EXPECT_EQ(read_temp_file(name).pick_event.size(), 3u);
}

TEST(ControlFile, SettingsCheckNamesTheBadSetting) {
    Template_file t = parse(join(example_settings()) + join(two_events));
    EXPECT_EQ(check_settings(t), "");
    EXPECT_EQ(template_sample_count(t), 1000);
    t.template_length = 2.345;
    EXPECT_EQ(template_sample_count(t), 234);

    auto error_for = [&](auto change) {
        Template_file bad = t;
        change(bad);
        return check_settings(bad);
    };
    EXPECT_EQ(error_for([](Template_file& c) { c.sample_rate = 0; }),
              "Error: sample_rate 0 is outside 1 to 24855 samples per second");
    EXPECT_NE(error_for([](Template_file& c) { c.freq_low = 0; }).find("freq_low 0 Hz"),
              std::string::npos);
    EXPECT_NE(error_for([](Template_file& c) { c.freq_high = 50; }).find("freq_high 50 Hz"),
              std::string::npos);
    EXPECT_NE(error_for([](Template_file& c) { c.freq_high = 2; }).find("freq_high 2 Hz"),
              std::string::npos);
    EXPECT_NE(error_for([](Template_file& c) {
                  c.template_length = 0.015;
              }).find("template_length 0.015 s gives 1 samples"),
              std::string::npos);
    EXPECT_NE(error_for([](Template_file& c) {
                  c.template_length = 86400;
              }).find("template_length 86400"),
              std::string::npos);
    EXPECT_EQ(error_for([](Template_file& c) { c.template_length = 0.02; }), "");

    // Without templates nothing is processed, so nothing is checked.
    Template_file empty = parse("");
    EXPECT_EQ(check_settings(empty), "");
    empty.sample_rate = 100;
    empty.template_length = 1e300;
    EXPECT_EQ(template_sample_count(empty), INT32_MAX);
}

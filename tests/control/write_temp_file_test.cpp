#include <gtest/gtest.h>

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

Template_file parse(const std::string& text) {
    std::istringstream in(text);
    return parse_template_file(in);
}

}  // namespace

TEST(WriteTemplateFile, ReadsBackToTheSameRecord) {
    // Unusual but readable: CR LF ends, a spaced archive path, digits a short format would lose,
    // a shared name, an event without templates, a one-character name, an empty last name.
    const Template_file t = parse(
        "x\r\nout/dir\r\n\r\n\r\n2013 365 7\r\n\r\n\r\n2014 2 -1\r\n\r\n\r\n0.1\r\n\r\n\r\n"
        "0.3 7.123456789012345\r\n\r\n\r\n1e-3\r\n\r\n\r\n40\r\n\r\n\r\n5\r\n\r\n\r\n"
        "/my data/arch ive\r\n\r\n\r\n free text  \r\n\r\n\r\n9\r\n\r\n\r\n1 0\r\n\r\n\r\n"
        "q 1\r\n2013 45 3600.1234567890123 XX S1 00 HHZ 3 extra\r\n2014 1 0.5 YY S2 -- BHN 0\r\n"
        "\r\nnone\r\n\r\nq 1\r\n2013 46 86399.999 XX S3 10 HHE 2\r\n\r\nz\r\n\r\n\r\n");
    ASSERT_EQ(t.event_names.size(), 5u);
    ASSERT_EQ(t.pick_event, (std::vector<int32_t>{1, 1, 3}));
    const std::string text = format_template_file(t);
    ASSERT_NE(text, "");
    EXPECT_TRUE(members(parse(text)) == members(t)) << text;
}

TEST(WriteTemplateFile, RefusesWhatCannotBeReadBack) {
    const Template_file good = parse(
        "x\nout/\n\n\n2013 1 0\n\n\n2013 2 0\n\n\n1\n\n\n1 2\n\n\n8\n\n\n10\n\n\n0\n\n\narch\n"
        "\n\n\n\n\n0\n\n\n0 0\n\n\nev\n2013 1 5 XX S1 00 HHZ 0\n");
    ASSERT_NE(format_template_file(good), "");
    const auto broken = [&](auto change) {
        Template_file t = good;
        change(t);
        return format_template_file(t) == "";
    };
    EXPECT_TRUE(broken([](Template_file& t) { t.output_dir = "a b/"; }));
    EXPECT_TRUE(broken([](Template_file& t) { t.data_dir = "arch"; }));
    EXPECT_TRUE(broken([](Template_file& t) { t.event_names[0] = "two\nlines"; }));
    EXPECT_TRUE(broken([](Template_file& t) { t.station[0] = ""; }));
    EXPECT_TRUE(broken([](Template_file& t) { t.pick_event[0] = 2; }));
    EXPECT_TRUE(broken([](Template_file& t) { t.channel.push_back("HHE"); }));
    EXPECT_NE(write_template_file(good, "/nonexistent-dir/c.txt"), "");
}

#include <gtest/gtest.h>

#include <sstream>

#include "control/run_record.h"
#include "control/template_file_writer.h"

namespace {

Template_file parse(const std::string& text) {
    std::istringstream in(text);
    Outcome<Template_file> t = parse_template_file(in);
    EXPECT_TRUE(t.ok()) << t.error;
    return t.ok() ? *t.value : Template_file();
}

}  // namespace

TEST(WriteTemplateFile, ReadsBackToTheSameRecordOrRefuses) {
    // CR LF ends, spaced directories, long digits, a shared name, events without templates.
    const Template_file t = parse(
        "x\r\nmy out/dir\r\n\r\n\r\n2013 365 7\r\n\r\n\r\n2014 2 -1\r\n\r\n\r\n0.1\r\n\r\n\r\n"
        "0.3 7.123456789012345\r\n\r\n\r\n1e-3\r\n\r\n\r\n40\r\n\r\n\r\n5\r\n\r\n\r\n"
        "/my data/arch ive\r\n\r\n\r\n free text  \r\n\r\n\r\n9\r\n\r\n\r\n1 0\r\n\r\n\r\n"
        "q 1\r\n2013 45 3600.1234567890123 XX S1 00 HHZ 3 extra\r\n2014 1 0.5 YY S2 -- BHN 0\r\n"
        "\r\nnone\r\n\r\nq 1\r\n2013 46 86399.999 XX S3 10 HHE 2\r\n\r\n\r\n\r\nz\r\n\r\n\r\n");
    ASSERT_EQ(t.event_names, (std::vector<std::string>{"q 1", "none", "q 1", "", "z"}));
    const Outcome<std::string> text = format_template_file(t);
    ASSERT_TRUE(text.ok()) << text.error;
    EXPECT_TRUE(same_record(parse(*text.value), t)) << *text.value;

    const auto broken = [&](auto change) {
        Template_file copy = t;
        change(copy);
        return format_template_file(copy).error;
    };
    EXPECT_NE(broken([](Template_file& c) { c.output_dir = " a/"; }), "");
    EXPECT_NE(broken([](Template_file& c) { c.data_dir = "arch"; }), "");
    EXPECT_NE(broken([](Template_file& c) { c.event_names[0] = "two\nlines"; }), "");
    EXPECT_NE(broken([](Template_file& c) { c.station[0] = "A B"; }), "");
    EXPECT_NE(broken([](Template_file& c) { c.channel.push_back("HHE"); }), "");
    EXPECT_NE(broken([](Template_file& c) { c.event_names.back() = ""; }), "");
    EXPECT_EQ(broken([](Template_file& c) { c.event_names[0] = "a/b"; }),
              "Error: the control record cannot be written as a control file (line 38 of the "
              "control file: the event name \"a/b\" becomes a file name and must not hold '/' or "
              "control characters)");
    EXPECT_EQ(write_template_file(t, "/nonexistent-dir/c.txt").error,
              "Error: cannot write control file /nonexistent-dir/c.txt");
}

// The app's run-outcome test checks its head and the control text; here, the calendar and the
// brief number.
TEST(RunRecord, CarriesDaysPastAYearsEndAndWritesTheMadMultipleBriefly) {
    Template_file t = parse(
        "x\nout/\n\n\n2023 365 0\n\n\n2024 60 0\n\n\n1\n\n\n1 2\n\n\n8.25\n\n\n10\n\n\n0\n\n\n"
        "arch\n\n\n\n\n\n0\n\n\n0 0\n\n\nev\n2013 1 5 XX S1 00 HHZ 0");
    t.start_year = 2024, t.start_day = 367, t.end_year = 2024, t.end_day = 0, t.mad_multiple = 0.1;
    // A period that ends before it starts is empty.
    EXPECT_NE(format_run_record("0.2", "c.txt", "", t)
                  .find("scan period: 2025-01-01 (2025 001) to 2023-12-31 (2023 365), 0 day(s)\n"
                        "MAD multiple: 0.1\n"),
              std::string::npos);
}

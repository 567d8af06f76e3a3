// vemlo-window answers with the scan's day trace and template creation's templates, sample for
// sample, conditioning each channel-day once.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

#include "acquire/get_data.h"
#include "app/window_requests.h"
#include "dsp/time_convert.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

// The samples of a "data" answer, and its first sample's time.
static std::vector<float> samples_of(const std::string& answer, double& first) {
    std::istringstream in(answer.substr(answer.find('\t')));
    std::string rate;
    in >> first >> rate;
    return {std::istream_iterator<float>(in), std::istream_iterator<float>()};
}

TEST(WindowRequests, DayTracesAsTheScanAndTemplatesAsTemplateCreation) {
    Temp_dir dir;
    const int fs = 10;
    write_day_file(dir.path + "/archive", "ABC", "HHZ", 45, fs,
                   synthetic_day(fs, 3, {{3600.0, 5.0, 1.0}, {50000.0, 2.0, 1.0}}));
    Control c;
    c.archive = dir.path + "/archive";
    c.templates = "quake\n2013 45 3600.05 XX ABC 00 HHZ 0\n";
    std::istringstream text(control_text(c));
    const Template_file control = *parse_template_file(text).value;
    const double midnight = time_to_epoch(2013, 45, 0.0);
    std::ostringstream lines;
    lines << std::fixed;
    lines << "window\tXX\tABC\t00\tHHZ\t" << midnight + 49990.02 << "\t30\n"
          << "template\tquake\t1\tXX\tABC\t00\tHHZ\n"
          << "window\tXX\tABC\t00\tHHZ\t" << midnight + 86395.0 << "\t10\n";  // past midnight
    std::istringstream in(lines.str());
    const auto requests = read_window_requests(in, control);
    ASSERT_TRUE(requests.ok()) << requests.error;
    std::ostringstream out, log;
    answer_window_requests(*requests.value, control, out, log);

    std::vector<std::string> answers;
    std::istringstream read(out.str());
    for (std::string line; std::getline(read, line);)
        answers.push_back(line);
    ASSERT_EQ(answers.size(), 3u);
    // The scan's day trace runs a template length less a sample into the missing next day.
    const std::vector<float> day =
        get_data(2013, 45, 0.0f, "XX", "ABC", "00", "HHZ", fs * 86400 + 99, control);
    double first = 0;
    EXPECT_EQ(samples_of(answers[0], first),
              std::vector<float>(day.begin() + 499900, day.begin() + 500200));
    EXPECT_DOUBLE_EQ(first, midnight + 49990.0);  // the nearest sample
    EXPECT_EQ(samples_of(answers[1], first),
              get_data(2013, 45, 3600.05f, "XX", "ABC", "00", "HHZ", 100, control));
    EXPECT_NEAR(first, midnight + 3600.05, 1e-3);
    EXPECT_EQ(samples_of(answers[2], first), std::vector<float>(day.end() - 149, day.end() - 49));
    // The template's day and the scanned day (the same file) each conditioned once.
    EXPECT_EQ(values_after(log.str(), "Interpolating", '\n').size(), 2u);
}

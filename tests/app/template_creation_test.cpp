// Moveouts of the templates of each event, and the results files template creation prepares.
#include <gtest/gtest.h>

#include "acquire/get_data.h"
#include "app/template_creation.h"
#include "support/temp_dir.h"

namespace {

// A control record with one event per entry of picks, each pick {day, seconds}.
Template_file events(const std::vector<std::vector<std::pair<int, double>>>& picks) {
    Template_file t;
    for (size_t e = 0; e < picks.size(); ++e) {
        t.event_names.push_back("event" + std::to_string(e + 1));
        for (const auto& [day, seconds] : picks[e]) {
            t.pick_year.push_back(2013);
            t.pick_day.push_back(day);
            t.pick_seconds.push_back(seconds);
            t.network.push_back("XX");
            t.station.push_back("ABC");
            t.location.push_back("00");
            t.channel.push_back("HHZ");
            t.pick_reserved.push_back(0);
            t.pick_event.push_back(static_cast<int32_t>(e + 1));
        }
    }
    return t;
}

}  // namespace

TEST(TemplateCreation, MoveoutsFollowTheEarliestPickOfEachEvent) {
    // One pick; picks 1.25 s apart; equal picks; the earliest pick listed last; an event
    // spanning midnight.
    const Template_file t = events({{{41, 3600.5}},
                                    {{41, 100.0}, {41, 101.25}},
                                    {{41, 7.0}, {41, 7.0}},
                                    {{41, 50.0}, {41, 52.5}, {41, 49.5}},
                                    {{41, 86399.0}, {42, 1.0}}});
    EXPECT_EQ(compute_moveouts(t, 100.0f),
              (std::vector<int32_t>{0, 0, 125, 0, 0, 50, 300, 0, 0, 200}));
    // Halves round away from zero: 0.25 s at 2 samples per second is half a sample.
    EXPECT_EQ(compute_moveouts(events({{{41, 10.0}, {41, 10.25}}}), 2.0f),
              (std::vector<int32_t>{0, 1}));
    // Picks far apart cannot overflow the moveout.
    EXPECT_EQ(compute_moveouts(events({{{1, 0.0}, {300, 0.0}}}), 1000.0f)[1], INT32_MAX);
}

TEST(TemplateCreation, EmptiesResultsFilesAndReportsMissingTemplates) {
    Temp_dir dir;
    Template_file t = events({{{41, 3600.5}}, {{41, 10.0}}});
    t.event_names = {"same name", "same name"};
    t.output_dir = dir.path + "/new/results/";
    t.data_dir = dir.path + "/archive/";
    t.sample_rate = 100;
    t.template_length = 2.345;
    t.freq_low = 1;
    t.freq_high = 10;
    testing::internal::CaptureStdout();
    const Template_bank bank = create_templates(t);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "\n\tCreating 2 template(s) for 2 event(s)...\n"
              "Template #1\nData was not found for template #1 (2013 41 3600.5 XX ABC 00 HHZ)\n"
              "Template #2\nData was not found for template #2 (2013 41 10 XX ABC 00 HHZ)\n");
    EXPECT_EQ(bank.template_samples, 234);
    EXPECT_EQ(bank.waveforms.size(), 2u);
    EXPECT_TRUE(is_not_found(bank.waveforms[0]));
    EXPECT_EQ(run_program({"test", "-f", t.output_dir + "same name.txt"}).status, 0);
}

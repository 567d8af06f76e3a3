// Moveouts of each event's templates (template creation is run whole by the end-to-end test).
#include <gtest/gtest.h>

#include <sstream>

#include "app/template_creation.h"
#include "support/synthetic_archive.h"

namespace {

// One event per entry of picks, each pick {day of 2013, seconds}, all at XX.ABC.00.HHZ.
Template_file events(const std::vector<std::vector<std::pair<int, double>>>& picks) {
    Control c;
    for (const auto& event : picks) {
        c.templates += "event\n";
        for (const auto& [day, seconds] : event)
            c.templates += "2013 " + std::to_string(day) + " " + std::to_string(seconds) +
                           " XX ABC 00 HHZ 0\n";
        c.templates += "\n";
    }
    std::istringstream in(control_text(c));
    return *parse_template_file(in).value;
}

}  // namespace

TEST(TemplateCreation, MoveoutsFromTheEarliestPickOfEachEvent) {
    // One pick; 1.25 s apart; equal picks; earliest listed last; across midnight.
    const Template_file t = events({{{41, 3600.5}},
                                    {{41, 100.0}, {41, 101.25}},
                                    {{41, 7.0}, {41, 7.0}},
                                    {{41, 50.0}, {41, 52.5}, {41, 49.5}},
                                    {{41, 86399.0}, {42, 1.0}}});
    EXPECT_EQ(compute_moveouts(t, 100.0f),
              (std::vector<int32_t>{0, 0, 125, 0, 0, 50, 300, 0, 0, 200}));
    // Exactly half a sample rounds away from zero; picks months apart do not overflow.
    EXPECT_EQ(compute_moveouts(events({{{41, 10.0}, {41, 10.25}}}), 2.0f)[1], 1);
    EXPECT_EQ(compute_moveouts(events({{{1, 0.0}, {300, 0.0}}}), 1000.0f)[1], INT32_MAX);
}

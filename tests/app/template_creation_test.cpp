// Moveouts of each event's templates (template creation is run whole by the end-to-end test).
#include <gtest/gtest.h>

#include <sstream>

#include "app/template_creation.h"
#include "support/synthetic_archive.h"

// Each event's picks {day of 2013, seconds} at XX.ABC.00.HHZ, and their moveouts at rate.
static std::vector<int32_t> moveouts(const std::vector<std::vector<std::pair<int, double>>>& picks,
                                     float rate) {
    Control c;
    for (const auto& event : picks) {
        c.templates += "event\n";
        for (const auto& [day, seconds] : event)
            c.templates += "2013 " + std::to_string(day) + " " + std::to_string(seconds) +
                           " XX ABC 00 HHZ 0\n";
        c.templates += "\n";
    }
    std::istringstream in(control_text(c));
    return compute_moveouts(*parse_template_file(in).value, rate);
}

TEST(TemplateCreation, MoveoutsFromTheEarliestPickOfEachEvent) {
    // Earliest listed last; across midnight; half a sample rounds away from zero; no overflow.
    EXPECT_EQ(moveouts({{{41, 50.0}, {41, 52.5}, {41, 49.5}}, {{41, 86399.0}, {42, 1.0}}}, 100.0f),
              (std::vector<int32_t>{50, 300, 0, 0, 200}));
    EXPECT_EQ(moveouts({{{41, 10.0}, {41, 10.25}}}, 2.0f)[1], 1);
    EXPECT_EQ(moveouts({{{1, 0.0}, {300, 0.0}}}, 1000.0f)[1], INT32_MAX);
}

// What is said of a damaged clip: where, how much, and what stands in, with
// nothing said that the movie does not show.
#include "damage_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tavhost::media::Damage;

struct ReportCase {
    const char* name;
    Damage damage;
    std::vector<const char*> says;
    std::vector<const char*> never;
};

void PrintTo(const ReportCase& c, std::ostream* os) {
    *os << c.name;
}

class DamageReports : public ::testing::TestWithParam<ReportCase> {};

TEST_P(DamageReports, SayWhatWasFoundAndDone) {
    const ReportCase& c = GetParam();
    const std::string text = tavhost::DamageReport("clip 'a.mp4'", c.damage);
    EXPECT_EQ(text.rfind("clip 'a.mp4' is damaged", 0), 0u) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    for (const char* part : c.says) EXPECT_NE(text.find(part), std::string::npos) << text;
    for (const char* part : c.never) EXPECT_EQ(text.find(part), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamageReports,
    ::testing::Values(
        // A file cut short: the clip is shorter, nothing stands in, and the
        // damage is where the pictures end, not at the start.
        ReportCase{
            "cutShort",
            {.errors = 1, .cutShort = true, .missingAtEnd = 37, .endsAt = 1.7667},
            {"cut short", "end at 0:01.77", "37 pictures before the length", "the clip ends there"},
            {"stands in", "0:00.00", "could not be decoded"}},
        ReportCase{
            "cutShortAndOneLost",
            {.errors = 2,
             .lostFrames = 1,
             .firstAt = 1.73,
             .cutShort = true,
             .missingAtEnd = 37,
             .endsAt = 1.77},
            {"cut short", "37 pictures", "1 picture is missing", "at 0:01.73", "stands in for it"},
            {"the first at"}},
        ReportCase{"holes",
                   {.errors = 3, .lostFrames = 12, .firstAt = 75.5},
                   {"12 pictures are missing", "the first at 1:15.50", "stands in for each"},
                   {"cut short", "ends there"}},
        ReportCase{"decodedWithErrors",
                   {.errors = 4, .firstAt = 2.5},
                   {"from 0:02.50", "could not be decoded cleanly"},
                   {"pictures", "stands in", "cut short"}},
        // Damage at the clip's very first instant has a time all the same.
        ReportCase{"errorsFromTheStart",
                   {.errors = 2, .firstAt = 0.0},
                   {"from 0:00.00", "could not be decoded cleanly"},
                   {"could not be read", "stands in"}},
        ReportCase{"firstPictureLost",
                   {.errors = 1, .lostFrames = 1, .firstAt = 0.0},
                   {"1 picture is missing", "at 0:00.00", "stands in for it"},
                   {"could not be read"}},
        ReportCase{"lostFromTheStart",
                   {.errors = 5, .lostFrames = 5, .firstAt = 0.0},
                   {"5 pictures are missing", "the first at 0:00.00"},
                   {"could not be read"}},
        ReportCase{"cutShortAfterLostAtStart",
                   {.errors = 2,
                    .lostFrames = 2,
                    .firstAt = 0.0,
                    .cutShort = true,
                    .missingAtEnd = 3,
                    .endsAt = 0.5},
                   {"end at 0:00.50", "the first at 0:00.00"},
                   {"could not be read"}},
        ReportCase{"unreadable", {.errors = 1}, {"could not be read"}, {"stands in"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

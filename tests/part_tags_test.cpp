// A part's tags, as a file carries them: what they say read back whole, and
// anything else (another program's tags, a hand edit, a damaged file) not
// taken for a part.
#include "part_tags.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "media_types.h"

namespace {

using tavhost::media::PartTags;

bool ReadFrom(const std::map<std::string, std::string>& tags, PartTags* out) {
    return PartTags::Read(
        [&tags](const char* key) -> const char* {
            const auto it = tags.find(key);
            return it == tags.end() ? nullptr : it->second.c_str();
        },
        out);
}

TEST(PartTags, AreReadBackAsWritten) {
    PartTags t;
    t.index = 3;
    t.count = 8;
    t.first = 240;
    t.end = 361;
    t.total = 1000;
    t.rate = {30000, 1001};
    t.plan = "0123456789abcdef";
    std::map<std::string, std::string> tags;
    for (const auto& [k, v] : t.Tags()) tags[k] = v;
    PartTags back;
    ASSERT_TRUE(ReadFrom(tags, &back));
    EXPECT_EQ(back.index, 3);
    EXPECT_EQ(back.count, 8);
    EXPECT_EQ(back.first, 240);
    EXPECT_EQ(back.end, 361);
    EXPECT_EQ(back.total, 1000);
    EXPECT_EQ(back.rate.num, 30000);
    EXPECT_EQ(back.rate.den, 1001);
    EXPECT_EQ(back.plan, t.plan);
}

// The largest numbers a part may carry still give its sound's length
// without overflow (UBSan would say so).
TEST(PartTags, TheLargestAcceptedNumbersStayInRange) {
    PartTags t;
    ASSERT_TRUE(ReadFrom({{"TAV_PART", "1/1"},
                          {"TAV_FRAMES", "0-10000000/10000000"},
                          {"TAV_RATE", "1/1000000"},
                          {"TAV_PLAN", "p"}},
                         &t));
    const int64_t samples =
        tavhost::media::FrameSampleStart(t.total, t.rate, tavhost::media::kMostSampleRate);
    EXPECT_GT(samples, t.total);
}

struct Bad {
    const char* name;
    const char* key;
    const char* value;  // null: the tag is missing
};

class PartTagsRefused : public ::testing::TestWithParam<Bad> {};

TEST_P(PartTagsRefused, AreNotAPart) {
    std::map<std::string, std::string> tags = {
        {"TAV_PART", "2/4"}, {"TAV_FRAMES", "10-20/40"}, {"TAV_RATE", "25/1"}, {"TAV_PLAN", "abc"}};
    PartTags unused;
    ASSERT_TRUE(ReadFrom(tags, &unused));
    const Bad& c = GetParam();
    if (c.value)
        tags[c.key] = c.value;
    else
        tags.erase(c.key);
    EXPECT_FALSE(ReadFrom(tags, &unused)) << c.key << "=" << (c.value ? c.value : "(none)");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PartTagsRefused,
    ::testing::Values(
        Bad{"noPart", "TAV_PART", nullptr}, Bad{"noPlan", "TAV_PLAN", nullptr},
        Bad{"emptyPlan", "TAV_PLAN", ""}, Bad{"noRate", "TAV_RATE", nullptr},
        Bad{"indexZero", "TAV_PART", "0/4"}, Bad{"indexPastCount", "TAV_PART", "5/4"},
        Bad{"tooManyParts", "TAV_PART", "2/1001"}, Bad{"trailing", "TAV_PART", "2/4x"},
        Bad{"negative", "TAV_PART", "-2/4"}, Bad{"endBeforeFirst", "TAV_FRAMES", "20-10/40"},
        Bad{"pastTheTotal", "TAV_FRAMES", "10-41/40"}, Bad{"noTotal", "TAV_FRAMES", "10-20"},
        Bad{"hugeNumber", "TAV_FRAMES", "10-20/99999999999999999999999"},
        Bad{"rateZero", "TAV_RATE", "0/1"}, Bad{"rateNoDen", "TAV_RATE", "25"},
        // Numbers whose sound arithmetic would overflow.
        Bad{"hugeFrames", "TAV_FRAMES", "160-9223372036854775807/9223372036854775807"},
        Bad{"pastTheLongestRender", "TAV_FRAMES", "0-10/10000001"},
        Bad{"rateTooHigh", "TAV_RATE", "1000000/1"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// Placement: GetInfo's answer and the clips' lengths give where the
// transition starts, where clip B starts and the cut falls, how long the
// sequence is, and which clip frame lies behind every number the plug-in asks for.
#include "placement.h"

#include <gtest/gtest.h>

namespace tavtest {
namespace {

using tavhost::Placement;
using tavhost::SourceRef;
using tavhost::TransitionTiming;
constexpr int32_t kUnset = TransitionTiming::kUnsetFrames;

struct MapCheck {
    int32_t number;  // relative to the transition's start
    bool found;
    SourceRef ref;
};

struct PlaceCase {
    const char* name;
    TransitionTiming timing;
    std::vector<int64_t> clips;
    // Expected: frames, start, bStart, cut, total, warned.
    int32_t frames;
    int64_t start, bStart, cut, total;
    bool warned;
    std::vector<MapCheck> maps;
};

void PrintTo(const PlaceCase& c, std::ostream* os) {
    *os << c.name;
}

class PlacementTable : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlacementTable, StartCutTotalAndFrameMap) {
    const PlaceCase& c = GetParam();
    Placement p;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(tavhost::Place(c.timing, "b", c.clips, &p, &warnings, &error)) << error;
    EXPECT_EQ(p.frames, c.frames);
    EXPECT_EQ(p.start, c.start);
    EXPECT_EQ(p.total, c.total);
    if (p.Between()) {
        EXPECT_EQ(p.bStart, c.bStart);
        EXPECT_EQ(p.cut, c.cut);
        // Without the transition: A up to the cut, then B from its frame cut - bStart.
        EXPECT_EQ(p.HardCut(c.cut - 1), (SourceRef{0, c.cut - 1}));
        EXPECT_EQ(p.HardCut(c.cut), (SourceRef{1, c.cut - c.bStart}));
        EXPECT_EQ(p.HardCut(c.total - 1), (SourceRef{1, c.clips[1] - 1}));
    } else {
        EXPECT_EQ(p.HardCut(c.total - 1), (SourceRef{0, c.total - 1}));
    }
    EXPECT_EQ(!warnings.empty(), c.warned);
    for (const MapCheck& m : c.maps) {
        SourceRef ref{-1, -1};
        EXPECT_EQ(p.Map(int32_t(p.start) + m.number, &ref), m.found) << "number " << m.number;
        if (m.found) {
            EXPECT_EQ(ref, m.ref) << "number " << m.number;
        }
    }
}

constexpr auto kBetween = kPluginTransitionBetweenType;
constexpr auto kBefore = kPluginTransitionBeforeType;
constexpr auto kAfter = kPluginTransitionAfterType;

INSTANTIATE_TEST_SUITE_P(
    Cases, PlacementTable,
    ::testing::Values(
        // N frames of A mixed with N of B: the clips overlap by N.
        PlaceCase{"overlap",
                  {kBetween, 66, 66, 66},
                  {90, 90},
                  66,
                  24,
                  24,
                  57,
                  114,
                  false,
                  {{-1, false, {}},
                   {0, true, {0, 24}},
                   {65, true, {0, 89}},
                   {66, true, {1, 0}},
                   {131, true, {1, 65}},
                   {132, false, {}}}},
        // A clip shorter than N shortens the overlap to it.
        PlaceCase{"shortClip",
                  {kBetween, 66, 66, 66},
                  {40, 90},
                  40,
                  0,
                  0,
                  20,
                  90,
                  true,
                  {{0, true, {0, 0}}, {39, true, {0, 39}}, {40, true, {1, 0}}}},
        // No length of its own: the halves follow one another, no overlap.
        PlaceCase{"halves",
                  {kBetween, kUnset, 33, 33},
                  {90, 90},
                  66,
                  57,
                  90,
                  90,
                  180,
                  false,
                  {{0, true, {0, 57}}, {32, true, {0, 89}}, {66, true, {1, 0}}}},
        PlaceCase{"opening",
                  {kBefore, 20, 0, 20},
                  {90},
                  20,
                  0,
                  0,
                  0,
                  90,
                  false,
                  {{0, true, {0, 0}}, {19, true, {0, 19}}, {20, false, {}}}},
        PlaceCase{"closing",
                  {kAfter, 20, 20, 0},
                  {90},
                  20,
                  70,
                  0,
                  0,
                  90,
                  false,
                  {{-1, false, {}}, {0, true, {0, 70}}, {19, true, {0, 89}}, {20, false, {}}}},
        PlaceCase{"closingShortClip",
                  {kAfter, 20, 20, 0},
                  {8},
                  8,
                  0,
                  0,
                  0,
                  8,
                  true,
                  {{0, true, {0, 0}}, {7, true, {0, 7}}, {8, false, {}}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
    const char* name;
    TransitionTiming timing;
    std::vector<int64_t> clips;
    const char* message;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class PlacementRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(PlacementRefused, SaysWhy) {
    const RefusedCase& c = GetParam();
    Placement p;
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_FALSE(tavhost::Place(c.timing, "b", c.clips, &p, &warnings, &error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlacementRefused,
    ::testing::Values(
        RefusedCase{"notATransition", {kPluginFilterType, 10, 10, 10}, {90}, "not a transition"},
        RefusedCase{"betweenOneClip", {kBetween, 10, 10, 10}, {90}, "give two clips"},
        RefusedCase{"openingTwoClips", {kBefore, 10, 0, 10}, {90, 90}, "give one clip"},
        RefusedCase{"negativeTake", {kBetween, 10, -1, 10}, {90, 90}, "negative"},
        RefusedCase{"negativeLength", {kAfter, -4, 0, 0}, {90}, "negative"},
        RefusedCase{"noFrames", {kAfter, kUnset, 0, 0}, {90}, "no transition frame"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavtest

// Placement: GetInfo's answers and the clips' lengths give where each
// transition starts, where each clip starts and each cut falls, how long the
// sequence is, and which clip frame lies behind every number a plug-in asks for.
#include "placement.h"

#include <gtest/gtest.h>

namespace tavtest {
namespace {

using tavhost::Placement;
using tavhost::SourceRef;
using tavhost::Timeline;
using tavhost::TransitionRequest;
using tavhost::TransitionRequests;
using tavhost::TransitionTiming;
constexpr int32_t kUnset = TransitionTiming::kUnsetFrames;

// One transition over one clip (opening or closing) or two (between), put
// where its kind goes.
TransitionRequests Single(const TransitionTiming& timing, size_t clips) {
    TransitionRequests r;
    r.joins.resize(clips > 0 ? clips - 1 : 0);
    const TransitionRequest request{timing, "b"};
    if (timing.type == kPluginTransitionBeforeType)
        r.open = request;
    else if (timing.type == kPluginTransitionAfterType || r.joins.empty())
        r.close = request;
    else
        r.joins[0] = request;
    return r;
}

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
    Timeline tl;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(tavhost::LayOut(c.clips, Single(c.timing, c.clips.size()), &tl, &warnings, &error))
        << error;
    ASSERT_EQ(tl.transitions.size(), 1u);
    const Placement& p = tl.transitions[0];
    EXPECT_EQ(p.frames, c.frames);
    EXPECT_EQ(p.start, c.start);
    EXPECT_EQ(tl.total, c.total);
    if (p.Between()) {
        EXPECT_EQ(tl.clipStart[1], c.bStart);
        EXPECT_EQ(tl.cut[0], c.cut);
        // Without the transition: A up to the cut, then B from its frame cut - bStart.
        EXPECT_EQ(tl.HardCut(c.cut - 1), (SourceRef{0, c.cut - 1}));
        EXPECT_EQ(tl.HardCut(c.cut), (SourceRef{1, c.cut - c.bStart}));
        EXPECT_EQ(tl.HardCut(c.total - 1), (SourceRef{1, c.clips[1] - 1}));
    } else {
        EXPECT_EQ(tl.HardCut(c.total - 1), (SourceRef{0, c.total - 1}));
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
    TavPluginType place = kPluginUnknownType;  // kBefore: put at the start, whatever its kind
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class PlacementRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(PlacementRefused, SaysWhy) {
    const RefusedCase& c = GetParam();
    Timeline tl;
    std::vector<std::string> warnings;
    std::string error;
    TransitionRequests r = Single(c.timing, c.clips.size());
    if (c.place == kPluginTransitionBeforeType) std::swap(r.open, r.close);
    EXPECT_FALSE(tavhost::LayOut(c.clips, r, &tl, &warnings, &error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlacementRefused,
    ::testing::Values(
        RefusedCase{"notATransition", {kPluginFilterType, 10, 10, 10}, {90}, "not a transition"},
        RefusedCase{"betweenAtTheEnd", {kBetween, 10, 10, 10}, {90}, "cannot go at the end"},
        RefusedCase{
            "closingAtTheStart", {kAfter, 10, 10, 0}, {90}, "cannot go at the start", kBefore},
        RefusedCase{"negativeTake", {kBetween, 10, -1, 10}, {90, 90}, "negative"},
        RefusedCase{"negativeLength", {kAfter, -4, 0, 0}, {90}, "negative"},
        RefusedCase{"noFrames", {kAfter, kUnset, 0, 0}, {90}, "no transition frame"}),
    [](const auto& info) { return std::string(info.param.name); });

// Sequences: several clips, a transition at each join and at the ends.
class SequenceLayout : public ::testing::Test {
  protected:
    static TransitionRequest Mix(int32_t n, int32_t length = 0, bool exact = false) {
        return {{kBetween, n, n, n}, "join", length, exact};
    }
    bool Lay(std::vector<int64_t> clips, const TransitionRequests& r) {
        warnings.clear();
        return tavhost::LayOut(clips, r, &tl, &warnings, &error);
    }
    Timeline tl;
    std::vector<std::string> warnings;
    std::string error;
};

TEST_F(SequenceLayout, ThreeClipsTwoJoins) {
    TransitionRequests r;
    r.joins = {Mix(20), Mix(20)};
    ASSERT_TRUE(Lay({90, 60, 90}, r)) << error;
    EXPECT_EQ(tl.clipStart, (std::vector<int64_t>{0, 70, 110}));
    EXPECT_EQ(tl.cut, (std::vector<int64_t>{80, 120}));
    EXPECT_EQ(tl.total, 200);
    ASSERT_EQ(tl.transitions.size(), 2u);
    EXPECT_EQ(tl.transitions[0].start, 70);
    EXPECT_EQ(tl.transitions[1].start, 110);
    EXPECT_EQ(tl.HardCut(79), (SourceRef{0, 79}));
    EXPECT_EQ(tl.HardCut(80), (SourceRef{1, 10}));
    EXPECT_EQ(tl.HardCut(119), (SourceRef{1, 49}));
    EXPECT_EQ(tl.HardCut(120), (SourceRef{2, 10}));
    SourceRef ref;
    ASSERT_TRUE(tl.transitions[1].Map(110, &ref));
    EXPECT_EQ(ref, (SourceRef{1, 40}));
    ASSERT_TRUE(tl.transitions[1].Map(130, &ref));
    EXPECT_EQ(ref, (SourceRef{2, 0}));
    EXPECT_TRUE(warnings.empty());
}

TEST_F(SequenceLayout, OpenJoinAndClose) {
    TransitionRequests r;
    r.open = TransitionRequest{{kBefore, 10, 0, 10}, "open"};
    r.joins = {Mix(20)};
    r.close = TransitionRequest{{kAfter, 10, 10, 0}, "close"};
    ASSERT_TRUE(Lay({50, 50}, r)) << error;
    ASSERT_EQ(tl.transitions.size(), 3u);
    EXPECT_EQ(tl.slots, (std::vector<int>{-1, 0, 1}));
    EXPECT_EQ(tl.transitions[0].start, 0);
    EXPECT_EQ(tl.transitions[1].start, 30);
    EXPECT_EQ(tl.transitions[2].start, 70);
    EXPECT_EQ(tl.total, 80);
    SourceRef ref;
    ASSERT_TRUE(tl.transitions[2].Map(79, &ref));
    EXPECT_EQ(ref, (SourceRef{1, 49}));
    EXPECT_EQ(tl.FirstUse(1), 30);
    EXPECT_EQ(tl.LastUse(0), 49);
}

TEST_F(SequenceLayout, AClipTooShortForBothJoinsIsSplitBetweenThem) {
    TransitionRequests r;
    r.joins = {Mix(20), Mix(20)};
    ASSERT_TRUE(Lay({90, 30, 90}, r)) << error;
    EXPECT_EQ(tl.transitions[0].frames, 15);
    EXPECT_EQ(tl.transitions[1].frames, 15);
    EXPECT_EQ(tl.transitions[0].start + 15, tl.transitions[1].start);
    EXPECT_EQ(warnings.size(), 2u);
}

TEST_F(SequenceLayout, AMissingJoinIsAPlainCut) {
    TransitionRequests r;
    r.joins = {Mix(10), std::nullopt};
    ASSERT_TRUE(Lay({40, 40, 40}, r)) << error;
    EXPECT_EQ(tl.clipStart, (std::vector<int64_t>{0, 30, 70}));
    EXPECT_EQ(tl.cut, (std::vector<int64_t>{35, 70}));
    EXPECT_EQ(tl.total, 110);
    EXPECT_EQ(tl.transitions.size(), 1u);
}

TEST_F(SequenceLayout, AnExactLengthTheClipsCannotHoldIsRefused) {
    TransitionRequests r;
    r.joins = {Mix(66, 40, true)};
    EXPECT_FALSE(Lay({30, 30}, r));
    EXPECT_NE(error.find("join is longer than its clips allow: 30 frames instead of 40"),
              std::string::npos)
        << error;
    r.joins = {Mix(66, 40, false)};
    EXPECT_TRUE(Lay({30, 30}, r)) << error;
    EXPECT_EQ(tl.transitions[0].frames, 30);
}

// Over many clip lengths: transitions in order and apart, every frame they
// or the hard cut ask for inside its clip, cuts rising.
TEST_F(SequenceLayout, EveryLayoutStaysInsideItsClips) {
    TransitionRequests r;
    r.open = TransitionRequest{{kBefore, 12, 0, 12}, "open"};
    r.joins = {Mix(20), TransitionRequest{{kBetween, kUnset, 9, 9}, "halves"}};
    r.close = TransitionRequest{{kAfter, 14, 14, 0}, "close"};
    for (int64_t a = 1; a <= 40; a += 3)
        for (int64_t b = 1; b <= 40; b += 3)
            for (int64_t c = 1; c <= 40; c += 3) {
                const std::vector<int64_t> clips = {a, b, c};
                if (!Lay(clips, r)) {
                    EXPECT_NE(error.find("no transition frame"), std::string::npos) << error;
                    continue;
                }
                for (size_t k = 0; k + 1 < tl.transitions.size(); ++k)
                    EXPECT_LE(tl.transitions[k].start + tl.transitions[k].frames,
                              tl.transitions[k + 1].start);
                for (size_t k = 0; k + 1 < tl.cut.size(); ++k) EXPECT_LT(tl.cut[k], tl.cut[k + 1]);
                for (int64_t t = 0; t < tl.total; ++t) {
                    const SourceRef ref = tl.HardCut(t);
                    ASSERT_GE(ref.index, 0) << a << " " << b << " " << c << " t " << t;
                    ASSERT_LT(ref.index, clips[size_t(ref.clip)]);
                    EXPECT_LE(tl.FirstUse(size_t(ref.clip)), t);
                    EXPECT_GE(tl.LastUse(size_t(ref.clip)), t);
                }
                for (const Placement& p : tl.transitions) {
                    EXPECT_GE(p.start, 0);
                    EXPECT_LE(p.start + p.frames, tl.total);
                    for (int32_t n = 0; n < 2 * p.frames; ++n) {
                        SourceRef ref;
                        if (!p.Map(int32_t(p.start) + n, &ref)) continue;
                        EXPECT_LE(tl.FirstUse(size_t(ref.clip)), p.start + n % p.frames);
                        EXPECT_GE(tl.LastUse(size_t(ref.clip)), p.start + n % p.frames);
                    }
                }
            }
}

}  // namespace
}  // namespace tavtest

// Pieces of a render: cuts of about equal length never inside a transition,
// only where allowed, empty pieces when there are too few places to cut, and
// a warm-up from the start of a transition whose clip is still shown.
#include "pieces.h"

#include <gtest/gtest.h>

namespace tavtest {
namespace {

using tavhost::Piece;
using tavhost::Timeline;
using tavhost::TransitionRequest;
using tavhost::TransitionRequests;

struct PieceCase {
    const char* name;
    std::vector<int64_t> clips;
    int32_t open = 0;                 // frames of a reveal opening the first clip
    std::vector<int32_t> joins = {};  // frames of each join's transition (0: a cut)
    int count = 1;
    int64_t cutEvery = 0;  // cuts allowed only at multiples of this (0: anywhere)
    std::vector<Piece> expected = {};
};

void PrintTo(const PieceCase& c, std::ostream* os) {
    *os << c.name;
}

class Pieces : public ::testing::TestWithParam<PieceCase> {};

TEST_P(Pieces, CutOutsideTransitionsAndWarmUpWhereAFadeCarriesOn) {
    const PieceCase& c = GetParam();
    TransitionRequests r;
    if (c.open)
        r.open = TransitionRequest{{kPluginTransitionBeforeType, c.open, 0, c.open}, "open"};
    for (int32_t n : c.joins)
        r.joins.push_back(
            n ? std::optional(TransitionRequest{{kPluginTransitionBetweenType, n, n, n}, "join"})
              : std::nullopt);
    r.joins.resize(c.clips.size() - 1);
    Timeline tl;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(tavhost::LayOut(c.clips, r, &tl, &warnings, &error)) << error;
    std::function<bool(int64_t)> cuttable;
    if (c.cutEvery) cuttable = [&](int64_t t) { return t % c.cutEvery == 0; };
    const std::vector<Piece> pieces = tavhost::CutIntoPieces(tl, c.count, cuttable);
    ASSERT_EQ(pieces.size(), c.expected.size());
    int64_t at = 0;
    for (size_t k = 0; k < pieces.size(); ++k) {
        EXPECT_EQ(pieces[k].first, c.expected[k].first) << "piece " << k;
        EXPECT_EQ(pieces[k].end, c.expected[k].end) << "piece " << k;
        EXPECT_EQ(pieces[k].warmUp, c.expected[k].warmUp) << "piece " << k;
        // Together the pieces are the whole timeline, in order.
        EXPECT_EQ(pieces[k].first, at);
        at = pieces[k].end;
        for (const auto& p : tl.transitions) {
            EXPECT_FALSE(pieces[k].first > p.start && pieces[k].first < p.start + p.frames);
        }
    }
    if (!pieces.empty()) {
        EXPECT_EQ(at, tl.total);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Pieces,
    ::testing::Values(
        PieceCase{.name = "whole", .clips = {90, 90}, .joins = {20}, .expected = {{0, 160, 0}}},
        PieceCase{.name = "none", .clips = {90}, .count = 0},
        // The middle falls in the join (70..89): the cut goes to its start.
        PieceCase{.name = "middleInAJoin",
                  .clips = {90, 90},
                  .joins = {20},
                  .count = 2,
                  .expected = {{0, 70, 0}, {70, 160, 70}}},
        // The reveal over the clip's first 10 frames left its fade on the clip.
        PieceCase{.name = "afterAReveal",
                  .clips = {100},
                  .open = 10,
                  .count = 2,
                  .expected = {{0, 50, 0}, {50, 100, 0}}},
        // Clip 0's join is over and clip 1 is shown: nothing to warm up.
        PieceCase{.name = "afterAJoin",
                  .clips = {90, 60, 90},
                  .joins = {20, 20},
                  .count = 2,
                  .expected = {{0, 100, 0}, {100, 200, 100}}},
        PieceCase{.name = "threeOverTwoJoins",
                  .clips = {90, 60, 90},
                  .joins = {20, 20},
                  .count = 3,
                  .expected = {{0, 67, 0}, {67, 133, 67}, {133, 200, 133}}},
        // All 30 frames are one transition: only its ends can be cuts.
        PieceCase{.name = "tooFewCuts",
                  .clips = {30, 30},
                  .joins = {30},
                  .count = 3,
                  .expected = {{0, 0, 0}, {0, 30, 0}, {30, 30, 30}}},
        PieceCase{.name = "onlyWhereAllowed",
                  .clips = {100},
                  .count = 3,
                  .cutEvery = 30,
                  .expected = {{0, 30, 0}, {30, 60, 30}, {60, 100, 60}}},
        PieceCase{.name = "plainCuts",
                  .clips = {50, 50, 50},
                  .joins = {0, 0},
                  .count = 3,
                  .expected = {{0, 50, 0}, {50, 100, 50}, {100, 150, 100}}}));

}  // namespace
}  // namespace tavtest

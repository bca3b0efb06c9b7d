// A render cut into pieces that are rendered apart and joined afterwards:
// where each piece starts and ends on the output timeline, and from where it
// must render so that its frames and sound are the whole render's.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "placement.h"

namespace tavhost {

struct Piece {
    int64_t first = 0;   // the first output frame the piece writes
    int64_t end = 0;     // one past its last; first == end for an empty piece
    int64_t warmUp = 0;  // the first frame it renders (<= first), not written
    int index = 0;       // which piece of how many (1-based); 0 of 0: the whole render
    int count = 0;
};

// Cuts the timeline into `count` pieces of about equal length. A cut never
// falls inside a transition, and only where `cuttable` allows (the copy
// plan's group starts, for instance; everywhere when empty). When the
// timeline has fewer places to cut than pieces, some pieces are empty.
//
// A transition leaves its clip's fade in the clip's record at Terminate, and
// the clip's later sound is faded with it: a piece that starts while such a
// clip is still shown renders from that transition's start (warmUp) and
// writes from `first`, so it takes the same fades as the whole render.
std::vector<Piece> CutIntoPieces(const Timeline& timeline, int count,
                                 const std::function<bool(int64_t)>& cuttable = {});

}  // namespace tavhost

#include "pieces.h"

#include <algorithm>

namespace tavhost {

namespace {

bool InsideATransition(const Timeline& tl, int64_t cut) {
    for (const Placement& p : tl.transitions)
        if (cut > p.start && cut < p.start + p.frames) return true;
    return false;
}

// The cut nearest `target` at or after `from`; the timeline's end when none.
int64_t NearestCut(const Timeline& tl, int64_t target, int64_t from,
                   const std::function<bool(int64_t)>& cuttable) {
    auto ok = [&](int64_t c) {
        return c >= from && c <= tl.total && !InsideATransition(tl, c) &&
               (!cuttable || cuttable(c));
    };
    for (int64_t d = 0; d <= tl.total; ++d) {
        if (ok(target - d)) return target - d;
        if (ok(target + d)) return target + d;
    }
    return tl.total;
}

}  // namespace

std::vector<Piece> CutIntoPieces(const Timeline& tl, int count,
                                 const std::function<bool(int64_t)>& cuttable) {
    std::vector<Piece> pieces;
    if (count < 1) return pieces;
    int64_t first = 0;
    for (int k = 1; k <= count; ++k) {
        const int64_t end =
            k == count ? tl.total
                       : NearestCut(tl, (tl.total * k + count / 2) / count, first, cuttable);
        Piece piece{first, end, first};
        // Clips come one after another: only the clip shown at `first` can
        // still carry a fade from a transition that is over.
        const int shown = first < tl.total ? tl.HardCut(first).clip : -1;
        for (const Placement& p : tl.transitions)
            if (p.start + p.frames <= first && p.clip == shown)
                piece.warmUp = std::min(piece.warmUp, p.start);
        pieces.push_back(piece);
        first = end;
    }
    return pieces;
}

}  // namespace tavhost

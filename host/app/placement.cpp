#include "placement.h"

#include <algorithm>

namespace tavhost {

SourceRef Placement::HardCut(int64_t t) const {
    if (!Between()) return {0, t};
    return t < cut ? SourceRef{0, t} : SourceRef{1, t - bStart};
}

bool Placement::Map(int32_t number, SourceRef* ref) const {
    const int64_t r = int64_t(number) - start;
    if (r < 0) return false;
    switch (type) {
        case kPluginTransitionBetweenType:
            if (r < frames)
                *ref = {0, clipFrames[0] - before + r};
            else if (r < 2 * int64_t(frames))
                *ref = {1, r - frames};
            else
                return false;
            break;
        case kPluginTransitionBeforeType:
        case kPluginTransitionAfterType:
            if (r >= frames) return false;
            *ref = {0, start + r};
            break;
        default:
            return false;
    }
    return ref->index >= 0 && ref->index < clipFrames[ref->clip];
}

bool Place(const TransitionTiming& timing, const std::string& bundle,
           const std::vector<int64_t>& clipFrames, Placement* p, std::vector<std::string>* warnings,
           std::string* error) {
    constexpr int32_t kUnset = TransitionTiming::kUnsetFrames;
    *p = Placement{};
    p->type = timing.type;
    const size_t clipCount = clipFrames.size();
    const bool between = p->Between();
    if (!between && p->type != kPluginTransitionBeforeType &&
        p->type != kPluginTransitionAfterType) {
        *error =
            bundle + " is not a transition (plug-in type " + std::to_string(int(p->type)) + ")";
        return false;
    }
    if (between && clipCount != 2) {
        *error = bundle + " goes between two clips: give two clips";
        return false;
    }
    if (!between && clipCount != 1) {
        *error = bundle + (p->type == kPluginTransitionBeforeType ? " opens" : " closes") +
                 " one clip: give one clip";
        return false;
    }
    p->clipFrames[0] = clipFrames[0];
    p->clipFrames[1] = between ? clipFrames[1] : 0;
    const int32_t wanted = timing.frames;
    if (timing.takeBefore < 0 || timing.takeAfter < 0 || (wanted != kUnset && wanted < 0)) {
        *error = bundle + " asked for a negative number of frames";
        return false;
    }
    int64_t n = 0;
    if (between) {
        const int64_t nA = clipFrames[0], nB = clipFrames[1];
        int64_t before = timing.takeBefore, after = timing.takeAfter;
        if (wanted != kUnset && wanted == before && wanted == after) {
            // The plug-in mixes N frames of A with N frames of B: the clips
            // overlap by N, shortened to the shorter clip.
            n = before = after = std::min<int64_t>({wanted, nA, nB});
        } else {
            // Its frames come one after the other: no overlap beyond what
            // it renders fewer than it takes.
            before = std::min(before, nA);
            after = std::min(after, nB);
            n = wanted == kUnset ? before + after : std::min<int64_t>(wanted, before + after);
        }
        p->before = int32_t(before);
        p->after = int32_t(after);
        const int64_t overlap = std::max<int64_t>(0, before + after - n);
        p->bStart = nA - overlap;
        p->cut = nA - overlap / 2;
        p->start = nA - before;
        p->total = p->bStart + nB;
    } else {
        n = std::min<int64_t>(wanted == kUnset ? 0 : wanted, clipFrames[0]);
        p->start = p->type == kPluginTransitionBeforeType ? 0 : clipFrames[0] - n;
        p->total = clipFrames[0];
        p->before = p->type == kPluginTransitionAfterType ? int32_t(n) : 0;
        p->after = p->type == kPluginTransitionBeforeType ? int32_t(n) : 0;
    }
    if (n <= 0) {
        *error = "the clips are too short for " + bundle + ": no transition frame";
        return false;
    }
    if (wanted != kUnset && n < wanted)
        warnings->push_back("the clips are shorter than the transition: " + std::to_string(n) +
                            " frames instead of " + std::to_string(wanted));
    p->frames = int32_t(n);
    return true;
}

}  // namespace tavhost

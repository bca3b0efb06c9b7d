// Where a transition sits in the edited sequence: from GetInfo's answer and
// the clips' lengths, which output frames the transition covers and which
// clip frame lies behind every frame, with or without the transition.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "instance.h"

namespace tavhost {

struct SourceRef {
    int clip = 0;
    int64_t index = 0;
    bool operator==(const SourceRef&) const = default;
};

// Frame numbering shared with the plug-in: the transition's output frame i
// (0 <= i < frames) is DoFrame's renderFrame i with startFrame = `start`, so
// the plug-in asks for frame number start + i and, between two clips, also
// start + i + frames. Map() turns those numbers back into clip frames.
//
// Between two clips, clip B starts `bStart` frames into the output: the
// clips overlap by before + after - frames frames (all of the transition
// when the plug-in takes the same N from both sides and renders N, none when
// it renders before + after). The transition's first frame is the frame
// `before` frames from A's end, and a hard cut between A and B falls in the
// middle of the overlap.
struct Placement {
    TavPluginType type = kPluginUnknownType;
    int32_t frames = 0;  // N: DoFrame calls
    int32_t before = 0;  // frames of clip A under the transition
    int32_t after = 0;   // frames of clip B under the transition
    int64_t start = 0;   // first output frame of the transition
    int64_t total = 0;   // output frames of the whole sequence
    int64_t bStart = 0;  // output frame where clip B starts
    int64_t cut = 0;     // where a hard cut between A and B would fall
    int64_t clipFrames[2] = {0, 0};

    bool Between() const { return type == kPluginTransitionBetweenType; }
    bool InTransition(int64_t t) const { return t >= start && t < start + frames; }
    // What an editor shows at output frame t without the transition.
    SourceRef HardCut(int64_t t) const;
    // The clip frame behind frame `number` of the plug-in's numbering; false
    // for a number outside the transition's frames.
    bool Map(int32_t number, SourceRef* ref) const;
};

// Places a transition of `timing` over clips of the given lengths (one clip
// or two). A transition longer than its clips is shortened, with a warning.
// On failure returns false and says why in `error`, naming `bundle`.
bool Place(const TransitionTiming& timing, const std::string& bundle,
           const std::vector<int64_t>& clipFrames, Placement* placement,
           std::vector<std::string>* warnings, std::string* error);

}  // namespace tavhost

// Where the transitions sit in an edited sequence: from GetInfo's answers and
// the clips' lengths, where every clip starts, which output frames each
// transition covers and which clip frame lies behind every frame, with or
// without the transitions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "instance.h"

namespace tavhost {

struct SourceRef {
    int clip = 0;
    int64_t index = 0;
    bool operator==(const SourceRef&) const = default;
};

// One transition on the output timeline.
//
// Frame numbering shared with the plug-in: the transition's output frame i
// (0 <= i < frames) is DoFrame's renderFrame i with startFrame = `start`, so
// the plug-in asks for frame number start + i and, between two clips, also
// start + i + frames. Map() turns those numbers back into clip frames.
//
// Between clips A and B, B starts before + after - frames frames before A's
// end (all of the transition when the plug-in takes the same N from both
// sides and renders N, none when it renders before + after). The
// transition's first frame is the frame `before` frames from A's end, and a
// hard cut between A and B falls in the middle of the overlap.
struct Placement {
    TavPluginType type = kPluginUnknownType;
    int32_t frames = 0;              // N: DoFrame calls
    int32_t before = 0;              // frames of clip A (or the clip closed) under the transition
    int32_t after = 0;               // frames of clip B (or the clip opened) under the transition
    int64_t start = 0;               // first output frame of the transition
    int clip = 0;                    // clip A of a join, or the clip opened or closed
    int64_t clipStart = 0;           // output frame where `clip` starts
    int64_t clipFrames[2] = {0, 0};  // lengths of `clip` and, between clips, the next

    bool Between() const { return type == kPluginTransitionBetweenType; }
    bool InTransition(int64_t t) const { return t >= start && t < start + frames; }
    int64_t Overlap() const { return Between() ? int64_t(before) + after - frames : 0; }
    // The clip frame behind frame `number` of the plug-in's numbering; false
    // for a number outside the transition's frames.
    bool Map(int32_t number, SourceRef* ref) const;
};

// What one place of the sequence asks for: GetInfo's answer and, when the
// user gave a length, that length. `name` says which place and bundle in
// messages. With `exact`, a length the clips cannot hold is an error rather
// than shortened with a warning.
struct TransitionRequest {
    TransitionTiming timing;
    std::string name;
    int32_t length = 0;  // 0: the length GetInfo gave
    bool exact = false;
};

// The places a sequence of clips has for transitions: one opening the first
// clip, one at each join between neighbours (none: a plain cut), one closing
// the last clip.
struct TransitionRequests {
    std::optional<TransitionRequest> open;
    std::vector<std::optional<TransitionRequest>> joins;  // one per pair of neighbours
    std::optional<TransitionRequest> close;
};

// The sequence laid out on the output timeline.
struct Timeline {
    std::vector<int64_t> clipFrames;
    std::vector<int64_t> clipStart;  // output frame where clip j starts
    std::vector<int64_t> cut;        // cut[j]: where clip j + 1 takes over in a hard cut
    int64_t total = 0;               // output frames of the whole sequence
    // The transitions in output order; they never share a frame.
    std::vector<Placement> transitions;
    // The request each transition came from: -1 the opening, k join k, and
    // the number of joins for the closing.
    std::vector<int> slots;

    // What an editor shows at output frame t without the transitions.
    SourceRef HardCut(int64_t t) const;
    // The output frames over which clip j is read: shown or handed to a plug-in.
    int64_t FirstUse(size_t clip) const;
    int64_t LastUse(size_t clip) const;
};

// Lays out clips of the given lengths with the requested transitions. A
// transition longer than its clips is shortened with a warning (an error
// when exact); clips shared by two transitions are split between them. On
// failure returns false and says why in `error`, naming the request.
bool LayOut(const std::vector<int64_t>& clipFrames, const TransitionRequests& requests,
            Timeline* timeline, std::vector<std::string>* warnings, std::string* error);

}  // namespace tavhost

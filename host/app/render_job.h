// What a render is asked to do, as the command line or an edit file gives
// it, and what it reports when done: the request every later stage reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "edit.h"

namespace tavhost {

struct RenderJob {
    // The command line's transition, placed by its kind: at every join of
    // two or more clips, or at the start or end of one clip.
    std::string bundle;
    int16_t variant = 3;
    float speed = 0.5f;
    std::optional<TimeValue> length;             // wins over the speed
    std::optional<uint32_t> seed;                // the first transition's; the k-th gets seed + k
    std::optional<TransitionEntry> open, close;  // --open, --close
    std::vector<ClipEntry> clips;
    // When set, the clips and transitions come from this edit file instead.
    std::string editFile;

    OutputSettings settings;
    bool preview = false;
    std::string caption;
    std::string contactSheet;  // image of frames of every transition, if set
    std::string output;
    bool strict = false;  // a damaged clip is an error
    bool quiet = false;
};

struct RenderSummary {
    int64_t frames = 0;
    int clips = 0;
    int32_t transitionFrames = 0;  // the first transition's
    int64_t transitionStart = 0;
    int transitions = 0;
    int64_t copiedFrames = 0;  // copied from the clips rather than encoded
    double seconds = 0.0;
    uint32_t seed = 0;
    std::vector<std::string> warnings;
};

}  // namespace tavhost

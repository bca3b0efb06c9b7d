// The render loop: every output frame of a planned sequence, in order, each
// transition's frames drawn by its bundle over the hard cut's picture, the
// whole sequence written as a movie or a series of images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "error.h"
#include "sequence.h"

namespace tavhost {

struct RenderSummary {
    int64_t frames = 0;
    int clips = 0;
    int32_t transitionFrames = 0;  // the first transition's
    int64_t transitionStart = 0;
    int transitions = 0;
    int64_t copiedFrames = 0;         // copied from the clips rather than encoded
    double copiedSoundSeconds = 0.0;  // the clips' sound copied rather than encoded
    double seconds = 0.0;
    uint32_t seed = 0;
    std::vector<std::string> warnings;
};

// Renders `sequence`. Returns true on success; otherwise `error` says why in
// one line. Warnings go to `summary`.
bool RenderSequence(Sequence& sequence, RenderSummary* summary, Error* error);

}  // namespace tavhost

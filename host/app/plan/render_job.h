// What a render is asked to do, as the command line or an edit file gives
// it: the request the plan reads.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "edit.h"

namespace tavhost {

struct RenderJob {
    // The command line's transition, placed by its kind: at every join of
    // two or more clips, or at the start or end of one clip.
    // Its seed is the first transition's; the k-th gets seed + k.
    TransitionEntry transition;
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
    // --part K/N: only piece `index` (1-based) of `count`; count 0: the whole.
    struct Part {
        int index = 0, count = 0;
    } part;
};

}  // namespace tavhost

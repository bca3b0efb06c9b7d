// What a render that copies the clips' sound does with it: which frames'
// sound may go in as the clips' packets, and what a part notes of the sound
// past its end for its join.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "clip_pool.h"
#include "clip_sound.h"
#include "sequence.h"
#include "sinks.h"

namespace tavhost {

// Whether frame sound `cut` of `clip`, `floats` long, is the clip's own as
// it is (outside a transition): a movie may copy it.
bool CopyableSound(const PlannedClip& clip, const media::Frame& cut, size_t floats);

// A part: where the sound of the frames after it comes from, as far as its
// last clip packets reach, told to `sink`.
bool NoteSoundAfter(const Sequence& plan, ClipPool& pool, const std::vector<Fade>& fades,
                    Sink& sink, std::string* error);

}  // namespace tavhost

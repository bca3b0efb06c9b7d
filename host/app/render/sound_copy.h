// What a render that copies pictures does for the clips' sound: which clips
// it copies, how their sound is read so that it can be, and what a part
// notes of the sound past its end for its join.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "clip_pool.h"
#include "clip_sound.h"
#include "sequence.h"
#include "sinks.h"
#include "sound_packets.h"

namespace tavhost {

// The clips' own sound packets (clips without sound, and stills, have none).
std::shared_ptr<SoundPackets> ClipSoundOf(const Sequence& plan);

// Each clip whose sound `sound` copies is read with its packets on the
// movie's grid of packets. That needs a whole number of samples a frame, so
// that a clip's sound lies at one offset throughout.
void PlaceSoundOnPacketGrid(Sequence& plan, const SoundSource& sound);

// Whether frame sound `cut` of `clip`, `floats` long, is the clip's own as
// it is (outside a transition): a movie may copy it.
bool CopyableSound(const PlannedClip& clip, const media::Frame& cut, size_t floats);

// A part: where the sound of the frames after it comes from, as far as its
// last clip packets reach, told to `sink`.
bool NoteSoundAfter(const Sequence& plan, ClipPool& pool, const std::vector<Fade>& fades,
                    Sink& sink, std::string* error);

}  // namespace tavhost

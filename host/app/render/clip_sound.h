// A clip's settings as the plug-in sees them, and its sound: the fades a
// plug-in sets at Terminate, applied to chunks of sound held until then.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media_types.h"
#include "tav/plugin.h"

namespace tavhost {

// The clip record served by GetClipInfo: name, full volume, normal speed, length.
void InitClipRecord(TavPluginClipInfo& clip, const std::string& path, int64_t frames);

// Fades over a clip of `clipFrames` frames, linear in samples.
struct Fade {
    bool in = false, out = false;
    int64_t inFrames = 0, outFrames = 0, clipFrames = 0;

    // The fades a clip record carries, for a clip of `clipFrames` frames.
    static Fade FromClipRecord(const TavPluginClipInfo& clip, int64_t clipFrames);
    // Scales the sound of clip frame `clipIndex` (interleaved, in `sound`).
    void Apply(int64_t clipIndex, media::Rational fps, media::SoundFormat sound,
               std::vector<float>& samples) const;
    // Whether Apply would change any of `samples` samples of clip frame `clipIndex`.
    bool Touches(int64_t clipIndex, media::Rational fps, int rate, int64_t samples) const;
};

// One output frame's sound and the clip frame it belongs to.
struct SoundChunk {
    int clip = 0;
    int64_t clipIndex = 0;
    std::vector<float> samples;
    bool written = true;  // false for a frame before the piece a render writes
    // The clip's decoded sound as it is (no transition's, none added or cut
    // off), with where its packets begin: the movie may copy them.
    bool unchanged = false;
    std::vector<media::SoundAnchor> anchors;
    bool decoded = true;  // false: the reader left some of it silent, for the movie to copy
};

}  // namespace tavhost

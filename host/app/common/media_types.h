// The plain values every stage of tavhost shares: the output's format (its
// size, rate and sound), how a clip is fitted, and a colour description.
#pragma once

#include <cstdint>
#include <string>

#include "media_format.h"

namespace tavhost::media {

using tavhost::kChannels;
using tavhost::kSampleRate;
using tavhost::OutputFormat;
using tavhost::Rational;
using tavhost::SoundFormat;

// First sample of output frame `index` at `fps`, at `rate` samples a second.
inline int64_t FrameSampleStart(int64_t index, Rational fps, int rate = kSampleRate) {
    return index * rate * fps.den / fps.num;
}

// How a clip is fitted into an output frame of another shape.
enum class Fit { kPad, kCrop, kStretch };

// A colour description as FFmpeg names each part ("bt709", "smpte170m",
// ...; "unknown" when untagged).
struct ColourTags {
    std::string primaries, transfer, matrix, range;
};

}  // namespace tavhost::media

// The plain values every stage of tavhost shares: rates, the sound's format,
// how a clip is fitted, and a colour description.
#pragma once

#include <cstdint>
#include <string>

namespace tavhost::media {

struct Rational {
    int num = 30;
    int den = 1;
    double Value() const { return double(num) / double(den); }
};

// Sound travels as interleaved float samples: by default 48 kHz stereo, or
// the first clip's rate and channels (FFmpeg's default layout for the count).
constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
struct SoundFormat {
    int rate = kSampleRate;
    int channels = kChannels;
};

// First sample of output frame `index` at `fps`, at `rate` samples a second.
int64_t FrameSampleStart(int64_t index, Rational fps, int rate = kSampleRate);

// How a clip is fitted into an output frame of another shape.
enum class Fit { kPad, kCrop, kStretch };

// A colour description as FFmpeg names each part ("bt709", "smpte170m",
// ...; "unknown" when untagged).
struct ColourTags {
    std::string primaries, transfer, matrix, range;
};

}  // namespace tavhost::media

// The plain values every stage of tavhost shares: the output's format (its
// size, rate and sound), how a clip is fitted, and a colour description.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media_format.h"

struct AVPacket;

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

// Samples in one AAC packet.
constexpr int kPacketSamples = 1024;
// Packets of sound a movie's AAC encoder is given before the stretch it
// writes after copied sound. A new encoder windows its first sound as an
// onset and starts its rate control afresh; on a steady tone it codes as one
// running through after about 100 packets (measured at 48 kHz, 192 kb/s).
constexpr int kLeadInPackets = 128;

// Where a clip's compressed sound packet begins in a stretch of decoded
// samples: `packet` (timestamp `pts` in the clip's sound stream), as the
// clip's reader demuxed it, decodes to the 1024 samples from `offset` on.
struct SoundAnchor {
    int64_t offset = 0;
    int64_t pts = 0;
    std::shared_ptr<const AVPacket> packet;
};

// Sound that is clip `clip`'s decoded sound unchanged, with the places its
// packets begin: what a movie may copy as the clip's own packets. Sound a
// reader did not decode (`decoded` false: it lies deep inside copied
// pictures) is silence and must be copied.
struct SoundOrigin {
    int clip = 0;
    std::vector<SoundAnchor> anchors;
    bool decoded = true;
};

// How a clip is fitted into an output frame of another shape.
enum class Fit { kPad, kCrop, kStretch };

// A colour description as FFmpeg names each part ("bt709", "smpte170m",
// ...; "unknown" when untagged).
struct ColourTags {
    std::string primaries, transfer, matrix, range;
};

}  // namespace tavhost::media

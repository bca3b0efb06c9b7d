// What a movie carries, decided before it is written: the sound format its
// encoder takes, its colour description, the sizes its encoders take, and
// how the encoder's spans fit between copied H.264 pictures.
#pragma once

#include <string>
#include <vector>

#include "aac_units.h"
#include "av_util.h"
#include "media_types.h"
#include "movie_writer.h"
#include "picture_convert.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace tavhost::media {

// The tags of what the output's matrix converts to.
struct OutputColour {
    AVColorSpace matrix;
    AVColorPrimaries primaries;
    AVColorTransferCharacteristic transfer;
};
OutputColour OutputColourFor(Matrix matrix);

// x264's settings for a span between copied pictures: x264 writes as many
// reference frames as pictures buffered, at least its own refs, one more
// than its reorder depth, and 4 with a B-pyramid; so the clips' count is met
// with refs, and below 4 without the pyramid (and at 1 without B).
std::string X264SpanParams(const PassThrough& copy);

// Why the encoder's SPS (in `encoderSets`, its extradata) does not keep the
// picture buffer the copied SPS keeps, or empty when it does. Where one takes
// over from the other at an IDR picture, a smaller buffer lets a conforming
// decoder drop pictures not yet shown.
std::string BufferMismatch(const std::vector<uint8_t>& encoderSets, const h264::DpbNeeds& theirs);

// The movie's video encoder (x264, or VP9 for WebM), opened with the
// movie's size, rate, colour tags and encoding; with `copy`, as a span
// between copied pictures. Null with FFmpeg's reason in `why`.
CodecPtr OpenVideoCoder(const MovieOptions& options, bool webm, bool globalHeader,
                        std::string* why);
// The movie's sound encoder: AAC or PCM (`codec`), or Opus for WebM, at `sound`.
CodecPtr OpenSoundCoder(const AVCodec* codec, SoundFormat sound, bool webm, bool globalHeader,
                        std::string* why);

// The AAC configuration a movie's sound encoder writes for `sound` (a
// format it takes, see SoundFormatFor): a clip's AAC packets with the same
// decode as its own.
AacConfig AacConfigFor(SoundFormat sound);

// Why the encoder's spans could not sit between pictures copied with `copy`
// in a movie of `options` (its picture buffer differs), or empty when they can.
std::string SpanMismatch(const MovieOptions& options, const PassThrough& copy);

}  // namespace tavhost::media

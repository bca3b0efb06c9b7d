// What a movie carries, decided before it is written: the sound format its
// encoder takes, its colour description, the sizes its encoders take, and
// how the encoder's spans fit between copied H.264 pictures.
#pragma once

#include <string>
#include <vector>

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

}  // namespace tavhost::media

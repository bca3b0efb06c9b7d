// Composing a recorded frame in one pass: every pixel of the target written
// once from the layer that shows there, in any layout of planes (the worlds'
// 32-bit pixels, RGBA bytes, planar YUV with subsampled chroma).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame_recording.h"

namespace tavhost {

// How pixels are laid out: up to three planes, each with samples of 1, 2 or
// 4 bytes, the chroma planes subsampled by 2^shift across and down.
struct PlaneLayout {
    int planes = 1;
    int bytes[3] = {4, 0, 0};
    int shiftX[3] = {0, 0, 0};
    int shiftY[3] = {0, 0, 0};

    static PlaneLayout Pixels() { return {}; }
    // Y, U and V planes, chroma halved both ways, `bytes` a sample.
    static PlaneLayout Yuv420(int bytes) {
        return {3, {bytes, bytes, bytes}, {0, 1, 1}, {0, 1, 1}};
    }
};

// A picture's planes: data[p] is the sample at the picture's top-left.
struct PlaneImage {
    uint8_t* data[3] = {nullptr, nullptr, nullptr};
    ptrdiff_t stride[3] = {0, 0, 0};
};

// What a layer is in the layout: a source's planes (its top-left is the
// source world's (0, 0)), or a fill colour's sample in each plane.
struct LayerPlanes {
    PlaneImage image;
    uint32_t fill[3] = {0, 0, 0};
};

// Whether `recording` can be composed in `layout` onto a picture covering
// `target` (world coordinates): everything drawn lies inside it, and every
// edge falls on the subsampled planes' grid (or on the target's own edge).
bool Fits(const FrameRecording& recording, const PlaneLayout& layout, const tav::PixelArea& target);

// Composes `recording` onto `out`, which covers `target`; `layers` holds
// one entry for each of the recording's layers. Pixels nothing was drawn
// over keep what `out` held. Call only where Fits() holds.
void Compose(const FrameRecording& recording, const PlaneLayout& layout,
             const tav::PixelArea& target, const PlaneImage& out,
             const std::vector<LayerPlanes>& layers);

}  // namespace tavhost

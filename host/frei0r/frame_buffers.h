// The frames of one frei0r call as the host runtime sees them: the editor's
// input buffers lent to the bundle as its source frames, and its output
// buffer as the target recorded frames are composed into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host.h"

namespace tavf0r {

// frei0r's RGBA8888 (bytes R, G, B, A) to the worlds' 0xAARRGGBB and back.
inline uint32_t SwapRedBlue(uint32_t p) {
    return (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
}

inline void CopyIn(const uint32_t* from, PixMap& to, unsigned width, unsigned height) {
    for (unsigned y = 0; y < height; ++y) {
        uint32_t* row = TavPixelRow(to, int(y));
        const uint32_t* src = from + size_t(y) * width;
        for (unsigned x = 0; x < width; ++x) row[x] = SwapRedBlue(src[x]);
    }
}

// The inputs of the frame being made, lent to the bundle as its source frames.
class Inputs : public tavhost::FrameProvider {
  public:
    const uint32_t* first = nullptr;
    const uint32_t* second = nullptr;
    int32_t firstNumber = 0;
    int32_t secondNumber = 0;
    unsigned width = 0, height = 0;

    // The input frame numbered `number`, or null.
    const uint32_t* Frame(int32_t number) const {
        return number == firstNumber ? first : number == secondNumber ? second : nullptr;
    }

    TavPluginResult ProvideFrame(int32_t number, bool, PixMap* picture, std::vector<float>& audio,
                                 int16_t& volume) override {
        const uint32_t* frame = Frame(number);
        if (!frame) return kPluginCantGetNeededFrame;
        if (picture) {
            const int w = picture->bounds.right - picture->bounds.left;
            const int h = picture->bounds.bottom - picture->bounds.top;
            if (unsigned(w) != width || unsigned(h) != height) return kPluginCantGetNeededFrame;
            CopyIn(frame, *picture, width, height);
        }
        audio.clear();  // frei0r carries no sound
        volume = 255;
        return kPluginOK;
    }
};

// The output buffer as the target recorded frames are composed into: the
// inputs' own pixels and the colours in frei0r's byte order, so a frame is
// one pass over the output with no conversion either way.
class OutputBuffer : public tavhost::ComposeTarget {
  public:
    OutputBuffer(const Inputs& inputs, uint32_t* out) : inputs_(inputs), out_(out) {}
    tavhost::PlaneLayout Layout() const override { return tavhost::PlaneLayout::Pixels(); }
    tavhost::PlaneImage Image() override {
        tavhost::PlaneImage image;
        image.data[0] = reinterpret_cast<uint8_t*>(out_);
        image.stride[0] = ptrdiff_t(inputs_.width) * 4;
        return image;
    }
    bool Source(int32_t number, bool, int32_t w, int32_t h, tavhost::PlaneImage* image) override {
        const uint32_t* frame = inputs_.Frame(number);
        // An input that is the output buffer itself would be overwritten
        // while it is read: the world takes that frame.
        if (!frame || frame == out_ || unsigned(w) != inputs_.width ||
            unsigned(h) != inputs_.height)
            return false;
        image->data[0] = reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(frame));
        image->stride[0] = ptrdiff_t(inputs_.width) * 4;
        return true;
    }
    void FillSamples(uint32_t pixel, uint32_t samples[3]) override {
        samples[0] = SwapRedBlue(pixel);
    }

  private:
    const Inputs& inputs_;
    uint32_t* out_;
};

}  // namespace tavf0r

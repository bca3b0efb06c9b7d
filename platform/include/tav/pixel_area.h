// Rectangles in 32-bit arithmetic for the code that touches pixels: every
// fill and copy, in the drawing layer and in hosts, clips through Clip() so
// that an empty or inverted rectangle touches nothing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "tav/draw_host.h"

namespace tav {

// Half-open: [left, right) x [top, bottom). Empty when either side is not positive.
struct PixelArea {
    int32_t top = 0;
    int32_t left = 0;
    int32_t bottom = 0;
    int32_t right = 0;

    static PixelArea Of(const Rect& r) { return {r.top, r.left, r.bottom, r.right}; }
    bool Empty() const { return right <= left || bottom <= top; }
    int32_t Width() const { return Empty() ? 0 : right - left; }
    int32_t Height() const { return Empty() ? 0 : bottom - top; }
    PixelArea Shifted(int32_t dx, int32_t dy) const {
        return {top + dy, left + dx, bottom + dy, right + dx};
    }
};

// The part of `a` inside `b`; empty (all zero) when they do not overlap or
// either is empty or inverted.
inline PixelArea Clip(const PixelArea& a, const PixelArea& b) {
    const PixelArea c = {std::max(a.top, b.top), std::max(a.left, b.left),
                         std::min(a.bottom, b.bottom), std::min(a.right, b.right)};
    return c.Empty() ? PixelArea{} : c;
}

// Fills `r`, clipped to the pixel map's bounds, with one pixel value. A wide
// fill writes its first row and copies that row down (library copies use the
// widest stores the processor has); a narrow one stores pixel by pixel.
inline void FillPixels(const PixMap& pm, const Rect& r, uint32_t pixel) {
    const PixelArea area = Clip(PixelArea::Of(r), PixelArea::Of(pm.bounds));
    if (area.Empty()) return;
    const int32_t left = area.left - pm.bounds.left, width = area.Width();
    uint32_t* first = TavPixelRow(pm, area.top - pm.bounds.top) + left;
    std::fill(first, first + width, pixel);
    for (int32_t y = area.top + 1; y < area.bottom; ++y) {
        uint32_t* row = TavPixelRow(pm, y - pm.bounds.top) + left;
        if (width >= 64)
            std::memcpy(row, first, size_t(width) * 4);
        else
            std::fill(row, row + width, pixel);
    }
}

}  // namespace tav

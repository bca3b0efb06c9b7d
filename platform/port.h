// Internal layout of a graphics world: its own port, device, pixel map and
// the master-pointer block behind its pixel-map handle.
#pragma once

#include <cstdint>

#include "tav/draw_host.h"

// A relocatable block: a handle points at `master`; `state` holds the
// Memory Manager's lock/purge/resource bits.
struct HandleBlock {
    void* master;
    SInt8 state;
};

struct GDevice {
    int32_t deviceID;
};

struct CGrafPort {
    HandleBlock pixMapBlock;  // first member: the pixel-map handle points here
    PixMap pixMap;
    GWorldFlags pixelsState;
    GDevice device;
    GDPtr deviceMaster;
    Rect portRect;
    RGBColor foreColor;
    RGBColor backColor;
    Point pen;
    short textSize;
};

namespace tavdraw {

inline CGrafPort* PortOfPixMap(PixMapHandle pm) {
    return reinterpret_cast<CGrafPort*>(reinterpret_cast<HandleBlock*>(pm));
}

// The current port of the calling thread, or null.
CGrafPort* CurrentPort();

// Fills `r` clipped to the port's bounds with one pixel value.
void FillPortRect(CGrafPort* port, const Rect& r, uint32_t pixel);

// Blends `coverage` (0..255) of `pixel` into one pixel of the port, if inside.
inline void BlendPortPixel(CGrafPort* port, int x, int y, uint32_t pixel, unsigned coverage) {
    const PixMap& pm = port->pixMap;
    if (x < pm.bounds.left || x >= pm.bounds.right || y < pm.bounds.top || y >= pm.bounds.bottom)
        return;
    uint32_t* p = TavPixelRow(pm, y - pm.bounds.top) + (x - pm.bounds.left);
    if (coverage >= 255) {
        *p = pixel;
        return;
    }
    const uint32_t old = *p;
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t a = (old >> shift) & 0xFF;
        const uint32_t b = (pixel >> shift) & 0xFF;
        out |= ((a * (255 - coverage) + b * coverage + 127) / 255) << shift;
    }
    *p = out;
}

}  // namespace tavdraw

// Host side of the drawing layer: creating and disposing graphics worlds and
// reaching their pixels. Plug-ins never include this; to them a pixel map is opaque.
#pragma once

#include <cstdint>

#include "tav/quickdraw.h"

namespace tavdraw {
class WorldWatcher;
}

// A pixel map: 32 bits a pixel, 0xAARRGGBB in native byte order, rows
// `rowBytes` apart, covering `bounds` in the port's own coordinates.
// `watcher`, when a host sets one, sees the drawing first (WorldWatcher).
struct PixMap {
    uint32_t* baseAddr;
    int32_t rowBytes;
    Rect bounds;
    int16_t pixelSize;
    tavdraw::WorldWatcher* watcher;
};

namespace tavdraw {

// Set by a host on a world whose pixels are not what they stand for yet: a
// source picture not drawn, or an output whose drawing is recorded rather
// than carried out. The drawing layer asks it before touching the pixels.
class WorldWatcher {
  public:
    // A fill of `r` with `pixel`: true when the watcher took it (recorded);
    // false when the caller is to fill the pixels, which are real by then.
    virtual bool TakeFill(PixMap& pm, const Rect& r, uint32_t pixel) = 0;
    // The pixels are about to be read or drawn directly: from here on they
    // hold what they stand for.
    virtual void MakeReal(PixMap& pm) = 0;

  protected:
    ~WorldWatcher() = default;
};

}  // namespace tavdraw

constexpr OSErr noErr = 0;
constexpr OSErr paramErr = -50;
constexpr OSErr memFullErr = -108;

// The largest world NewGWorld makes: at most this many pixels a side (what
// 16-bit coordinates reach) and this many bytes of pixels (16384 x 16384).
constexpr int32_t kTavMaxWorldSide = 32767;
constexpr int64_t kTavMaxWorldBytes = int64_t(1) << 30;

extern "C" {

// Creates a world of `bounds` (32 bits deep; depth 0 also means 32) filled with
// opaque white. Returns paramErr for another depth, an empty rect, or one beyond
// kTavMaxWorldSide or kTavMaxWorldBytes; memFullErr when memory runs out.
TAV_DRAW_API OSErr NewGWorld(GWorldPtr* offscreenGWorld, short pixelDepth, const Rect* bounds,
                             CTabHandle cTable, GDHandle aGDevice, GWorldFlags flags);
TAV_DRAW_API void DisposeGWorld(GWorldPtr offscreenGWorld);

TAV_DRAW_API Ptr GetPixBaseAddr(PixMapHandle pm);
TAV_DRAW_API int32_t GetPixRowBytes(PixMapHandle pm);

// Port state, read without making the port current.
TAV_DRAW_API void GetPortForeColor(CGrafPtr port, RGBColor* color);
TAV_DRAW_API void GetPortBackColor(CGrafPtr port, RGBColor* color);
TAV_DRAW_API short GetPortTextSize(CGrafPtr port);
TAV_DRAW_API void GetPortPenLocation(CGrafPtr port, Point* pen);

// The device a world brings with it; SetGWorld(world, nullptr) makes it current.
TAV_DRAW_API GDHandle GetGWorldDevice(GWorldPtr offscreenGWorld);

// Number of live worlds in the process, so hosts and tests can check for leaks.
TAV_DRAW_API int32_t TavLiveGWorldCount(void);

// Text: the font file in use ("" when none could be loaded).
TAV_DRAW_API const char* TavFontPath(void);

}  // extern "C"

// Pixel helpers for hosts.
inline uint32_t TavPixelFromRGB(const RGBColor& c) {
    return 0xFF000000u | (uint32_t(c.red >> 8) << 16) | (uint32_t(c.green >> 8) << 8) |
           uint32_t(c.blue >> 8);
}

inline uint32_t* TavPixelRow(const PixMap& pm, int y) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(pm.baseAddr) +
                                       static_cast<intptr_t>(y) * pm.rowBytes);
}

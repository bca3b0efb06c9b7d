// Copying pixels between graphics worlds: one clip computation per call,
// then a row copy (same size) or nearest-pixel scaling (different sizes).
#include <algorithm>
#include <cstring>

#include "host.h"
#include "tav/pixel_area.h"

namespace tavhost {

using tav::Clip;
using tav::PixelArea;

namespace {

// `rows` rows of N pixels: fixed-size copies the compiler turns into a few
// vector loads and stores; memmove when source and destination are one world.
template <int N>
void CopyRows(const uint32_t* in, uint32_t* out, intptr_t inStride, intptr_t outStride,
              int32_t rows, bool sameWorld) {
    if (sameWorld) {
        for (int32_t y = 0; y < rows; ++y, in += inStride, out += outStride)
            std::memmove(out, in, size_t(N) * 4);
        return;
    }
    for (int32_t y = 0; y < rows; ++y, in += inStride, out += outStride)
        std::memcpy(out, in, size_t(N) * 4);
}

}  // namespace

TavPluginResult BlitPixMaps(const PixMap* src, PixMap* dst, const Rect& srcRect,
                            const Rect& dstRect) {
    const PixelArea from = PixelArea::Of(srcRect);
    const PixelArea to = PixelArea::Of(dstRect);
    if (from.Empty() || to.Empty()) return kPluginOK;
    const PixelArea sb = PixelArea::Of(src->bounds);
    const PixelArea db = PixelArea::Of(dst->bounds);
    const int32_t sw = from.Width(), sh = from.Height();
    const int32_t dw = to.Width(), dh = to.Height();

    if (sw == dw && sh == dh) {
        // Destination pixels inside the destination rect and bounds whose
        // source pixel lies inside the source bounds.
        const int32_t offX = from.left - to.left;
        const int32_t offY = from.top - to.top;
        const PixelArea area = Clip(Clip(to, db), sb.Shifted(-offX, -offY));
        if (area.Empty()) return kPluginOK;
        const int32_t n = area.Width();
        const uint32_t* in =
            TavPixelRow(*src, area.top + offY - sb.top) + (area.left + offX - sb.left);
        uint32_t* out = TavPixelRow(*dst, area.top - db.top) + (area.left - db.left);
        const intptr_t inStride = src->rowBytes / 4;
        const intptr_t outStride = dst->rowBytes / 4;
        const int32_t rows = area.Height();
        switch (n) {
            // The box sizes the plug-ins use: rows of a known width, copied
            // as a few wide loads and stores each.
            case 2:
                CopyRows<2>(in, out, inStride, outStride, rows, src == dst);
                break;
            case 4:
                CopyRows<4>(in, out, inStride, outStride, rows, src == dst);
                break;
            case 8:
                CopyRows<8>(in, out, inStride, outStride, rows, src == dst);
                break;
            case 16:
                CopyRows<16>(in, out, inStride, outStride, rows, src == dst);
                break;
            default:
                for (int32_t y = 0; y < rows; ++y, in += inStride, out += outStride)
                    std::memmove(out, in, size_t(n) * 4);
        }
        return kPluginOK;
    }

    // Nearest pixel: destination pixel centre mapped into the source rect.
    const PixelArea area = Clip(to, db);
    for (int32_t y = area.top; y < area.bottom; ++y) {
        const int32_t sy = from.top + int32_t((int64_t(y - to.top) * 2 + 1) * sh / (2 * dh));
        if (sy < sb.top || sy >= sb.bottom) continue;
        const uint32_t* in = TavPixelRow(*src, sy - sb.top);
        uint32_t* out = TavPixelRow(*dst, y - db.top);
        for (int32_t x = area.left; x < area.right; ++x) {
            const int32_t sx = from.left + int32_t((int64_t(x - to.left) * 2 + 1) * sw / (2 * dw));
            if (sx >= sb.left && sx < sb.right) out[x - db.left] = in[sx - sb.left];
        }
    }
    return kPluginOK;
}

}  // namespace tavhost

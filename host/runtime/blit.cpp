// Copying pixels between graphics worlds: one clip computation per call,
// then a row copy (same size) or nearest-pixel scaling (different sizes).
#include <algorithm>
#include <cstring>

#include "host.h"

namespace tavhost {

namespace {

struct Span {
    int begin;
    int end;
};

// Destination span of one axis that lies inside both the destination rect
// and bounds and maps to a source coordinate inside the source bounds.
inline Span ClipAxis(int dstBegin, int dstEnd, int dstBoundsBegin, int dstBoundsEnd, int offset,
                     int srcBoundsBegin, int srcBoundsEnd) {
    int begin = dstBegin > dstBoundsBegin ? dstBegin : dstBoundsBegin;
    if (srcBoundsBegin - offset > begin) begin = srcBoundsBegin - offset;
    int end = dstEnd < dstBoundsEnd ? dstEnd : dstBoundsEnd;
    if (srcBoundsEnd - offset < end) end = srcBoundsEnd - offset;
    return {begin, end > begin ? end : begin};
}

}  // namespace

TavPluginResult BlitPixMaps(const PixMap* src, PixMap* dst, const Rect& srcRect,
                            const Rect& dstRect) {
    const int sw = srcRect.right - srcRect.left;
    const int sh = srcRect.bottom - srcRect.top;
    const int dw = dstRect.right - dstRect.left;
    const int dh = dstRect.bottom - dstRect.top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return kPluginOK;
    const Rect& sb = src->bounds;
    const Rect& db = dst->bounds;

    if (sw == dw && sh == dh) {
        const int offX = srcRect.left - dstRect.left;
        const int offY = srcRect.top - dstRect.top;
        const Span xs =
            ClipAxis(dstRect.left, dstRect.right, db.left, db.right, offX, sb.left, sb.right);
        const Span ys =
            ClipAxis(dstRect.top, dstRect.bottom, db.top, db.bottom, offY, sb.top, sb.bottom);
        if (xs.begin >= xs.end || ys.begin >= ys.end) return kPluginOK;
        const int n = xs.end - xs.begin;
        const uint32_t* from =
            TavPixelRow(*src, ys.begin + offY - sb.top) + (xs.begin + offX - sb.left);
        uint32_t* to = TavPixelRow(*dst, ys.begin - db.top) + (xs.begin - db.left);
        const intptr_t fromStride = src->rowBytes / 4;
        const intptr_t toStride = dst->rowBytes / 4;
        if (n <= 16 && src != dst) {
            // Small boxes: an inline copy beats a library call per row.
            for (int y = ys.begin; y < ys.end; ++y, from += fromStride, to += toStride)
                for (int i = 0; i < n; ++i) to[i] = from[i];
        } else {
            for (int y = ys.begin; y < ys.end; ++y, from += fromStride, to += toStride)
                std::memmove(to, from, size_t(n) * 4);
        }
        return kPluginOK;
    }

    // Nearest pixel: destination pixel centre mapped into the source rect.
    const int top = std::max<int>(dstRect.top, db.top);
    const int bottom = std::min<int>(dstRect.bottom, db.bottom);
    const int left = std::max<int>(dstRect.left, db.left);
    const int right = std::min<int>(dstRect.right, db.right);
    for (int y = top; y < bottom; ++y) {
        const int sy = srcRect.top + int((int64_t(y - dstRect.top) * 2 + 1) * sh / (2 * dh));
        if (sy < sb.top || sy >= sb.bottom) continue;
        const uint32_t* from = TavPixelRow(*src, sy - sb.top);
        uint32_t* to = TavPixelRow(*dst, y - db.top);
        for (int x = left; x < right; ++x) {
            const int sx = srcRect.left + int((int64_t(x - dstRect.left) * 2 + 1) * sw / (2 * dw));
            if (sx >= sb.left && sx < sb.right) to[x - db.left] = from[sx - sb.left];
        }
    }
    return kPluginOK;
}

}  // namespace tavhost

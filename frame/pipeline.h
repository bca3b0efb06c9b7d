// The frame render pipeline: source frames, pixel-map locks, whole-frame and
// box copies, audio mixing, the box grid walk and the two DoFrame sequences
// (two clips, one clip). Effects supply only their decisions.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "bundle.h"
#include "tav/quickdraw.h"

namespace tav {

// rand()'s maximum on the platform the decisions are scaled to.
constexpr double kRandMax = 2147483647.0;

// A pixel map locked for copying, with what puts it back.
struct PixMapLock {
    PixMapHandle pixMapHandle = nullptr;
    SInt8 handleState = 0;
    GWorldFlags pixFlags = 0;

    PixMapPtr Ptr() const { return *pixMapHandle; }
};

// One source frame held within a DoFrame call.
struct SourceFrame {
    GWorldPtr gWorld = nullptr;
    int16_t volume = 0;
    TavFrameCookie frameCookie = nullptr;
    PixMapLock pixMap;
};

// Working values of one DoFrame call.
struct FrameContext {
    TavPluginParams* params = nullptr;
    CGrafPtr oldPort = nullptr;
    GDHandle oldGD = nullptr;
    int16_t boxSize = 0;
    double percent = 0.0;  // progress of this frame, a fraction reaching 1.0 at the last
    // The frame's size, 0 x 0 when frameRect is empty or inverted or wider
    // than 16-bit coordinates reach: such a frame draws nothing.
    int32_t width = 0;
    int32_t height = 0;
    int32_t quality = kDVHighQuality;
    int32_t frame1 = 0;
    // The whole-frame rectangles: all of the source world, and frameRect.
    // They stay as set for the whole call; a box's own rectangles are
    // passed to the box action.
    Rect wholeSrcRect{};
    Rect wholeDstRect{};
    PixMapLock output;
    bool outputLocked = false;
    bool drew = false;  // reached the drawing: the closing steps reset the colours
    TavPluginResult result = kPluginOK;
};

PixMapLock LockPixMap(GWorldPtr world);
void RestorePixMap(const PixMapLock& lock);
TavPluginResult AcquireSourceFrame(FrameContext& ctx, int32_t index, SourceFrame& frame);
TavPluginResult ReleaseSourceFrame(FrameContext& ctx, SourceFrame& frame);
TavPluginResult CopyWholeFrame(FrameContext& ctx, const SourceFrame& frame);
TavPluginResult MixFrameAudio(FrameContext& ctx, const SourceFrame& frame, int16_t level);

// Copies one box: `srcRect` of the source frame to `dstRect` of the output.
inline TavPluginResult CopyBox(FrameContext& ctx, const SourceFrame& frame, const Rect& srcRect,
                               const Rect& dstRect) {
    return ctx.params->procs->Blit(frame.pixMap.Ptr(), ctx.output.Ptr(), &srcRect, &dstRect, 255);
}

// Level of the first clip's audio in a two-clip transition: (1 - percent) of
// its volume (255 counting as full, 256), kept within 0..256.
int16_t FadingLevel(double percent, int16_t volume);

constexpr int16_t kFullLevel = 256;

// The prologue: saves the port, switches to the output world, runs the
// variant gate and the checks, and acquires the first source frame. Returns
// true when the sequence goes on; otherwise `ctx.result` holds the answer
// and the caller closes. `frameSpan` is how far past frame1 the sequence
// will ask (the second clip's offset), so that number is checked too.
bool BeginFrame(FrameContext& ctx, TavPluginParams* params, bool gateOpen, int32_t frameSpan,
                SourceFrame& first);

// The closing steps: output pixel map restored, colours reset if drawn, port restored.
TavPluginResult CloseFrame(FrameContext& ctx);

// Walks the grid of square boxes row by row, left to right, cut at the
// frame's right and bottom edges, and calls `action(srcRect, dstRect)` once
// per box: srcRect from the frame's origin, dstRect offset by frameRect.
// Stops at the first non-zero code. Runs in 32 bits, so it ends for every box
// size of at least 1 even where 16-bit positions would wrap around.
template <class BoxAction>
TavPluginResult WalkBoxGrid(FrameContext& ctx, BoxAction&& action) {
    const int32_t step = ctx.boxSize;
    const int32_t width = ctx.width;
    const int32_t height = ctx.height;
    const Rect& frameRect = ctx.params->frameRect;
    TavPluginResult code = kPluginOK;
    Rect srcRect, dstRect;
    for (int32_t rowTop = 0; rowTop < height && code == kPluginOK; rowTop += step) {
        int32_t boxWidth = step;
        const int32_t rowHeight = rowTop + step > height ? height - rowTop : step;
        srcRect.top = int16_t(rowTop);
        srcRect.bottom = int16_t(rowTop + rowHeight);
        dstRect.top = int16_t(frameRect.top + rowTop);
        dstRect.bottom = int16_t(frameRect.top + rowTop + rowHeight);
        for (int32_t colLeft = 0; colLeft < width && code == kPluginOK; colLeft += boxWidth) {
            if (colLeft + boxWidth > width) boxWidth = width - colLeft;
            srcRect.left = int16_t(colLeft);
            srcRect.right = int16_t(colLeft + boxWidth);
            dstRect.left = int16_t(frameRect.left + colLeft);
            dstRect.right = int16_t(frameRect.left + colLeft + boxWidth);
            code = action(srcRect, dstRect);
        }
    }
    return code;
}

// Two-clip sequence: the first clip's frame copied whole and its audio mixed
// at the fading level, released; the second clip's frame fetched, the grid
// walked with `Effect::Box(ctx, second, srcRect, dstRect)`, its audio mixed at full level,
// released.
template <class Effect>
TavPluginResult RunTwoClipSequence(TavPluginParams* params, bool gateOpen) {
    FrameContext ctx;
    SourceFrame first;
    if (!BeginFrame(ctx, params, gateOpen, params->frameCount, first)) return CloseFrame(ctx);

    ctx.result = CopyWholeFrame(ctx, first);
    if (ctx.result == kPluginOK)
        ctx.result = MixFrameAudio(ctx, first, FadingLevel(ctx.percent, first.volume));
    const TavPluginResult released = ReleaseSourceFrame(ctx, first);
    if (ctx.result == kPluginOK) ctx.result = released;
    if (ctx.result != kPluginOK) return CloseFrame(ctx);

    SourceFrame second;
    ctx.result = AcquireSourceFrame(ctx, ctx.frame1 + params->frameCount, second);
    if (ctx.result != kPluginOK) return CloseFrame(ctx);

    ctx.drew = true;
    ctx.result = WalkBoxGrid(ctx, [&](const Rect& srcRect, const Rect& dstRect) {
        return Effect::Box(ctx, second, srcRect, dstRect);
    });
    if (ctx.result == kPluginOK) ctx.result = MixFrameAudio(ctx, second, kFullLevel);
    const TavPluginResult releasedSecond = ReleaseSourceFrame(ctx, second);
    if (ctx.result == kPluginOK) ctx.result = releasedSecond;
    return CloseFrame(ctx);
}

// Single-clip sequence: the frame's audio at full level first, then the
// effect's whole-frame step and, where it asks for it, the grid walk.
// `Effect::Frame` is constructed per call and supplies WholeFrame, WantsWalk and Box.
template <class Effect>
TavPluginResult RunSingleClipSequence(TavPluginParams* params, bool gateOpen) {
    FrameContext ctx;
    SourceFrame source;
    if (!BeginFrame(ctx, params, gateOpen, 0, source)) return CloseFrame(ctx);

    ctx.drew = true;
    ctx.result = MixFrameAudio(ctx, source, kFullLevel);
    if (ctx.result == kPluginOK) {
        typename Effect::Frame effect(ctx);
        ctx.result = effect.WholeFrame(source);
        if (ctx.result == kPluginOK && effect.WantsWalk())
            ctx.result = WalkBoxGrid(ctx, [&](const Rect& srcRect, const Rect& dstRect) {
                return effect.Box(source, srcRect, dstRect);
            });
    }
    const TavPluginResult released = ReleaseSourceFrame(ctx, source);
    if (ctx.result == kPluginOK) ctx.result = released;
    return CloseFrame(ctx);
}

}  // namespace tav

// The non-template operations of the frame render pipeline.
#include "pipeline.h"

namespace tav {

PixMapLock LockPixMap(GWorldPtr world) {
    PixMapLock lock;
    lock.pixMapHandle = GetGWorldPixMap(world);
    const auto handle = reinterpret_cast<Handle>(lock.pixMapHandle);
    lock.handleState = HGetState(handle);
    MoveHHi(handle);
    HLock(handle);
    lock.pixFlags = GetPixelsState(lock.pixMapHandle);
    LockPixels(lock.pixMapHandle);
    return lock;
}

void RestorePixMap(const PixMapLock& lock) {
    HSetState(reinterpret_cast<Handle>(lock.pixMapHandle), lock.handleState);
    SetPixelsState(lock.pixMapHandle, lock.pixFlags);
}

TavPluginResult AcquireSourceFrame(FrameContext& ctx, int32_t index, SourceFrame& frame) {
    TavPluginParams* params = ctx.params;
    frame = SourceFrame{};
    const TavPluginResult code =
        TAV_CALL(params, GetFrame, index, &frame.gWorld, ctx.width, ctx.height, ctx.quality,
                 &frame.volume, &frame.frameCookie);
    if (code != kPluginOK) return code;
    if (!frame.gWorld) {
        // Success without a world: give the frame back and draw nothing.
        TAV_CALL(params, ReleaseFrame, frame.frameCookie);
        return kPluginFailed;
    }
    frame.pixMap = LockPixMap(frame.gWorld);
    return kPluginOK;
}

TavPluginResult ReleaseSourceFrame(FrameContext& ctx, SourceFrame& frame) {
    RestorePixMap(frame.pixMap);
    return TAV_CALL(ctx.params, ReleaseFrame, frame.frameCookie);
}

TavPluginResult CopyWholeFrame(FrameContext& ctx, const SourceFrame& frame) {
    return CopyBox(ctx, frame, ctx.wholeSrcRect, ctx.wholeDstRect);
}

TavPluginResult MixFrameAudio(FrameContext& ctx, const SourceFrame& frame, int16_t level) {
    if (ctx.params->proxyOnly) return kPluginOK;
    return TAV_CALL(ctx.params, MixAudio, frame.frameCookie, int32_t(level));
}

int16_t FadingLevel(double percent, int16_t volume) {
    const double v = volume == 255 ? 256.0 : double(volume);
    const double level = (1.0 - percent) * v;
    // Frames outside the transition give levels outside 0..256; keep them in.
    if (!(level > 0.0)) return 0;
    if (level >= 256.0) return kFullLevel;
    return int16_t(level);
}

bool BeginFrame(FrameContext& ctx, TavPluginParams* params, bool gateOpen, int32_t frameSpan,
                SourceFrame& first) {
    ctx.params = params;
    GetGWorld(&ctx.oldPort, &ctx.oldGD);
    SetGWorld(params->frame, nullptr);
    if (!gateOpen) {
        ctx.result = kPluginOK;
        return false;
    }
    const auto* data = static_cast<const EffectData*>(params->clientData);
    ctx.boxSize = data->boxSize;
    // A box below 1 pixel never advances the walk, a frame count of 0 or less
    // has no progress, and there is no output world to draw into: refused.
    if (ctx.boxSize < 1 || params->frameCount <= 0 || !params->frame) {
        ctx.result = kPluginBadParams;
        return false;
    }
    ctx.percent = (double(params->renderFrame) + 1.0) / double(params->frameCount);
    const Rect& frameRect = params->frameRect;
    ctx.width = int32_t(frameRect.right) - frameRect.left;
    ctx.height = int32_t(frameRect.bottom) - frameRect.top;
    if (ctx.width <= 0 || ctx.height <= 0 || ctx.width > INT16_MAX || ctx.height > INT16_MAX)
        ctx.width = ctx.height = 0;
    ctx.quality = params->proxyOnly && ctx.height <= 259 ? kDVLowQuality : kDVHighQuality;

    const int64_t frame1 = int64_t(params->startFrame) + params->renderFrame;
    if (frame1 < 0 || frame1 > INT32_MAX || frame1 + frameSpan > INT32_MAX) {
        ctx.result = kPluginFailed;
        return false;
    }
    ctx.frame1 = int32_t(frame1);
    ctx.result = AcquireSourceFrame(ctx, ctx.frame1, first);
    if (ctx.result != kPluginOK) return false;

    GetPortBounds(first.gWorld, &ctx.wholeSrcRect);
    ctx.wholeDstRect = params->frameRect;
    ctx.output = LockPixMap(params->frame);
    ctx.outputLocked = true;
    return true;
}

TavPluginResult CloseFrame(FrameContext& ctx) {
    if (ctx.outputLocked) RestorePixMap(ctx.output);
    if (ctx.drew) {
        RGBForeColor(&rgbBlack);
        RGBBackColor(&rgbWhite);
    }
    SetGWorld(ctx.oldPort, ctx.oldGD);
    return ctx.result;
}

}  // namespace tav

// The entry point of every bundle: checks, selector dispatch, GetInfo,
// Initialize and Terminate.
#include <cmath>
#include <cstring>

#include "bundle.h"

// Exported under the plain name `main`, the name hosts look up.
TAV_EXPORT int32_t TavPluginEntry(int32_t which, TavPluginParams* params) __asm__("main");

TAV_EXPORT const RGBColor rgbReddish = {0x6FFF, 0x2FFF, 0x2FFF};
TAV_EXPORT const RGBColor rgbGreen = {0x0000, 0x7FFF, 0x0000};
TAV_EXPORT const RGBColor rgbLtGray = {0x7FFF, 0x7FFF, 0x7FFF};
TAV_EXPORT const RGBColor rgbDkGray = {0x2FFF, 0x2FFF, 0x2FFF};
TAV_EXPORT const RGBColor rgbBlack = {0x0000, 0x0000, 0x0000};
TAV_EXPORT const RGBColor rgbWhite = {0xFFFF, 0xFFFF, 0xFFFF};

namespace tav {

int32_t TransitionLength(float speed) {
    const float p = speed * 110.0f;
    const float s = p + 10.0f;
    int32_t length;
    if (std::isnan(s)) {
        length = kMinSpeedFrames;
    } else if (s >= 2147483648.0f) {
        length = INT32_MAX;
    } else if (s < -2147483648.0f) {
        length = INT32_MIN;
    } else {
        length = static_cast<int32_t>(s);  // truncation toward zero
    }
    if (length & 1) length = length == INT32_MAX ? INT32_MAX - 1 : length + 1;
    return length;
}

namespace {

void WriteTypeAndTakes(TavPluginGetInfo& info, TavPluginType type, int32_t before, int32_t after) {
    info.pluginType = type;
    info.takeFromClipBefore = before;
    info.takeFromClipAfter = after;
    info.minSpeedFrames = kMinSpeedFrames;
    info.maxSpeedFrames = kMaxSpeedFrames;
}

TavPluginResult GetInfo(int16_t which, TavPluginParams* params) {
    TavPluginTransitionInfo* transition = nullptr;
    if (TavPluginResult code = TAV_CALL(params, GetTransitionInfo, &transition); code != kPluginOK)
        return code;
    if (!transition) return kPluginOK;
    const float speed = transition->speed;

    if (!params->clientData) {
        params->clientData = params->procs->NewPtrClear(sizeof(EffectData));
        if (!params->clientData) {
            TAV_CALL(params, ReleaseTransitionInfo, transition);
            return kPluginOutOfMemory;
        }
    }
    auto& data = *static_cast<EffectData*>(params->clientData);
    params->getInfo.defaultFontSize = 0;
    WriteVariantInfo(which, params->getInfo, data, TransitionLength(speed));
    params->getInfo.mustTakeFromSingleClips = 1;
    return TAV_CALL(params, ReleaseTransitionInfo, transition);
}

TavPluginResult Initialize(int16_t which, TavPluginParams* params) {
    if (!params->clientData) {
        if (!params->procs) return kPluginBadParams;
        params->clientData = params->procs->NewPtrClear(sizeof(EffectData));
        if (!params->clientData) return kPluginOutOfMemory;
    }
    auto& data = *static_cast<EffectData*>(params->clientData);
    data.frameCount = 0;
    InitializeVariant(which, data);
    return kPluginOK;
}

TavPluginResult Terminate(int16_t which, TavPluginParams* params) {
    TavPluginClipInfo clip;
    std::memset(&clip, 0, sizeof clip);
    // A failed read leaves the record unfilled; writing it back would replace
    // the clip's settings with zeros, so it is only written after a good read.
    if (TAV_CALL(params, GetClipInfo, 1, &clip) == kPluginOK) {
        AdjustClipAtTerminate(which, params->frameCount, clip);
        TAV_CALL(params, SetClipInfo, &clip);
    }
    if (params->clientData) {
        params->procs->DisposePtr(static_cast<Ptr>(params->clientData));
        params->clientData = nullptr;
    }
    return kPluginOK;
}

}  // namespace

void WriteTiming(TavPluginGetInfo& info, TavPluginType type, int32_t framesToBeRendered,
                 int32_t before, int32_t after) {
    WriteTypeAndTakes(info, type, before, after);
    info.framesToBeRendered = framesToBeRendered;
}

void WriteBetweenHalves(TavPluginGetInfo& info, int32_t length) {
    WriteTypeAndTakes(info, kPluginTransitionBetweenType, length / 2, length / 2);
}

}  // namespace tav

int32_t TavPluginEntry(int32_t which, TavPluginParams* params) {
    if (!params) return kPluginBadParams;
    if (params->interfaceVersion < kTavMinInterfaceVersion) return kPluginAppIsTooOld;

    const auto variant = static_cast<int16_t>(which);
    const auto selector = static_cast<uint8_t>(params->selector);
    const bool callsServices = selector == kPlugGetInfo || selector == kPlugFilePlaceHolder ||
                               selector == kPlugDoFrame || selector == kPlugTerminate;
    if (callsServices && !params->procs) return kPluginBadParams;

    switch (selector) {
        case kPlugGetInfo:
            return tav::GetInfo(variant, params);
        case kPlugInitialize:
            return tav::Initialize(variant, params);
        case kPlugFilePlaceHolder:
            return tav::DrawPlaceholder(params);
        case kPlugDoFrame:
            if (!params->clientData) return kPluginBadParams;
            return tav::DoFrame(variant, params);
        case kPlugTerminate:
            return tav::Terminate(variant, params);
        default:
            return kPluginOK;
    }
}

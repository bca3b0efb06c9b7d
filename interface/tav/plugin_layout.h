// Compile-time proof of the interface layout. On every target each field must
// follow the one before it at its natural alignment (so field order and widths
// are those of the interface); on the 32-bit target every size and offset is
// checked against the published figures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav_layout {

constexpr std::size_t AlignUp(std::size_t n, std::size_t a) {
    return (n + a - 1) / a * a;
}

}  // namespace tav_layout

#define TAV_FIRST(T, f) static_assert(offsetof(T, f) == 0, #T "." #f " starts the record")
#define TAV_NEXT(T, prev, f)                                                                 \
    static_assert(offsetof(T, f) == tav_layout::AlignUp(offsetof(T, prev) + sizeof(T::prev), \
                                                        alignof(decltype(T::f))),            \
                  #T "." #f " follows " #prev " at its natural alignment")
#define TAV_LAST(T, f)                                                                         \
    static_assert(sizeof(T) == tav_layout::AlignUp(offsetof(T, f) + sizeof(T::f), alignof(T)), \
                  #T " ends after " #f)
#define TAV_AT(T, f, off) static_assert(offsetof(T, f) == (off), #T "." #f " at " #off)
#define TAV_SIZE(T, n) static_assert(sizeof(T) == (n), "sizeof " #T " is " #n)

// Enumerations are one byte wide.
static_assert(sizeof(TavPluginResult) == 1 && sizeof(TavPluginSelector) == 1 &&
              sizeof(TavPluginType) == 1 && sizeof(TavTitleType) == 1 &&
              sizeof(TavPluginDirection) == 1 && sizeof(TavTitleJustification) == 1 &&
              sizeof(TavRefDVQuality) == 1 && sizeof(TavRefClipType) == 1 &&
              sizeof(TavRefDigitalVideoStandard) == 1);

// Platform records; FSSpec is 2-byte packed on every target.
TAV_SIZE(Rect, 8);
TAV_SIZE(RGBColor, 6);
TAV_SIZE(FSSpec, 70);
TAV_AT(FSSpec, parID, 2);
TAV_AT(FSSpec, name, 6);
static_assert(alignof(FSSpec) == 2);

TAV_FIRST(TavPluginParams, interfaceVersion);
TAV_NEXT(TavPluginParams, interfaceVersion, instance);
TAV_NEXT(TavPluginParams, instance, selector);
TAV_NEXT(TavPluginParams, selector, procs);
TAV_NEXT(TavPluginParams, procs, getInfo);
TAV_NEXT(TavPluginParams, getInfo, startFrame);
TAV_NEXT(TavPluginParams, startFrame, renderFrame);
TAV_NEXT(TavPluginParams, renderFrame, frameCount);
TAV_NEXT(TavPluginParams, frameCount, proxyOnly);
TAV_NEXT(TavPluginParams, proxyOnly, frameRect);
TAV_NEXT(TavPluginParams, frameRect, frame);
TAV_NEXT(TavPluginParams, frame, clientData);
TAV_NEXT(TavPluginParams, clientData, getInfo2);
TAV_NEXT(TavPluginParams, getInfo2, getInfo3);
TAV_NEXT(TavPluginParams, getInfo3, getInfo4);
TAV_LAST(TavPluginParams, getInfo4);

TAV_FIRST(TavPluginGetInfo, pluginType);
TAV_NEXT(TavPluginGetInfo, pluginType, titleType);
TAV_NEXT(TavPluginGetInfo, titleType, pluginFlags);
TAV_NEXT(TavPluginGetInfo, pluginFlags, framesToBeRendered);
TAV_NEXT(TavPluginGetInfo, framesToBeRendered, takeFromClipBefore);
TAV_NEXT(TavPluginGetInfo, takeFromClipBefore, takeFromClipAfter);
TAV_NEXT(TavPluginGetInfo, takeFromClipAfter, minSpeedFrames);
TAV_NEXT(TavPluginGetInfo, minSpeedFrames, maxSpeedFrames);
TAV_NEXT(TavPluginGetInfo, maxSpeedFrames, mustTakeFromSingleClips);
TAV_NEXT(TavPluginGetInfo, mustTakeFromSingleClips, bestThumbOffset);
TAV_NEXT(TavPluginGetInfo, bestThumbOffset, defaultColor);
TAV_NEXT(TavPluginGetInfo, defaultColor, defaultDirection);
TAV_NEXT(TavPluginGetInfo, defaultDirection, justify);
TAV_NEXT(TavPluginGetInfo, justify, defaultFontNum);
TAV_NEXT(TavPluginGetInfo, defaultFontNum, defaultFontSize);
TAV_LAST(TavPluginGetInfo, defaultFontSize);

TAV_FIRST(TavPluginFilterSliderInfo, label);
TAV_NEXT(TavPluginFilterSliderInfo, label, minLabel);
TAV_NEXT(TavPluginFilterSliderInfo, minLabel, maxLabel);
TAV_NEXT(TavPluginFilterSliderInfo, maxLabel, defaultValue);
TAV_LAST(TavPluginFilterSliderInfo, defaultValue);

TAV_FIRST(Tav2PluginGetInfo, group);
TAV_NEXT(Tav2PluginGetInfo, group, filterSliders);
TAV_NEXT(Tav2PluginGetInfo, filterSliders, defaultFadeInFrames);
TAV_NEXT(Tav2PluginGetInfo, defaultFadeInFrames, defaultFadeOutFrames);
TAV_NEXT(Tav2PluginGetInfo, defaultFadeOutFrames, minHangFrames);
TAV_NEXT(Tav2PluginGetInfo, minHangFrames, maxHangFrames);
TAV_NEXT(Tav2PluginGetInfo, maxHangFrames, defaultFontSizeScale);
TAV_NEXT(Tav2PluginGetInfo, defaultFontSizeScale, selectedFrames);
TAV_NEXT(Tav2PluginGetInfo, selectedFrames, speedFrames);
TAV_NEXT(Tav2PluginGetInfo, speedFrames, hangFrames);
TAV_NEXT(Tav2PluginGetInfo, hangFrames, baseMemoryNeeded);
TAV_LAST(Tav2PluginGetInfo, baseMemoryNeeded);

TAV_FIRST(TavPluginFileOpenInfo, typeCount);
TAV_NEXT(TavPluginFileOpenInfo, typeCount, hTypes);
TAV_NEXT(TavPluginFileOpenInfo, hTypes, chosenFile);
TAV_LAST(TavPluginFileOpenInfo, chosenFile);

TAV_FIRST(Tav3PluginGetInfo, defaultX);
TAV_NEXT(Tav3PluginGetInfo, defaultX, defaultY);
TAV_NEXT(Tav3PluginGetInfo, defaultY, userX);
TAV_NEXT(Tav3PluginGetInfo, userX, userY);
TAV_NEXT(Tav3PluginGetInfo, userY, fileInfo);
TAV_NEXT(Tav3PluginGetInfo, fileInfo, buttonTitle);
TAV_LAST(Tav3PluginGetInfo, buttonTitle);

TAV_FIRST(Tav4PluginGetInfo, titleSliders);
TAV_LAST(Tav4PluginGetInfo, titleSliders);

TAV_FIRST(TavPluginTransitionInfo, speed);
TAV_NEXT(TavPluginTransitionInfo, speed, ver2);
TAV_LAST(TavPluginTransitionInfo, ver2);
TAV_SIZE(Tav2PluginTransitionInfo, 1);

TAV_FIRST(TavRefClip, clipType);
TAV_NEXT(TavRefClip, clipType, name);
TAV_NEXT(TavRefClip, name, standard);
TAV_NEXT(TavRefClip, standard, frameCount);
TAV_NEXT(TavRefClip, frameCount, in);
TAV_NEXT(TavRefClip, in, out);
TAV_NEXT(TavRefClip, out, fileSpec);
TAV_NEXT(TavRefClip, fileSpec, absoluteStartFrame);
TAV_LAST(TavRefClip, absoluteStartFrame);

TAV_FIRST(Tav2PluginClipInfo, backwards);
TAV_NEXT(Tav2PluginClipInfo, backwards, frameSpeed);
TAV_NEXT(Tav2PluginClipInfo, frameSpeed, fadeInFrames);
TAV_NEXT(Tav2PluginClipInfo, fadeInFrames, fadeOutFrames);
TAV_LAST(Tav2PluginClipInfo, fadeOutFrames);

TAV_FIRST(Tav4PluginClipInfo, clipFrame);
TAV_NEXT(Tav4PluginClipInfo, clipFrame, clipRef);
TAV_LAST(Tav4PluginClipInfo, clipRef);

TAV_FIRST(TavPluginClipInfo, volume);
TAV_NEXT(TavPluginClipInfo, volume, fadeIn);
TAV_NEXT(TavPluginClipInfo, fadeIn, fadeOut);
TAV_NEXT(TavPluginClipInfo, fadeOut, name);
TAV_NEXT(TavPluginClipInfo, name, ver2);
TAV_NEXT(TavPluginClipInfo, ver2, ver4);
TAV_LAST(TavPluginClipInfo, ver4);

TAV_FIRST(TavProcs, NewPtr);
TAV_LAST(TavProcs, CGStringWidth);
TAV_SIZE(TavProcs, 30 * sizeof(void*));
TAV_AT(TavProcs, GetLocalizedString, 8 * sizeof(void*));
TAV_AT(TavProcs, GetFrame, 9 * sizeof(void*));
TAV_AT(TavProcs, GetClipInfo, 14 * sizeof(void*));
TAV_AT(TavProcs, Blit, 16 * sizeof(void*));
TAV_AT(TavProcs, GetTransitionInfo, 22 * sizeof(void*));
TAV_AT(TavProcs, MixAudio, 24 * sizeof(void*));

#if UINTPTR_MAX == 0xFFFFFFFFu
// The published figures of the 32-bit target.
TAV_SIZE(TavPluginParams, 1940);
TAV_SIZE(TavPluginGetInfo, 48);
TAV_SIZE(Tav2PluginGetInfo, 1328);
TAV_SIZE(Tav3PluginGetInfo, 128);
TAV_SIZE(Tav4PluginGetInfo, 388);
TAV_SIZE(TavPluginFilterSliderInfo, 388);
TAV_SIZE(TavPluginFileOpenInfo, 80);
TAV_SIZE(TavPluginTransitionInfo, 8);
TAV_SIZE(TavPluginClipInfo, 496);
TAV_SIZE(Tav2PluginClipInfo, 12);
TAV_SIZE(Tav4PluginClipInfo, 224);
TAV_SIZE(TavRefClip, 220);
TAV_SIZE(TavProcs, 120);

TAV_AT(TavPluginParams, instance, 4);
TAV_AT(TavPluginParams, selector, 8);
TAV_AT(TavPluginParams, procs, 12);
TAV_AT(TavPluginParams, getInfo, 16);
TAV_AT(TavPluginParams, startFrame, 64);
TAV_AT(TavPluginParams, renderFrame, 68);
TAV_AT(TavPluginParams, frameCount, 72);
TAV_AT(TavPluginParams, proxyOnly, 76);
TAV_AT(TavPluginParams, frameRect, 78);
TAV_AT(TavPluginParams, frame, 88);
TAV_AT(TavPluginParams, clientData, 92);
TAV_AT(TavPluginParams, getInfo2, 96);
TAV_AT(TavPluginParams, getInfo3, 1424);
TAV_AT(TavPluginParams, getInfo4, 1552);

TAV_AT(TavPluginGetInfo, titleType, 1);
TAV_AT(TavPluginGetInfo, pluginFlags, 4);
TAV_AT(TavPluginGetInfo, framesToBeRendered, 8);
TAV_AT(TavPluginGetInfo, takeFromClipBefore, 12);
TAV_AT(TavPluginGetInfo, takeFromClipAfter, 16);
TAV_AT(TavPluginGetInfo, minSpeedFrames, 20);
TAV_AT(TavPluginGetInfo, maxSpeedFrames, 24);
TAV_AT(TavPluginGetInfo, mustTakeFromSingleClips, 28);
TAV_AT(TavPluginGetInfo, bestThumbOffset, 32);
TAV_AT(TavPluginGetInfo, defaultColor, 36);
TAV_AT(TavPluginGetInfo, defaultDirection, 42);
TAV_AT(TavPluginGetInfo, justify, 43);
TAV_AT(TavPluginGetInfo, defaultFontNum, 44);
TAV_AT(TavPluginGetInfo, defaultFontSize, 46);

TAV_AT(Tav2PluginGetInfo, filterSliders, 128);
TAV_AT(Tav2PluginGetInfo, defaultFadeInFrames, 1292);
TAV_AT(Tav2PluginGetInfo, baseMemoryNeeded, 1324);
TAV_AT(TavPluginFilterSliderInfo, defaultValue, 384);
TAV_AT(Tav3PluginGetInfo, fileInfo, 16);
TAV_AT(Tav3PluginGetInfo, buttonTitle, 96);
TAV_AT(TavPluginFileOpenInfo, hTypes, 4);
TAV_AT(TavPluginFileOpenInfo, chosenFile, 8);

TAV_AT(TavPluginTransitionInfo, ver2, 4);

TAV_AT(TavPluginClipInfo, fadeIn, 2);
TAV_AT(TavPluginClipInfo, fadeOut, 3);
TAV_AT(TavPluginClipInfo, name, 4);
TAV_AT(TavPluginClipInfo, ver2, 260);
TAV_AT(TavPluginClipInfo, ver4, 272);
TAV_AT(Tav2PluginClipInfo, frameSpeed, 2);
TAV_AT(Tav2PluginClipInfo, fadeInFrames, 4);
TAV_AT(Tav2PluginClipInfo, fadeOutFrames, 8);
TAV_AT(Tav4PluginClipInfo, clipRef, 4);

TAV_AT(TavRefClip, name, 1);
TAV_AT(TavRefClip, standard, 129);
TAV_AT(TavRefClip, frameCount, 132);
TAV_AT(TavRefClip, in, 136);
TAV_AT(TavRefClip, out, 140);
TAV_AT(TavRefClip, fileSpec, 144);
TAV_AT(TavRefClip, absoluteStartFrame, 216);

TAV_AT(TavProcs, NewPtrClear, 4);
TAV_AT(TavProcs, DisposePtr, 8);
TAV_AT(TavProcs, pstrcpy, 20);
TAV_AT(TavProcs, GetLocalizedString, 32);
TAV_AT(TavProcs, ReleaseFrame, 40);
TAV_AT(TavProcs, SetClipInfo, 60);
TAV_AT(TavProcs, ReleaseTransitionInfo, 92);
TAV_AT(TavProcs, CGStringWidth, 116);
#endif

#undef TAV_FIRST
#undef TAV_NEXT
#undef TAV_LAST
#undef TAV_AT
#undef TAV_SIZE

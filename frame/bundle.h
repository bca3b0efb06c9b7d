// What every bundle shares: the per-instance record, the palette and the hooks
// through which an effect source tells its bundle apart from the others.
#pragma once

#include <cstdint>

#include "tav/plugin.h"

#define TAV_EXPORT extern "C" __attribute__((visibility("default")))

// The per-instance record kept in `clientData`.
struct EffectData {
    int32_t frameCount;  // set to 0 by Initialize; nothing else reads it
    // Side of the grid's square boxes, in pixels. The single-clip bundles'
    // interface calls this field boxHeight; it is the same square side.
    int16_t boxSize;
};
static_assert(sizeof(EffectData) == 8);

TAV_EXPORT const RGBColor rgbReddish;
TAV_EXPORT const RGBColor rgbGreen;
TAV_EXPORT const RGBColor rgbLtGray;
TAV_EXPORT const RGBColor rgbDkGray;
TAV_EXPORT const RGBColor rgbBlack;
TAV_EXPORT const RGBColor rgbWhite;

namespace tav {

constexpr int32_t kMinSpeedFrames = 10;
constexpr int32_t kMaxSpeedFrames = 120;

// Box side of variants 1 to 4 (2, 4, 8, 16); 0 for any other variant.
constexpr int16_t BoxSizeForVariant(int16_t which) {
    return which >= 1 && which <= 4 ? int16_t(1 << which) : int16_t(0);
}

// Transition length from the speed, in single precision: the integer part of
// 10 + 110 * speed, made even. Speeds beyond what 32 bits hold saturate; NaN counts as 0.
int32_t TransitionLength(float speed);

// Calls a host service that takes the instance.
#define TAV_CALL(params, service, ...) ((params)->procs->service((params)->instance, __VA_ARGS__))

// --- Hooks each effect source defines for its bundle. ---

// GetInfo's variant-dependent fields for transition length `length`.
void WriteVariantInfo(int16_t which, TavPluginGetInfo& info, EffectData& data, int32_t length);

// Initialize: stores the box size of `which` (or leaves it) in `data`.
void InitializeVariant(int16_t which, EffectData& data);

// Terminate: the change the bundle makes to the clip's settings.
void AdjustClipAtTerminate(int16_t which, int32_t frameCount, TavPluginClipInfo& clip);

// DoFrame with a record present.
TavPluginResult DoFrame(int16_t which, TavPluginParams* params);

// The progress placeholder, the same in every bundle.
TavPluginResult DrawPlaceholder(TavPluginParams* params);

// Shared pieces of the variant table.
void WriteTiming(TavPluginGetInfo& info, TavPluginType type, int32_t framesToBeRendered,
                 int32_t before, int32_t after);
void WriteBetweenHalves(TavPluginGetInfo& info, int32_t length);

}  // namespace tav

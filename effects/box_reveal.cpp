// Box reveal from a solid colour: the clip shows through more and more boxes
// of a frame of the fill colour, and its audio is set to fade in.
#include "solid_layers.h"

namespace tav {

namespace {

struct RevealRule {
    static bool ColourFirst(double percent) { return percent < 0.5; }
    static bool Draws(double r, double threshold) { return r > threshold; }
};

}  // namespace

void WriteVariantInfo(int16_t which, TavPluginGetInfo& info, EffectData&, int32_t length) {
    WriteSingleClipInfo(which, info, length, kPluginTransitionBeforeType);
}

void InitializeVariant(int16_t which, EffectData& data) {
    data.boxSize = BoxSizeOrVariant(which);
}

void AdjustClipAtTerminate(int16_t which, int32_t frameCount, TavPluginClipInfo& clip) {
    if (which == kBetweenVariant) return;
    clip.fadeIn = 1;
    clip.ver2.fadeInFrames = frameCount;
}

TavPluginResult DoFrame(int16_t which, TavPluginParams* params) {
    return RunSingleClipSequence<SolidLayers<RevealRule>>(params, which != kBetweenVariant);
}

}  // namespace tav

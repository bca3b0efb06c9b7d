// Box conceal to a solid colour: more and more boxes of the clip are covered
// with the fill colour, and its audio is set to fade out.
#include "solid_layers.h"

namespace tav {

namespace {

struct ConcealRule {
    static bool ColourFirst(double percent) { return percent > 0.5; }
    static bool Draws(double r, double threshold) { return r < threshold; }
};

}  // namespace

void WriteVariantInfo(int16_t which, TavPluginGetInfo& info, EffectData&, int32_t length) {
    WriteSingleClipInfo(which, info, length, kPluginTransitionAfterType);
}

void InitializeVariant(int16_t which, EffectData& data) {
#if TAV_FILL_BLACK
    // The black build takes the smallest box for every variant outside 2 to 4.
    data.boxSize = which >= 2 && which <= 4 ? BoxSizeForVariant(which) : int16_t(2);
#else
    data.boxSize = BoxSizeOrVariant(which);
#endif
}

void AdjustClipAtTerminate(int16_t which, int32_t frameCount, TavPluginClipInfo& clip) {
    if (which == kBetweenVariant) return;
    clip.fadeOut = 1;
    clip.ver2.fadeOutFrames = frameCount;
}

TavPluginResult DoFrame(int16_t which, TavPluginParams* params) {
    return RunSingleClipSequence<SolidLayers<ConcealRule>>(params, which != kBetweenVariant);
}

}  // namespace tav

// Two-clip box dissolve: boxes of the second clip replace boxes of the first
// at random, each with a chance equal to the progress; the first clip's audio
// falls with the progress.
#include "pipeline.h"

namespace tav {

namespace {

struct Scatter {
    // Copies the second clip's box when rand() is at most percent of the range.
    static TavPluginResult Box(FrameContext& ctx, const SourceFrame& second, const Rect& srcRect,
                               const Rect& dstRect) {
        const double r = double(rand());
        if (ctx.percent * kRandMax >= r) return CopyBox(ctx, second, srcRect, dstRect);
        return kPluginOK;
    }
};

bool RendersVariant(int16_t which) {
    return uint16_t(which - 1) <= 3;
}

}  // namespace

void WriteVariantInfo(int16_t which, TavPluginGetInfo& info, EffectData& data, int32_t length) {
    if (!RendersVariant(which)) return;
    data.boxSize = BoxSizeForVariant(which);
    WriteTiming(info, kPluginTransitionBetweenType, length, length, length);
}

void InitializeVariant(int16_t which, EffectData& data) {
    if (RendersVariant(which)) data.boxSize = BoxSizeForVariant(which);
}

void AdjustClipAtTerminate(int16_t, int32_t, TavPluginClipInfo&) {}

TavPluginResult DoFrame(int16_t which, TavPluginParams* params) {
    return RunTwoClipSequence<Scatter>(params, RendersVariant(which));
}

}  // namespace tav

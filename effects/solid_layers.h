// What the reveal and the conceal share: a fill colour chosen at build time
// (TAV_FILL_BLACK), variant 5 as a between-clips variant that draws nothing,
// and a frame drawn in two layers so that the boxes drawn one by one are the
// smaller share. `Rule` says which half is colour-first and how a box's
// rand() value compares with the threshold.
#pragma once

#include "pipeline.h"

namespace tav {

#if TAV_FILL_BLACK
inline const RGBColor& kFill = rgbBlack;
#else
inline const RGBColor& kFill = rgbWhite;
#endif

constexpr int16_t kBetweenVariant = 5;

template <class Rule>
struct SolidLayers {
    class Frame {
      public:
        explicit Frame(FrameContext& ctx)
            : ctx_(ctx),
              colourFirst_(Rule::ColourFirst(ctx.percent)),
              threshold_((colourFirst_ ? 1.0 - ctx.percent : ctx.percent) * kRandMax) {}

        // Colour-first: the whole frame in the fill colour; otherwise the clip whole.
        TavPluginResult WholeFrame(const SourceFrame& source) {
            RGBForeColor(&kFill);
            if (!colourFirst_) return CopyWholeFrame(ctx_, source);
            PaintRect(&ctx_.wholeDstRect);
            return kPluginOK;
        }

        bool WantsWalk() const { return ctx_.params->renderFrame > 0; }

        // One rand() per box; a drawn box shows the layer that is not the base.
        TavPluginResult Box(const SourceFrame& source, const Rect& srcRect, const Rect& dstRect) {
            if (!Rule::Draws(double(rand()), threshold_)) return kPluginOK;
            if (colourFirst_) return CopyBox(ctx_, source, srcRect, dstRect);
            PaintRect(&dstRect);
            return kPluginOK;
        }

      private:
        FrameContext& ctx_;
        const bool colourFirst_;
        const double threshold_;
    };
};

// GetInfo for a single-clip bundle: `type` with its frames all from one side,
// or variant 5 as a between-clips transition taking half from each clip.
inline void WriteSingleClipInfo(int16_t which, TavPluginGetInfo& info, int32_t length,
                                TavPluginType type) {
    if (which == kBetweenVariant) {
        WriteBetweenHalves(info, length);
        return;
    }
    const bool fromBefore = type == kPluginTransitionAfterType;
    WriteTiming(info, type, length, fromBefore ? length : 0, fromBefore ? 0 : length);
}

// Initialize's box size for variants outside 1 to 4 is the variant number itself.
inline int16_t BoxSizeOrVariant(int16_t which) {
    const int16_t size = BoxSizeForVariant(which);
    return size ? size : which;
}

}  // namespace tav

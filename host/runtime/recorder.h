// Recorded drawing: during a DoFrame call the output world notes what is
// drawn into it (FrameRecording) instead of moving pixels, and source frames
// are lent before their pictures are drawn. What the composer cannot express
// (text, scaling, reading the output back, drawing into a source) makes the
// pixels real at that moment, and the rest of the call draws directly, so
// the result is the same as drawing directly in every case.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "frame_recording.h"
#include "plane_compose.h"
#include "tav/draw_host.h"
#include "tav/plugin.h"

namespace tavhost {

class FrameProvider;
struct LentFrame;

// A picture a host composes recorded frames into instead of its output world.
class ComposeTarget {
  public:
    virtual ~ComposeTarget() = default;
    virtual PlaneLayout Layout() const = 0;
    // The target's planes; they cover the frame rectangle.
    virtual PlaneImage Image() = 0;
    // Source frame `number` (lent `width` x `height`) in the target's layout,
    // its top-left the source's (0, 0); false when there is none such.
    virtual bool Source(int32_t number, bool lowQuality, int32_t width, int32_t height,
                        PlaneImage* image) = 0;
    // A colour, 0xAARRGGBB, as one sample for each plane.
    virtual void FillSamples(uint32_t pixel, uint32_t samples[3]) = 0;
};

enum class Composed { kTarget, kWorld, kFailed };

class Recorder final : public tavdraw::WorldWatcher {
  public:
    explicit Recorder(FrameProvider* const& provider) : provider_(provider) {}
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // A DoFrame call starts: what is drawn into `output` is recorded, its
    // frame (and box grid) at `frameRect`.
    void Begin(GWorldPtr output, const Rect& frameRect);
    // True while drawing into the output is being recorded.
    bool Recording() const { return output_ != nullptr; }
    // `frame` is lent with its picture not drawn yet.
    void Defer(LentFrame& frame, bool lowQuality);
    // The call is over: no world is watched any more; the recording stays
    // for Compose.
    void EndCall();
    // `world` is about to be disposed: a recording drawn into it is dropped.
    void WorldGone(const PixMap& world) {
        if (&world != world_) return;
        world_ = nullptr;
        recording_.Begin({}, {});
    }
    // A picture that could not be drawn since the call began.
    bool PictureFailed() const { return pictureFailed_; }
    void NotePictureFailed() { pictureFailed_ = true; }

    // The host's Blit and FillRect services, for worlds with a watcher.
    TavPluginResult Blit(PixMap& src, PixMap& dst, const Rect& srcRect, const Rect& dstRect);
    bool TakeFill(PixMap& pm, const Rect& r, uint32_t pixel) override;
    void MakeReal(PixMap& pm) override;

    // Composes what the last DoFrame recorded into `target` when it can
    // (the frame drawn over whole, on the target's grid, every source
    // available there), otherwise into the world it was drawn into, which
    // must still be there.
    Composed Compose(ComposeTarget* target);
    const FrameRecording& Recorded() const { return recording_; }

  private:
    LentFrame* Deferred(const PixMap& pm);
    // The last copy's source is no longer known to be what it was.
    void Forget() {
        lastSource_ = nullptr;
        lastFrame_ = nullptr;
        lastLayer_ = -1;
    }
    // Draws deferred frame `f`'s picture into its world.
    void DrawDeferred(LentFrame& f, PixMap& pm);
    // What is recorded so far, carried out on the world's pixels.
    bool ComposeWorld(PixMap& world);
    bool ComposeTargetPlanes(ComposeTarget& target);

    FrameProvider* const& provider_;
    PixMap* output_ = nullptr;  // the world being recorded, while it is
    PixMap* world_ = nullptr;   // the world the last recording was drawn into
    FrameRecording recording_;
    std::vector<LentFrame*> deferred_;
    // The source of the last recorded copy, its frame and the layer it made.
    const PixMap* lastSource_ = nullptr;
    LentFrame* lastFrame_ = nullptr;
    int32_t lastOffX_ = 0, lastOffY_ = 0;
    int lastLayer_ = -1;
    // Where a copy with the last offset lies inside both worlds whole.
    tav::PixelArea lastInside_;
    std::vector<GWorldPtr> scratch_;  // source pictures for composing into the world
    bool pictureFailed_ = false;
};

}  // namespace tavhost

#include "frame_canvas.h"

#include <new>

#include "timeline_frames.h"

namespace tavhost {

FrameCanvas::FrameCanvas(Host& host, TimelineFrames& frames, PixMap& world, bool inYuv, int width,
                         int height, media::Matrix matrix)
    : host_(host), frames_(frames), world_(world) {
    host_.ComposeLater(true);
    if (inYuv)
        yuv_ = std::make_unique<YuvComposer>(
            [this](int32_t number) { return frames_.FrameOf(number); }, width, height, matrix);
}

bool FrameCanvas::DrawCut(const media::Frame& cut, const std::string& what, std::string* error) {
    if (DrawFrameInto(cut, world_, false)) return true;
    *error = "cannot scale " + what + " to the output's size";
    return false;
}

bool FrameCanvas::Compose(bool written, bool wanted, const media::Frame& cut,
                          const std::string& what, std::string* error) {
    if (host_.GetDrawing() != Drawing::kRecorded || !(written || wanted)) return true;
    if (written && yuv_) {
        if (!yuv_->Prepare()) throw std::bad_alloc();
        if (host_.Compose(yuv_.get()) == Composed::kTarget) composed_ = yuv_->Picture();
    }
    if (composed_ && !wanted) return true;
    // The world: the cut's picture below, then what the plug-in drew.
    if (yuv_ && !DrawCut(cut, what, error)) return false;
    if (host_.Compose(nullptr) != Composed::kFailed) return true;
    *error = "cannot draw a transition frame: " +
             (frames_.Error().empty() ? std::string("out of memory") : frames_.Error());
    return false;
}

}  // namespace tavhost

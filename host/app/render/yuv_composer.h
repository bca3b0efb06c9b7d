// Transition frames composed straight into the output's YUV: each box takes
// the clip's own decoded samples and the fill colour is converted once with
// the output's matrix, so a frame of a transition skips both colour
// conversions, and the boxes that did not change clip are the clip's own
// pictures exactly. Each frame is a new picture from a pool, since the
// encoder may hold the last ones.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "av_util.h"
#include "picture_convert.h"
#include "recorder.h"

namespace tavhost {

namespace media {
struct Frame;
}

class YuvComposer : public ComposeTarget {
  public:
    // The clip frame a source frame number stands for, or null.
    using FrameOf = std::function<const media::Frame*(int32_t number)>;
    YuvComposer(FrameOf frames, int width, int height, media::Matrix matrix);
    ~YuvComposer() override;
    YuvComposer(const YuvComposer&) = delete;
    YuvComposer& operator=(const YuvComposer&) = delete;

    // A fresh picture for the next frame; false when out of memory.
    bool Prepare();
    // The picture composed last.
    const AVFrame* Picture() const { return picture_.get(); }

    PlaneLayout Layout() const override { return PlaneLayout::Yuv420(1); }
    PlaneImage Image() override;
    bool Source(int32_t number, bool lowQuality, int32_t width, int32_t height,
                PlaneImage* image) override;
    void FillSamples(uint32_t pixel, uint32_t samples[3]) override;

  private:
    FrameOf frames_;
    int width_, height_;
    media::Matrix matrix_;
    AVBufferPool* pools_[3] = {nullptr, nullptr, nullptr};
    int linesize_[3] = {0, 0, 0};
    media::AvFramePtr picture_;
    media::AvFramePtr colour_;  // a 2x2 picture of the last fill colour
    uint32_t lastPixel_ = 0;
    uint32_t lastSamples_[3] = {0, 0, 0};
    bool haveColour_ = false;
};

}  // namespace tavhost

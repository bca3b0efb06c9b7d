// Where an output frame's picture is made: the output world's pixels (a hard
// cut's picture, and what a transition's plug-in draws over it), or, for a
// transition composed in the movie's YUV, a picture of its own.
#pragma once

#include <memory>
#include <string>

#include "host.h"
#include "picture_convert.h"
#include "yuv_composer.h"

namespace tavhost {

namespace media {
struct Frame;
}
class TimelineFrames;

class FrameCanvas {
  public:
    // `inYuv`: transitions are composed in YUV (the output takes decoded
    // pictures and the host records its plug-ins' drawing).
    FrameCanvas(Host& host, TimelineFrames& frames, PixMap& world, bool inYuv, int width,
                int height, media::Matrix matrix);

    PixMap& World() { return world_; }
    // A new output frame: nothing composed yet.
    void Begin() { composed_ = nullptr; }
    // Whether a frame's hard cut goes into the world before it is drawn on:
    // a transition composed in YUV wants it only if it falls back to the world.
    bool CutFirst(bool transition) const { return !(transition && yuv_); }
    // The hard cut's picture as the world's pixels; false (and `error`) when it
    // cannot be scaled to the output's size. `what` names the frame.
    bool DrawCut(const media::Frame& cut, const std::string& what, std::string* error);
    // After a transition's DoFrame: the frame composed into a YUV picture of
    // its own when it is `written` and can be, and into the world when it is
    // not, or when the world is `wanted` too (a contact sheet).
    bool Compose(bool written, bool wanted, const media::Frame& cut, const std::string& what,
                 std::string* error);
    // This frame's picture when composed in YUV, else null (the world holds it).
    const AVFrame* Composed() const { return composed_; }

  private:
    Host& host_;
    TimelineFrames& frames_;
    PixMap& world_;
    std::unique_ptr<YuvComposer> yuv_;
    const AVFrame* composed_ = nullptr;
};

}  // namespace tavhost

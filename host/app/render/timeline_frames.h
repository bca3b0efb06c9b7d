// Source frames for the plug-in: the frame numbers it asks for, mapped by the
// current transition's placement to clip frames, read from the clips.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "clip_pool.h"
#include "clip_reader.h"
#include "host.h"
#include "placement.h"

namespace tavhost {

// Puts a decoded frame into `picture`: rows copied when the sizes match,
// scaled (cheaply when `lowQuality`) when they do not.
// False when the picture could not be scaled to the world's size.
bool DrawFrameInto(const media::Frame& frame, PixMap& picture, bool lowQuality);

class TimelineFrames : public FrameProvider {
  public:
    explicit TimelineFrames(ClipPool& clips) : clips_(clips) {}
    // The transition whose frames are asked for; none: every ask fails.
    void SetTransition(const Placement* placement) { placement_ = placement; }

    TavPluginResult ProvideFrame(int32_t number, bool lowQuality, PixMap* picture,
                                 std::vector<float>& audio, int16_t& volume) override;
    // The clip frame source frame `number` is, or null (Error() says why).
    const media::Frame* FrameOf(int32_t number);

    // Why the last frame could not be read, if a read failed.
    const std::string& Error() const { return error_; }

  private:
    ClipPool& clips_;
    const Placement* placement_ = nullptr;
    std::string error_;
};

}  // namespace tavhost

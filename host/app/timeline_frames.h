// Source frames for the plug-in: the frame numbers it asks for, mapped by the
// placement to clip frames, read from the clips' readers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "media.h"
#include "placement.h"

namespace tavhost {

// Puts a decoded frame into `picture`: rows copied when the sizes match,
// scaled (cheaply when `lowQuality`) when they do not.
void DrawFrameInto(const media::Frame& frame, PixMap& picture, bool lowQuality);

class TimelineFrames : public FrameProvider {
  public:
    TimelineFrames(const Placement& placement,
                   std::vector<std::unique_ptr<media::ClipReader>>& readers)
        : placement_(placement), readers_(readers) {}

    TavPluginResult ProvideFrame(int32_t number, bool lowQuality, PixMap& picture,
                                 std::vector<float>& audio, int16_t& volume) override;

    // Why the last frame could not be read, if a read failed.
    const std::string& Error() const { return error_; }

  private:
    const Placement& placement_;
    std::vector<std::unique_ptr<media::ClipReader>>& readers_;
    std::string error_;
};

}  // namespace tavhost

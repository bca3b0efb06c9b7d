#include "timeline_frames.h"

#include <cstring>

#include "image_io.h"
#include "picture_convert.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace tavhost {

bool DrawFrameInto(const media::Frame& frame, PixMap& picture, bool lowQuality) {
    const int w = picture.bounds.right - picture.bounds.left;
    const int h = picture.bounds.bottom - picture.bounds.top;
    if (w == frame.width && h == frame.height && frame.picture) {
        // Pixels made ahead, or straight from the decoded picture: converted,
        // or its rows copied.
        if (frame.converted) {
            for (int y = 0; y < h; ++y)
                std::memcpy(TavPixelRow(picture, y), frame.pixels.data() + size_t(y) * size_t(w),
                            size_t(w) * 4);
        } else if (const AVFrame* yuv = frame.Yuv()) {
            media::YuvToRgb(yuv, picture.baseAddr, picture.rowBytes / 4, frame.matrix, lowQuality);
        } else {
            for (int y = 0; y < h; ++y)
                std::memcpy(TavPixelRow(picture, y),
                            frame.picture->data[0] + ptrdiff_t(y) * frame.picture->linesize[0],
                            size_t(w) * 4);
        }
        return true;
    }
    const std::vector<uint32_t>& pixels = frame.Pixels(lowQuality);
    return media::Scale(pixels.data(), frame.width, frame.height, frame.width, picture.baseAddr, w,
                        h, picture.rowBytes / 4, lowQuality);
}

const media::Frame* TimelineFrames::FrameOf(int32_t number) {
    SourceRef ref;
    if (!placement_ || !placement_->Map(number, &ref)) return nullptr;
    return clips_.Frame(ref.clip, ref.index, &error_);
}

TavPluginResult TimelineFrames::ProvideFrame(int32_t number, bool lowQuality, PixMap* picture,
                                             std::vector<float>& audio, int16_t& volume) {
    const media::Frame* frame = FrameOf(number);
    if (!frame) return kPluginCantGetNeededFrame;
    if (picture && !DrawFrameInto(*frame, *picture, lowQuality)) {
        error_ = "cannot scale a picture to " + std::to_string(picture->bounds.right) + "x" +
                 std::to_string(picture->bounds.bottom);
        return kPluginCantGetNeededFrame;
    }
    audio.assign(frame->audio.begin(), frame->audio.end());
    volume = 255;
    return kPluginOK;
}

}  // namespace tavhost

// A clip's video packets as the probe pass found them, in decode order: what
// copying them into a movie unchanged needs to know.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "h264_units.h"
#include "media_types.h"

namespace tavhost::media {

struct PacketEntry {
    int64_t pts = 0;
    int64_t dts = 0;
    bool idr = false;      // starts with an IDR picture: nothing after it looks back
    bool discard = false;  // decoded only to lead up to the timeline's start
};

struct PacketIndex {
    std::string codec;      // the decoder's name, "h264" for H.264
    std::string pixFormat;  // e.g. "yuv420p"
    int width = 0, height = 0;
    bool squarePixels = true;
    int timeBaseNum = 1, timeBaseDen = 1;
    int64_t origin = 0;  // the video timeline's start, as the reader takes it
    h264::ParameterSets sets;
    bool setsChange = false;  // a set is redefined within the stream
    bool unreadable = false;  // a packet's units could not be split
    bool noTimes = false;     // a packet without a timestamp
    std::vector<PacketEntry> packets;

    // Records one video packet (called by the probe pass).
    void Add(const uint8_t* data, int size, int64_t pts, int64_t dts, bool discard);
};

// Where a reader of the clip starts, in the stream's time base: the
// timeline's start plus the in point.
inline int64_t ReadingStart(int64_t origin, double inSeconds, int tbNum, int tbDen) {
    return origin + std::llround(inSeconds / (double(tbNum) / double(tbDen)));
}

// The reader's frame number (at the output rate `fps`) of the picture with
// timestamp `pts`, for a reading that starts at `readingStart`: rounded to
// the nearest frame, as the reader's rate filter rounds it.
int64_t ClipFrameAt(int64_t pts, int64_t readingStart, int tbNum, int tbDen, Rational fps);

}  // namespace tavhost::media

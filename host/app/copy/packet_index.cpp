#include "packet_index.h"

#include "media_types.h"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace tavhost::media {

int64_t ClipFrameAt(int64_t pts, int64_t readingStart, int tbNum, int tbDen, Rational fps) {
    return av_rescale_q_rnd(pts - readingStart, AVRational{tbNum, tbDen},
                            AVRational{fps.den, fps.num},
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

void PacketIndex::Add(const uint8_t* data, int size, int64_t pts, int64_t dts, bool discard) {
    static constexpr int64_t kNoTime = INT64_MIN;
    PacketEntry entry;
    entry.pts = pts;
    entry.dts = dts;
    entry.discard = discard;
    if (pts == kNoTime) noTimes = true;  // MKV gives no dts: decode order is enough
    std::vector<h264::Unit> units;
    if (codec != "h264" || !h264::Split(data, size_t(size), sets.lengthSize, &units)) {
        unreadable = unreadable || codec == "h264";
    } else {
        for (const h264::Unit& u : units) {
            if (u.Type() == h264::kIdrSlice) entry.idr = true;
            if ((u.Type() == h264::kSps || u.Type() == h264::kPps) && !sets.Add(u))
                setsChange = true;
        }
    }
    packets.push_back(entry);
}

}  // namespace tavhost::media

#include "packet_copier.h"

#include "media_input.h"

namespace tavhost {

bool PacketCopier::Copies(int64_t t) const {
    for (const CopySegment& s : plan_.segments)
        if (t >= s.start && t < s.start + s.frames) return true;
    return false;
}

bool PacketCopier::Open(const CopySegment& s, bool seek, std::string* error) {
    const Clip& clip = clips_[size_t(s.clip)];
    input_.reset();
    if (!media::OpenInput(clip.path, &input_, error)) return false;
    video_ = av_find_best_stream(input_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video_ < 0) {
        *error = clip.label + " has no video";
        return false;
    }
    // To the keyframe at or before the first packet; Next() skips up to it.
    const media::PacketEntry& first = clip.index->packets[s.firstPacket];
    if (seek)
        av_seek_frame(input_.get(), video_,
                      first.dts == AV_NOPTS_VALUE ? first.pts : std::min(first.pts, first.dts),
                      AVSEEK_FLAG_BACKWARD);
    return true;
}

// Reads up to the segment's next packet, checks it is the one the probe pass
// saw there, and leaves it in pkt_.
bool PacketCopier::Next(const CopySegment& s, std::string* error) {
    const Clip& clip = clips_[size_t(s.clip)];
    const media::PacketEntry& want = clip.index->packets[s.firstPacket + size_t(written_)];
    bool reopened = false;
    for (;;) {
        av_packet_unref(pkt_.get());
        const int rc = av_read_frame(input_.get(), pkt_.get());
        if (rc < 0) {
            *error = "cannot copy from " + clip.label + ": " + media::AvError(rc);
            return false;
        }
        if (pkt_->stream_index != video_) continue;
        if (pkt_->pts == want.pts &&
            (pkt_->dts == want.dts || pkt_->dts == AV_NOPTS_VALUE || want.dts == AV_NOPTS_VALUE))
            return true;
        // Every packet before a segment's first is shown before it.
        if (written_ > 0 || pkt_->pts > want.pts) {
            // The seek went past the first packet: read from the start once.
            if (written_ == 0 && !reopened) {
                reopened = true;
                if (!Open(s, false, error)) return false;
                continue;
            }
            *error = clip.label + " changed while it was being copied";
            return false;
        }
    }
}

bool PacketCopier::CopyUpTo(int64_t t, const Write& write, std::string* error) {
    while (segment_ < plan_.segments.size()) {
        const CopySegment& s = plan_.segments[segment_];
        if (t < s.start) return true;
        const Clip& clip = clips_[size_t(s.clip)];
        const media::PacketIndex& index = *clip.index;
        if (!input_ && !Open(s, true, error)) return false;
        const int64_t due = std::min(s.frames, t - s.start + 1);
        for (; written_ < due; ++written_) {
            if (!Next(s, error)) return false;
            // The movie lists the parameter sets; the pictures go with 4-byte lengths.
            if (!media::h264::WithLengths(pkt_->data, size_t(pkt_->size), index.sets.lengthSize,
                                          false, &data_)) {
                *error = "cannot copy from " + clip.label + ": a packet cannot be read";
                return false;
            }
            const int64_t frame = media::ClipFrameAt(pkt_->pts, s.readingStart, index.timeBaseNum,
                                                     index.timeBaseDen, fps_) +
                                  s.offset;
            if (!write(data_.data(), data_.size(), frame, pkt_->flags & AV_PKT_FLAG_KEY, error))
                return false;
        }
        if (written_ < s.frames) return true;
        input_.reset();
        written_ = 0;
        ++segment_;
    }
    return true;
}

}  // namespace tavhost

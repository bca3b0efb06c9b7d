// Decoding one clip on the reader's thread (see clip_decoder.h).
#include "clip_decoder.h"

#include <cmath>

#include "media_input.h"
#include "packet_index.h"
#include "user_text.h"

namespace tavhost::media {

bool ClipDecoder::Open(const std::string& path, const ClipReader::Options& o, const ClipInfo& i,
                       std::string* error) {
    info_ = &i;
    const std::string name = o.shown.empty() ? Quoted(path) : o.shown;
    if (!OpenInput(path, &fmt_, error, "clip", name)) return false;
    video_stream_ = av_find_best_stream(fmt_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video_stream_ < 0) {
        *error = "clip " + name + " has no video";
        return false;
    }
    AVStream* vs = fmt_->streams[video_stream_];
    // The probe's origin: the earliest picture, where the clip's timeline starts.
    originPts_ = i.origin != INT64_MIN              ? i.origin
                 : vs->start_time != AV_NOPTS_VALUE ? vs->start_time
                                                    : 0;
    const double in = i.still ? 0.0 : std::max(0.0, o.inSeconds);
    startPts_ = ReadingStart(originPts_, in, vs->time_base.num, vs->time_base.den);
    endPts_ = std::max<int64_t>(1, std::llround(TrimmedSeconds(i, o) / av_q2d(vs->time_base)));
    video_ = VideoDecoder::Open(
        vs, o, i, startPts_, [this, vs](int64_t pts) { NoteDamage(vs->time_base, pts); }, error);
    if (!video_) {
        *error = "clip " + name + ": " + *error;
        return false;
    }
    // From the keyframe at or before the in point; pictures before it
    // only lead up to it (the rate filter drops them).
    // A cover picture comes once, before the sound: its clip is read from
    // the start, the sound before the in point dropped.
    if (in > 0 && !i.cover &&
        av_seek_frame(fmt_.get(), video_stream_, startPts_, AVSEEK_FLAG_BACKWARD) >= 0) {
        seeked_ = true;
        video_->CheckFirstPicture(true);
    }
    audio_stream_ = av_find_best_stream(fmt_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    // The probe found whether the sound decodes; a clip it found mute is read mute.
    if (audio_stream_ >= 0 && i.hasAudio) {
        sound_ = SoundDecoder::Open(fmt_.get(), audio_stream_, o, Seconds(startPts_, vs->time_base),
                                    [this](AVRational tb, int64_t pts) { NoteDamage(tb, pts); });
        if (!sound_) NoteDamage(vs->time_base, AV_NOPTS_VALUE);
    }
    if (!sound_) audio_stream_ = -1;
    return true;
}

void ClipDecoder::NoteDamage(AVRational tb, int64_t pts) {
    ++damage_.errors;
    if (pts == AV_NOPTS_VALUE) pts = readPts_;  // where reading had got to
    if (damage_.firstAt < 0)
        damage_.firstAt =
            pts == AV_NOPTS_VALUE ? 0.0 : std::max(0.0, Seconds(pts - originPts_, tb));
}

void ClipDecoder::SeekEarlier() {
    const AVStream* vs = fmt_->streams[video_stream_];
    const int64_t second = std::max<int64_t>(1, av_rescale_q(1, {1, 1}, vs->time_base));
    seekBack_ = seekBack_ ? 2 * seekBack_ : second;
    ++seeks_;
    video_->Reset();
    const int64_t target = startPts_ - seekBack_;
    if (target <= originPts_ ||
        av_seek_frame(fmt_.get(), video_stream_, target, AVSEEK_FLAG_BACKWARD) < 0) {
        // From the very start: by bytes where the container seeks so, else by
        // time; nothing lies before it to look for.
        if (av_seek_frame(fmt_.get(), -1, 0, AVSEEK_FLAG_BYTE) < 0)
            av_seek_frame(fmt_.get(), video_stream_, originPts_, AVSEEK_FLAG_BACKWARD);
        video_->CheckFirstPicture(false);
    } else {
        video_->CheckFirstPicture(true);
    }
    if (sound_) sound_->Reset();
    eof_ = false;
    damage_ = Damage{};
}

bool ClipDecoder::More() {
    if (flushed_) return false;
    if (!eof_) {
        const int rc = av_read_frame(fmt_.get(), pkt_.get());
        if (rc >= 0) {
            if (pkt_->stream_index == video_stream_) {
                if (pkt_->pts != AV_NOPTS_VALUE) readPts_ = pkt_->pts;
                video_->Send(pkt_.get());
                if (video_->LandedPast()) SeekEarlier();
            } else if (pkt_->stream_index == audio_stream_ && sound_) {
                sound_->Send(pkt_.get());
            }
            av_packet_unref(pkt_.get());
            return true;
        }
        if (rc != AVERROR_EOF) NoteDamage(fmt_->streams[video_stream_]->time_base, AV_NOPTS_VALUE);
        if (video_->Checking()) {
            // The end before a picture at or before the in point: the seek
            // landed past the last keyframe before it.
            video_->Flush();
            if (video_->Checking()) {
                SeekEarlier();
                return true;
            }
        }
        eof_ = true;
    }
    Finish();
    return false;
}

void ClipDecoder::Finish() {
    video_->Flush();
    video_->End(endPts_);
    if (sound_) sound_->Flush();
    // Pictures the decoder refused, on top of those the file lacks (known
    // only when the whole file was read).
    const Damage& probed = info_->damage;
    damage_.lostFrames = probed.lostFrames +
                         (seeked_ ? 0 : std::max<int64_t>(0, info_->packets - video_->Decoded()));
    // Leading pictures that could not be decoded (their reference is not in
    // the file, as in a recording cut inside a group of pictures): the first
    // good one stood in for them from where reading starts.
    const int64_t first = video_->FirstPicture();
    if (first != AV_NOPTS_VALUE && first > startPts_) {
        const AVRational tb = fmt_->streams[video_stream_]->time_base;
        if (seeked_)  // else counted with the packets that did not decode
            damage_.lostFrames += std::max<int64_t>(
                1, std::llround(Seconds(first - startPts_, tb) * info_->fps.num / info_->fps.den));
        damage_.firstAt = std::max(0.0, Seconds(startPts_ - originPts_, tb));
    }
    damage_.errors += probed.errors;
    damage_.cutShort = probed.cutShort;
    damage_.missingAtEnd = probed.missingAtEnd;
    damage_.endsAt = probed.endsAt;
    if (probed.firstAt >= 0 && (damage_.firstAt < 0 || probed.firstAt < damage_.firstAt))
        damage_.firstAt = probed.firstAt;
    flushed_ = true;
}

}  // namespace tavhost::media

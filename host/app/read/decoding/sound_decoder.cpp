#include "sound_decoder.h"

#include <algorithm>
#include <cmath>

#include "media_input.h"

namespace tavhost::media {

std::unique_ptr<SoundDecoder> SoundDecoder::Open(const AVFormatContext* fmt, int stream,
                                                 const ClipReader::Options& options,
                                                 double videoStart, NoteDamage damage) {
    std::unique_ptr<SoundDecoder> d(
        new SoundDecoder(fmt, stream, options, videoStart, std::move(damage)));
    std::string why;
    d->dec_ = OpenDecoder(fmt->streams[stream], &why);
    if (!d->dec_) return nullptr;
    return d;
}

SoundDecoder::SoundDecoder(const AVFormatContext* fmt, int stream,
                           const ClipReader::Options& options, double videoStart, NoteDamage damage)
    : fmt_(fmt),
      stream_(stream),
      options_(options),
      videoStart_(videoStart),
      damage_(std::move(damage)) {}

void SoundDecoder::Reset() {
    avcodec_flush_buffers(dec_.get());
    swr_.reset();
    sound_.clear();
    anchors_.clear();
    undecoded_.clear();
    sent_.clear();
    av_packet_unref(lastSkipped_.get());
    base_ = 0;
    next_ = -1;
}

void SoundDecoder::Take(AVFrame* frame) {
    if (!swr_) {
        AVChannelLayout layout;
        av_channel_layout_default(&layout, Channels());
        SwrContext* s = nullptr;
        const int rc = swr_alloc_set_opts2(
            &s, &layout, AV_SAMPLE_FMT_FLT, options_.output.sound.rate, &frame->ch_layout,
            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (rc < 0 || swr_init(s) < 0) {
            // Sound in a form that cannot be converted: the rest is mute, and said.
            swr_free(&s);
            damage_(fmt_->streams[stream_]->time_base, frame->pts);
            active_ = false;
            return;
        }
        swr_.reset(s);
        const AVStream* as = fmt_->streams[stream_];
        const double t =
            frame->pts == AV_NOPTS_VALUE
                ? (as->start_time == AV_NOPTS_VALUE ? 0.0 : Seconds(as->start_time, as->time_base))
                : Seconds(frame->pts, as->time_base);
        next_ = int64_t(std::llround((t - videoStart_) * options_.output.sound.rate));
        shift_ = GridShift(next_, frame->nb_samples);
        next_ += shift_;
    } else {
        PlaceAt(frame->pts, swr_get_delay(swr_.get(), options_.output.sound.rate));
    }
    const int capacity = swr_get_out_samples(swr_.get(), frame->nb_samples);
    std::vector<float> out(size_t(std::max(capacity, 0)) * size_t(Channels()));
    uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(out.data())};
    const int n = swr_convert(swr_.get(), outPlanes, capacity,
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n <= 0) return;
    // Float sound that is not a number (a damaged clip) is silence, and said.
    bool damaged = false;
    for (float& v : out)
        if (!std::isfinite(v)) {
            v = 0.0f;
            damaged = true;
        }
    if (damaged) damage_(fmt_->streams[stream_]->time_base, frame->pts);
    // A whole packet's samples, all kept, mark where that packet begins.
    if (options_.soundGrid >= 0 && n == kPacketSamples && frame->nb_samples == n &&
        frame->pts != AV_NOPTS_VALUE && next_ >= base_) {
        // The packet it was decoded from: AAC gives one frame a packet.
        while (!sent_.empty() && sent_.front()->pts < frame->pts) sent_.pop_front();
        if (!sent_.empty() && sent_.front()->pts == frame->pts) {
            anchors_.push_back({next_, frame->pts, std::move(sent_.front())});
            sent_.pop_front();
        }
    }
    Append(out.data(), n);
}

int64_t SoundDecoder::GridShift(int64_t at, int samples) const {
    if (options_.soundGrid < 0) return 0;
    // A first frame shorter than a packet is the end of one whose start was
    // skipped (the encoder's priming): the next packet begins after it.
    const int64_t packetStart = samples < kPacketSamples ? at + samples : at;
    const int64_t phase =
        ((packetStart + options_.soundGrid) % kPacketSamples + kPacketSamples) % kPacketSamples;
    int64_t shift = -phase;
    if (shift < -kPacketSamples / 2) shift += kPacketSamples;
    if (shift >= kPacketSamples / 2) shift -= kPacketSamples;
    return shift;
}

bool SoundDecoder::Skippable(const AVPacket* p) const {
    // Only once the sound's place is known, and far enough inside one run of
    // copied pictures that the movie's encoder never needs this sound, even
    // for the packets it is given before a stretch of its own.
    if (!options_.skipCopiedSound || options_.soundGrid < 0 || !swr_ || next_ < base_ ||
        p->pts == AV_NOPTS_VALUE || dec_->frame_size != kPacketSamples)
        return false;
    const OutputFormat& out = options_.output;
    const int64_t margin = int64_t(2 * kLeadInPackets + 4) * kPacketSamples;
    const auto frameOf = [&](int64_t sample) {
        return sample * out.fps.num / (int64_t(out.sound.rate) * out.fps.den);
    };
    // Nor near the end of the clip's sound, where its packets stop.
    const AVStream* as = fmt_->streams[stream_];
    const double end =
        as->duration != AV_NOPTS_VALUE
            ? Seconds((as->start_time == AV_NOPTS_VALUE ? 0 : as->start_time) + as->duration,
                      as->time_base)
        : fmt_->duration != AV_NOPTS_VALUE ? double(fmt_->duration) / AV_TIME_BASE
                                           : -1.0;
    const double soundEnd = (end - videoStart_) * out.sound.rate;
    if (end < 0 || double(next_ + kPacketSamples + margin) >= soundEnd) return false;
    return options_.copied.Frames(frameOf(next_ - margin),
                                  frameOf(next_ + kPacketSamples + margin) + 1);
}

void SoundDecoder::Send(const AVPacket* p) {
    if (!active_) return;
    if (Skippable(p)) {
        PlaceAt(p->pts, 0);
        anchors_.push_back({next_, p->pts, SharedPacket(p)});
        if (!undecoded_.empty() && undecoded_.back().second == next_)
            undecoded_.back().second += kPacketSamples;
        else
            undecoded_.push_back({next_, next_ + kPacketSamples});
        static const std::vector<float> silence(size_t(kPacketSamples) * 8, 0.0f);
        for (int left = kPacketSamples; left > 0;) {
            const int n = std::min(left, int(silence.size() / size_t(Channels())));
            Append(silence.data(), n);
            left -= n;
        }
        av_packet_unref(lastSkipped_.get());
        if (av_packet_ref(lastSkipped_.get(), p) < 0) throw std::bad_alloc();
        return;
    }
    if (lastSkipped_->data) {
        // The packet before this one overlaps it: decoded first, its own
        // sound thrown away, it makes this one decode as it would have.
        AvFramePtr discarded(Allocated(av_frame_alloc()));
        if (avcodec_send_packet(dec_.get(), lastSkipped_.get()) >= 0)
            while (avcodec_receive_frame(dec_.get(), discarded.get()) >= 0)
                av_frame_unref(discarded.get());
        av_packet_unref(lastSkipped_.get());
    }
    if (options_.soundGrid >= 0 && p->pts != AV_NOPTS_VALUE) {
        sent_.push_back(SharedPacket(p));
        // A decoder that keeps more than a few packets back gives no anchors.
        if (sent_.size() > 16) sent_.pop_front();
    }
    avcodec_send_packet(dec_.get(), p);
    Drain();
}

void SoundDecoder::Flush() {
    if (!active_) return;
    avcodec_send_packet(dec_.get(), nullptr);
    Drain();
}

void SoundDecoder::Drain() {
    for (;;) {
        AvFramePtr frame(Allocated(av_frame_alloc()));
        if (avcodec_receive_frame(dec_.get(), frame.get()) < 0) return;
        if (active_) Take(frame.get());
    }
}

void SoundDecoder::PlaceAt(int64_t pts, int64_t delay) {
    if (pts == AV_NOPTS_VALUE || !active_) return;
    const int rate = options_.output.sound.rate;
    const int64_t at =
        std::llround((Seconds(pts, fmt_->streams[stream_]->time_base) - videoStart_) * rate) +
        shift_ - delay;
    // Containers round timestamps (Matroska to the millisecond): within 2 ms
    // the sound runs on as it is.
    if (std::abs(at - next_) > rate / 500) next_ = at;
}

void SoundDecoder::Append(const float* data, int n) {
    int64_t at = next_;
    next_ += n;
    const int64_t placed = End();
    if (at < placed) {
        const int64_t skip = std::min<int64_t>(placed - at, n);
        data += skip * Channels();
        n -= int(skip);
        at += skip;
    }
    if (n <= 0) return;
    const size_t channels = size_t(Channels());
    if (at > End()) sound_.insert(sound_.end(), size_t(at - End()) * channels, 0.0f);
    sound_.insert(sound_.end(), data, data + size_t(n) * channels);
}

void SoundDecoder::Cut(int64_t start, int64_t end, Frame* frame) {
    const size_t channels = size_t(Channels());
    const size_t want = size_t(end - start) * channels;
    frame->audio.assign(want, 0.0f);
    if (start > base_) {
        const size_t drop = std::min(sound_.size(), size_t(start - base_) * channels);
        sound_.erase(sound_.begin(), sound_.begin() + ptrdiff_t(drop));
        base_ = start;
    }
    const size_t have = std::min(want, sound_.size());
    std::copy(sound_.begin(), sound_.begin() + ptrdiff_t(have), frame->audio.begin());
    frame->anchors.clear();
    while (!anchors_.empty() && anchors_.front().offset < end) {
        if (anchors_.front().offset >= start)
            frame->anchors.push_back({anchors_.front().offset - start, anchors_.front().pts,
                                      std::move(anchors_.front().packet)});
        anchors_.pop_front();
    }
    while (!undecoded_.empty() && undecoded_.front().second <= start) undecoded_.pop_front();
    frame->soundDecoded = undecoded_.empty() || undecoded_.front().first >= end;
}

}  // namespace tavhost::media

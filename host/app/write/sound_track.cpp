#include "sound_track.h"

#include <algorithm>

#include "movie_format.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace tavhost::media {

namespace {

// Zero chunks the encoder is given before its packets may stand for silence:
// more than the chunks of look-ahead and overlap it keeps.
constexpr int kSilentChunks = 4;

}  // namespace

SoundTrack::SoundTrack(Muxer& muxer, const MovieOptions& options)
    : muxer_(muxer), options_(options) {}

bool SoundTrack::Open(std::string* error) {
    const bool webm = muxer_.Webm();
    codec_ = webm                  ? avcodec_find_encoder_by_name("libopus")
             : options_.exactSound ? avcodec_find_encoder(AV_CODEC_ID_PCM_F32LE)
                                   : avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec_) {
        *error = muxer_.Failed(webm ? "this FFmpeg has no Opus encoder"
                                    : "this FFmpeg has no AAC encoder");
        return false;
    }
    // The format the plan chose for this container (SoundFormatFor).
    sound_ = options_.format.sound;
    if (!OpenEncoder(error)) return false;
    stream_ = muxer_.AddStream();
    if (int rc = avcodec_parameters_from_context(stream_->codecpar, enc_.get()); rc < 0) {
        *error = muxer_.Failed("cannot describe the sound: " + AvError(rc));
        return false;
    }
    stream_->time_base = enc_->time_base;
    chunk_ = enc_->frame_size > 0 ? enc_->frame_size : kPacketSamples;
    frame_ = ChunkFrame(AVSampleFormat(enc_->sample_fmt));
    return true;
}

AvFramePtr SoundTrack::ChunkFrame(AVSampleFormat format) const {
    AvFramePtr frame(Allocated(av_frame_alloc()));
    frame->format = format;
    frame->sample_rate = sound_.rate;
    av_channel_layout_default(&frame->ch_layout, sound_.channels);
    frame->nb_samples = chunk_;
    if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
    return frame;
}

CodecPtr SoundTrack::NewCoder(std::string* error) const {
    std::string why;
    CodecPtr enc = OpenSoundCoder(codec_, sound_, muxer_.Webm(), muxer_.GlobalHeader(), &why);
    if (!enc) *error = muxer_.Failed(why);
    return enc;
}

bool SoundTrack::OpenEncoder(std::string* error) {
    enc_ = NewCoder(error);
    silence_ = Silence{};
    return bool(enc_);
}

bool SoundTrack::Encode(const float* data, int samples, bool mayRepeatSilence, std::string* error) {
    if (Aac()) {
        const bool zeros =
            samples == chunk_ && std::all_of(data, data + size_t(samples) * size_t(sound_.channels),
                                             [](float v) { return v == 0.0f; });
        if (zeros && silence_.steady && mayRepeatSilence) {
            place_ += samples;
            if (av_new_packet(pkt_.get(), int(silence_.last.size())) < 0) throw std::bad_alloc();
            std::copy(silence_.last.begin(), silence_.last.end(), pkt_->data);
            pkt_->duration = samples;
            pkt_->flags |= AV_PKT_FLAG_KEY;
            return Write(pkt_.get(), error);
        }
        silence_.zeroChunks = zeros ? silence_.zeroChunks + 1 : 0;
        if (!zeros) silence_.steady = false;
    }
    const bool sent = Send(data, samples, place_, error);
    place_ += samples;
    return sent && Drain(error);
}

bool SoundTrack::Feed(const float* data, int samples, int64_t pts, std::string* error) {
    return Send(data, samples, pts, error) && Drain(error);
}

bool SoundTrack::Fill(AVFrame* frame, const float* data, int samples, int64_t pts,
                      std::string* error) const {
    const size_t channels = size_t(sound_.channels);
    frame->nb_samples = samples;
    if (int rc = av_frame_make_writable(frame); rc < 0) {
        *error = muxer_.Failed("cannot encode the sound: " + AvError(rc));
        return false;
    }
    if (frame->format == AV_SAMPLE_FMT_FLT) {
        auto* all = reinterpret_cast<float*>(frame->data[0]);
        for (size_t i = 0; i < size_t(samples) * channels; ++i)
            all[i] = std::clamp(data[i], -1.0f, 1.0f);
    } else {
        for (size_t c = 0; c < channels; ++c) {
            auto* plane = reinterpret_cast<float*>(frame->extended_data[c]);
            for (size_t i = 0; i < size_t(samples); ++i)
                plane[i] = std::clamp(data[i * channels + c], -1.0f, 1.0f);
        }
    }
    frame->pts = pts;
    return true;
}

bool SoundTrack::Send(const float* data, int samples, int64_t pts, std::string* error) {
    if (!Fill(frame_.get(), data, samples, pts, error)) return false;
    if (int rc = avcodec_send_frame(enc_.get(), frame_.get()); rc < 0) {
        *error = muxer_.Failed("audio encoding failed: " + AvError(rc));
        return false;
    }
    return true;
}

bool SoundTrack::Rehearse(const std::vector<const float*>& blocks, int64_t firstPts, size_t wanted,
                          std::vector<uint8_t>* packet, std::string* error) const {
    CodecPtr enc = NewCoder(error);
    if (!enc) return false;
    AvFramePtr frame = ChunkFrame(AVSampleFormat(enc->sample_fmt));
    PacketPtr pkt(Allocated(av_packet_alloc()));
    size_t out = 0;
    packet->clear();
    const auto drain = [&]() {
        while (avcodec_receive_packet(enc.get(), pkt.get()) == 0) {
            if (out++ == wanted) packet->assign(pkt->data, pkt->data + pkt->size);
            av_packet_unref(pkt.get());
        }
    };
    int64_t pts = firstPts;
    for (const float* block : blocks) {
        if (!Fill(frame.get(), block, chunk_, pts, error)) return false;
        pts += chunk_;
        if (int rc = avcodec_send_frame(enc.get(), frame.get()); rc < 0) {
            *error = muxer_.Failed("audio encoding failed: " + AvError(rc));
            return false;
        }
        drain();
        if (out > wanted) return true;
    }
    if (avcodec_send_frame(enc.get(), nullptr) >= 0) drain();
    return true;
}

bool SoundTrack::Drain(std::string* error) {
    for (;;) {
        const int rc = avcodec_receive_packet(enc_.get(), pkt_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) {
            *error = muxer_.Failed("encoding failed: " + AvError(rc));
            return false;
        }
        if (keep_ && !keep_(*pkt_)) {
            av_packet_unref(pkt_.get());
            continue;
        }
        if (Aac()) {
            const bool same = silence_.last.size() == size_t(pkt_->size) &&
                              std::equal(silence_.last.begin(), silence_.last.end(), pkt_->data);
            silence_.steady = silence_.zeroChunks >= kSilentChunks && same;
            silence_.last.assign(pkt_->data, pkt_->data + pkt_->size);
        }
        if (!Write(pkt_.get(), error)) return false;
    }
}

bool SoundTrack::Close(std::string* error) {
    if (!enc_) return true;
    if (int rc = avcodec_send_frame(enc_.get(), nullptr); rc < 0) {
        *error = muxer_.Failed("audio encoding failed: " + AvError(rc));
        return false;
    }
    if (!Drain(error)) return false;
    enc_.reset();
    return true;
}

void SoundTrack::Skip(int samples) {
    place_ += samples;
    silence_.zeroChunks = 0;
    silence_.steady = false;
}

bool SoundTrack::Put(AVPacket* pkt, std::string* error) {
    pkt->duration = chunk_;
    pkt->flags |= AV_PKT_FLAG_KEY;
    place_ += chunk_;
    return Write(pkt, error);
}

bool SoundTrack::Write(AVPacket* pkt, std::string* error) {
    // AAC packets go out one after another, each at the end of the one
    // before, copied ones and repeated silence among them; the others keep
    // their encoder's times.
    if (Aac()) {
        if (packetPts_ == AV_NOPTS_VALUE) packetPts_ = pkt->pts;
        pkt->pts = pkt->dts = packetPts_;
        packetPts_ += pkt->duration;
    }
    ++written_;
    return muxer_.Write(pkt, AVRational{1, sound_.rate}, stream_, error);
}

}  // namespace tavhost::media

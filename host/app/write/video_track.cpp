#include "video_track.h"

#include <algorithm>
#include <cstring>

#include "h264_units.h"
#include "movie_format.h"

namespace tavhost::media {

VideoTrack::VideoTrack(Muxer& muxer, const MovieOptions& options)
    : muxer_(muxer), options_(options) {}

bool VideoTrack::Open(std::string* error) {
    stream_ = muxer_.AddStream();
    const AVRational frameTime{options_.format.fps.den, options_.format.fps.num};
    if (options_.givenVideo) {
        if (muxer_.Webm()) {
            *error = muxer_.Failed("the parts' H.264 pictures need an MP4, MOV or MKV file");
            return false;
        }
        if (int rc = avcodec_parameters_copy(stream_->codecpar, options_.givenVideo.get());
            rc < 0) {
            *error = muxer_.Failed("cannot describe the video: " + AvError(rc));
            return false;
        }
        // The container gives the stream its own tag.
        stream_->codecpar->codec_tag = 0;
        stream_->time_base = frameTime;
        return true;
    }
    if (options_.copy && muxer_.Webm()) {
        *error = muxer_.Failed("copied H.264 pictures need an MP4, MOV or MKV file");
        return false;
    }
    if (!OpenEncoder(error)) return false;
    if (int rc = avcodec_parameters_from_context(stream_->codecpar, enc_.get()); rc < 0) {
        *error = muxer_.Failed("cannot describe the video: " + AvError(rc));
        return false;
    }
    stream_->time_base = enc_->time_base;
    if (options_.copy && !ListParameterSets(error)) return false;
    frame_->format = enc_->pix_fmt;
    frame_->width = enc_->width;
    frame_->height = enc_->height;
    if (av_frame_get_buffer(frame_.get(), 0) < 0) throw std::bad_alloc();
    return true;
}

bool VideoTrack::OpenEncoder(std::string* error) {
    std::string why;
    enc_ = OpenVideoCoder(options_, muxer_.Webm(), muxer_.GlobalHeader(), &why);
    if (!enc_) {
        *error = muxer_.Failed(why);
        return false;
    }
    if (options_.copy) {
        // Every span's encoder must write the sets the file lists.
        const std::vector<uint8_t> sets(enc_->extradata, enc_->extradata + enc_->extradata_size);
        if (encoderSets_.empty()) encoderSets_ = sets;
        if (sets != encoderSets_) {
            *error = muxer_.Failed("the encoder's parameter sets changed between spans");
            return false;
        }
    }
    return true;
}

bool VideoTrack::ListParameterSets(std::string* error) {
    const h264::Bytes config =
        h264::CombinedConfig(encoderSets_.data(), encoderSets_.size(), options_.copy->sets);
    if (config.empty()) {
        *error = muxer_.Failed("the clips' parameter sets do not go with the encoder's");
        return false;
    }
    AVCodecParameters* par = stream_->codecpar;
    av_freep(&par->extradata);
    par->extradata =
        static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) throw std::bad_alloc();
    std::memcpy(par->extradata, config.data(), config.size());
    par->extradata_size = int(config.size());
    delay_ = std::max(options_.copy->reorderDelay, enc_->has_b_frames);
    par->video_delay = delay_;
    return true;
}

bool VideoTrack::TakesAsItIs(const AVFrame* picture) const {
    return picture && picture->format == AV_PIX_FMT_YUV420P &&
           picture->width == options_.format.width && picture->height == options_.format.height;
}

bool VideoTrack::Encode(const uint32_t* pixels, int rowPixels, std::string* error) {
    if (av_frame_make_writable(frame_.get()) < 0) throw std::bad_alloc();
    RgbToYuv(pixels, rowPixels, options_.format.width, options_.format.height, frame_.get(),
             options_.matrix);
    return Send(frame_.get(), error);
}

bool VideoTrack::Encode(const AVFrame* picture, std::string* error) {
    av_frame_unref(passed_.get());
    if (av_frame_ref(passed_.get(), picture) < 0) throw std::bad_alloc();
    passed_->pict_type = AV_PICTURE_TYPE_NONE;
    const bool ok = Send(passed_.get(), error);
    av_frame_unref(passed_.get());
    return ok;
}

bool VideoTrack::Send(AVFrame* frame, std::string* error) {
    if (options_.givenVideo) {
        *error = muxer_.Failed("this movie is given its pictures encoded");
        return false;
    }
    if (!enc_ && !OpenEncoder(error)) return false;
    frame->pts = pts_++;
    if (int rc = avcodec_send_frame(enc_.get(), frame); rc < 0) {
        *error = muxer_.Failed("video encoding failed: " + AvError(rc));
        return false;
    }
    return Drain(error);
}

bool VideoTrack::Drain(std::string* error) {
    for (;;) {
        const int rc = avcodec_receive_packet(enc_.get(), pkt_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) {
            *error = muxer_.Failed("encoding failed: " + AvError(rc));
            return false;
        }
        if (options_.copy) {
            // Annex B from the encoder becomes 4-byte lengths, as in the avcC.
            const bool ok = h264::WithLengths(pkt_->data, size_t(pkt_->size), 0, true, &units_);
            const bool key = pkt_->flags & AV_PKT_FLAG_KEY;
            const int64_t pts = pkt_->pts;
            av_packet_unref(pkt_.get());
            if (!ok) {
                *error = muxer_.Failed("the encoder wrote a packet that cannot be read");
                return false;
            }
            if (!WriteCopied(units_.data(), units_.size(), pts, key, error)) return false;
            continue;
        }
        // Every video packet lasts one frame: without it the muxers give the
        // last frame no time and MP4's edit list drops it.
        if (pkt_->duration <= 0) pkt_->duration = 1;
        if (!muxer_.Write(pkt_.get(), enc_->time_base, stream_, error)) return false;
    }
}

bool VideoTrack::Copy(const uint8_t* data, size_t size, int64_t pts, bool key, std::string* error) {
    if (!options_.copy) {
        *error = muxer_.Failed("this movie takes no copied pictures");
        return false;
    }
    if (!EndSpan(error)) return false;
    ++pts_;
    return WriteCopied(data, size, pts, key, error);
}

bool VideoTrack::Given(const uint8_t* data, size_t size, int64_t pts, int64_t dts, bool key,
                       std::string* error) {
    if (!options_.givenVideo) {
        *error = muxer_.Failed("this movie encodes its pictures");
        return false;
    }
    return WritePacket(data, size, pts, dts, key, error);
}

bool VideoTrack::WriteCopied(const uint8_t* data, size_t size, int64_t pts, bool key,
                             std::string* error) {
    const int64_t dts = packets_++ - delay_;
    if (pts < dts) {
        *error =
            muxer_.Failed("picture " + std::to_string(pts) + " comes too late in decode order");
        return false;
    }
    return WritePacket(data, size, pts, dts, key, error);
}

bool VideoTrack::WritePacket(const uint8_t* data, size_t size, int64_t pts, int64_t dts, bool key,
                             std::string* error) {
    if (av_new_packet(pkt_.get(), int(size)) < 0) throw std::bad_alloc();
    std::memcpy(pkt_->data, data, size);
    pkt_->pts = pts;
    pkt_->dts = dts;
    pkt_->duration = 1;
    if (key) pkt_->flags |= AV_PKT_FLAG_KEY;
    return muxer_.Write(pkt_.get(), {options_.format.fps.den, options_.format.fps.num}, stream_,
                        error);
}

bool VideoTrack::EndSpan(std::string* error) {
    if (!enc_) return true;
    avcodec_send_frame(enc_.get(), nullptr);
    if (!Drain(error)) return false;
    enc_.reset();
    return true;
}

}  // namespace tavhost::media

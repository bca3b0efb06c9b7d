// The movie's video encoder, and the spans it encodes between H.264
// pictures copied from the clips: each span its own encoder starting on an
// IDR picture, under parameter sets the copied packets leave free.
#include <algorithm>
#include <cstring>

#include "movie_format.h"
#include "movie_writer_impl.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace tavhost::media {

bool MovieWriter::Impl::OpenVideoEncoder(std::string* error) {
    std::string why;
    venc = OpenVideoCoder(options, webm, oc->oformat->flags & AVFMT_GLOBALHEADER, &why);
    if (!venc) {
        *error = Failed(why);
        return false;
    }
    const AVCodecContext* v = venc.get();
    if (copying) {
        // Every span's encoder must write the sets the file lists.
        const std::vector<uint8_t> sets(v->extradata, v->extradata + v->extradata_size);
        if (encoderSets.empty()) encoderSets = sets;
        if (sets != encoderSets) {
            *error = Failed("the encoder's parameter sets changed between spans");
            return false;
        }
    }
    return true;
}

bool MovieWriter::Impl::OpenVideo(std::string* error) {
    if (!OpenVideoEncoder(error)) return false;
    AVCodecContext* v = venc.get();
    vstream = Allocated(avformat_new_stream(oc, nullptr));
    if (int rc = avcodec_parameters_from_context(vstream->codecpar, v); rc < 0) {
        *error = Failed("cannot describe the video: " + AvError(rc));
        return false;
    }
    vstream->time_base = v->time_base;
    if (copying && !ListParameterSets(error)) return false;
    AVFrame* vf = vframe.get();
    vf->format = v->pix_fmt;
    vf->width = v->width;
    vf->height = v->height;
    if (av_frame_get_buffer(vf, 0) < 0) {
        *error = Failed("out of memory");
        return false;
    }
    return true;
}

bool MovieWriter::Impl::OpenGivenVideo(std::string* error) {
    if (webm) {
        *error = Failed("the parts' H.264 pictures need an MP4, MOV or MKV file");
        return false;
    }
    vstream = Allocated(avformat_new_stream(oc, nullptr));
    if (int rc = avcodec_parameters_copy(vstream->codecpar, options.givenVideo.get()); rc < 0) {
        *error = Failed("cannot describe the video: " + AvError(rc));
        return false;
    }
    // The container gives the stream its own tag.
    vstream->codecpar->codec_tag = 0;
    vstream->time_base = {options.format.fps.den, options.format.fps.num};
    return true;
}

bool MovieWriter::Impl::ListParameterSets(std::string* error) {
    const h264::Bytes config =
        h264::CombinedConfig(encoderSets.data(), encoderSets.size(), options.copy->sets);
    if (config.empty()) {
        *error = Failed("the clips' parameter sets do not go with the encoder's");
        return false;
    }
    AVCodecParameters* par = vstream->codecpar;
    av_freep(&par->extradata);
    par->extradata =
        static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) {
        *error = Failed("out of memory");
        return false;
    }
    std::memcpy(par->extradata, config.data(), config.size());
    par->extradata_size = int(config.size());
    delay = std::max(options.copy->reorderDelay, venc->has_b_frames);
    par->video_delay = delay;
    return true;
}

bool MovieWriter::Impl::WriteCopied(const uint8_t* data, size_t size, int64_t pts, bool key,
                                    std::string* error) {
    const int64_t dts = videoPackets++ - delay;
    if (pts < dts) {
        *error = Failed("picture " + std::to_string(pts) + " comes too late in decode order");
        return false;
    }
    return WriteVideoPacket(data, size, pts, dts, key, error);
}

bool MovieWriter::Impl::WriteVideoPacket(const uint8_t* data, size_t size, int64_t pts, int64_t dts,
                                         bool key, std::string* error) {
    if (av_new_packet(pkt.get(), int(size)) < 0) {
        *error = Failed("out of memory");
        return false;
    }
    std::memcpy(pkt->data, data, size);
    pkt->pts = pts;
    pkt->dts = dts;
    pkt->duration = 1;
    if (key) pkt->flags |= AV_PKT_FLAG_KEY;
    return Write({options.format.fps.den, options.format.fps.num}, vstream, error);
}

bool MovieWriter::Impl::EndSpan(std::string* error) {
    if (!venc) return true;
    avcodec_send_frame(venc.get(), nullptr);
    if (!Drain(venc.get(), vstream, error)) return false;
    venc.reset();
    return true;
}

}  // namespace tavhost::media

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
    const char* videoName = webm ? "libvpx-vp9" : "libx264";
    if (!vcodec) vcodec = avcodec_find_encoder_by_name(videoName);
    if (!vcodec) {
        *error = Failed(std::string("this FFmpeg has no ") + videoName + " encoder");
        return false;
    }
    venc.reset(Allocated(avcodec_alloc_context3(vcodec)));
    AVCodecContext* v = venc.get();
    v->width = options.format.width;
    v->height = options.format.height;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->time_base = {options.format.fps.den, options.format.fps.num};
    v->framerate = {options.format.fps.num, options.format.fps.den};
    v->gop_size = 2 * options.format.fps.num / std::max(options.format.fps.den, 1);
    v->thread_count = 0;
    // The pictures are converted with the matrix players assume for this
    // size (BT.709 from 720 lines up, BT.601 below), and tagged with it.
    const OutputColour colour = OutputColourFor(matrix);
    v->colorspace = colour.matrix;
    v->color_primaries = colour.primaries;
    v->color_trc = colour.transfer;
    v->color_range = AVCOL_RANGE_MPEG;
    if (webm) {
        const bool fast = options.encoding.preset == "ultrafast";
        av_opt_set(v->priv_data, "deadline", fast ? "realtime" : "good", 0);
        av_opt_set_int(v->priv_data, "cpu-used", fast ? 8 : 4, 0);
        av_opt_set_int(v->priv_data, "row-mt", 1, 0);
        v->bit_rate = 0;
        av_opt_set_int(v->priv_data, "crf", std::min(63, options.encoding.crf + 11), 0);
    } else {
        av_opt_set(v->priv_data, "preset", options.encoding.preset.c_str(), 0);
        av_opt_set(v->priv_data, "crf", std::to_string(options.encoding.crf).c_str(), 0);
        // Our parameter sets under an id the copied packets leave free,
        // keeping the picture buffer theirs keep.
        if (copying)
            av_opt_set(v->priv_data, "x264-params", X264SpanParams(*options.copy).c_str(), 0);
    }
    if ((oc->oformat->flags & AVFMT_GLOBALHEADER) || copying)
        v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(v, vcodec, nullptr); rc < 0) {
        *error = Failed(std::string("the ") + videoName + " encoder refused its settings (preset " +
                        Quoted(options.encoding.preset) + ", crf " +
                        std::to_string(options.encoding.crf) + "): " + AvError(rc));
        return false;
    }
    if (copying) {
        // Every span's encoder must write the sets the file lists.
        const std::vector<uint8_t> sets(v->extradata, v->extradata + v->extradata_size);
        if (encoderSets.empty()) {
            encoderSets = sets;
            if (!KeepsCopiedBuffer(error)) return false;
        }
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

bool MovieWriter::Impl::KeepsCopiedBuffer(std::string* error) const {
    const std::string why = BufferMismatch(encoderSets, options.copy->dpb);
    if (!why.empty()) *error = Failed(why);
    return why.empty();
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

// Writing media: movies (H.264 + AAC), still images, and picture scaling.
#include "media.h"

#include "av_util.h"
#include "picture_convert.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace tavhost::media {

SoundFormat SoundFormatFor(const std::string& format, SoundFormat wanted) {
    if (format == "webm") return {48000, std::clamp(wanted.channels, 1, 2)};
    // AAC: the clip's rate and channels if the encoder opens with them.
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!aac || wanted.channels < 1 || wanted.channels > 8) return {};
    bool rateKnown = false;
    for (const int* r = aac->supported_samplerates; r && *r; ++r) rateKnown |= *r == wanted.rate;
    if (!rateKnown) wanted.rate = kSampleRate;
    CodecPtr trial(avcodec_alloc_context3(aac));
    trial->sample_fmt = AV_SAMPLE_FMT_FLTP;
    trial->sample_rate = wanted.rate;
    av_channel_layout_default(&trial->ch_layout, wanted.channels);
    trial->bit_rate = 96000 * int64_t(wanted.channels);
    if (avcodec_open2(trial.get(), aac, nullptr) < 0) return {wanted.rate, kChannels};
    return wanted;
}

struct MovieWriter::Impl {
    AVFormatContext* oc = nullptr;
    CodecPtr venc;
    CodecPtr aenc;
    AVStream* vstream = nullptr;
    AVStream* astream = nullptr;
    Matrix matrix = Matrix::kBt601;
    AvFramePtr vframe{av_frame_alloc()};
    AvFramePtr passed{av_frame_alloc()};  // a decoded picture handed on as it is
    AvFramePtr aframe{av_frame_alloc()};
    PacketPtr pkt{av_packet_alloc()};
    std::vector<float> pending;  // interleaved sound not yet encoded
    int64_t videoPts = 0;
    int64_t audioPts = 0;
    bool headerWritten = false;
    int width = 0;
    int height = 0;
    std::string path;  // named in every error
    SoundFormat sound;

    std::string Failed(const std::string& why) const {
        return "cannot write '" + path + "': " + why;
    }

    ~Impl() {
        if (oc) {
            if (!(oc->oformat->flags & AVFMT_NOFILE)) avio_closep(&oc->pb);
            avformat_free_context(oc);
        }
    }

    bool SendVideo(AVFrame* frame, std::string* error) {
        frame->pts = videoPts++;
        if (int rc = avcodec_send_frame(venc.get(), frame); rc < 0) {
            *error = Failed("video encoding failed: " + AvError(rc));
            return false;
        }
        return Drain(venc.get(), vstream, error);
    }

    bool Drain(AVCodecContext* enc, AVStream* stream, std::string* error) {
        for (;;) {
            const int rc = avcodec_receive_packet(enc, pkt.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) {
                *error = Failed("encoding failed: " + AvError(rc));
                return false;
            }
            // Every video packet lasts one frame: without it the muxers give the
            // last frame no time and MP4's edit list drops it.
            if (enc == venc.get() && pkt->duration <= 0) pkt->duration = 1;
            av_packet_rescale_ts(pkt.get(), enc->time_base, stream->time_base);
            pkt->stream_index = stream->index;
            if (int w = av_interleaved_write_frame(oc, pkt.get()); w < 0) {
                *error = Failed(AvError(w));
                return false;
            }
        }
    }

    bool EncodeAudio(int samples, std::string* error) {
        aframe->nb_samples = samples;
        if (av_frame_make_writable(aframe.get()) < 0) return false;
        const size_t channels = size_t(sound.channels);
        if (aenc->sample_fmt == AV_SAMPLE_FMT_FLT) {
            auto* all = reinterpret_cast<float*>(aframe->data[0]);
            for (size_t i = 0; i < size_t(samples) * channels; ++i)
                all[i] = std::clamp(pending[i], -1.0f, 1.0f);
        } else {
            for (size_t c = 0; c < channels; ++c) {
                auto* plane = reinterpret_cast<float*>(aframe->extended_data[c]);
                for (size_t i = 0; i < size_t(samples); ++i)
                    plane[i] = std::clamp(pending[i * channels + c], -1.0f, 1.0f);
            }
        }
        pending.erase(pending.begin(), pending.begin() + ptrdiff_t(size_t(samples) * channels));
        aframe->pts = audioPts;
        audioPts += samples;
        if (int rc = avcodec_send_frame(aenc.get(), aframe.get()); rc < 0) {
            *error = Failed("audio encoding failed: " + AvError(rc));
            return false;
        }
        return Drain(aenc.get(), astream, error);
    }
};

MovieWriter::MovieWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MovieWriter::~MovieWriter() = default;

std::unique_ptr<MovieWriter> MovieWriter::Open(const std::string& path, const Options& options,
                                               std::string* error) {
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->width = options.width;
    impl->height = options.height;
    if (int rc = avformat_alloc_output_context2(
            &impl->oc, nullptr, options.format.empty() ? nullptr : options.format.c_str(),
            path.c_str());
        rc < 0 || !impl->oc) {
        *error = "cannot write '" + path + "': unknown movie format";
        if (impl->oc) avformat_free_context(impl->oc);
        impl->oc = nullptr;
        return nullptr;
    }
    AVFormatContext* oc = impl->oc;

    // WebM carries VP9 and Opus; the other containers H.264 and AAC.
    const bool webm = std::string(oc->oformat->name).find("webm") != std::string::npos;
    const char* videoName = webm ? "libvpx-vp9" : "libx264";
    const AVCodec* vcodec = avcodec_find_encoder_by_name(videoName);
    if (!vcodec) {
        *error = impl->Failed(std::string("this FFmpeg has no ") + videoName + " encoder");
        return nullptr;
    }
    impl->venc.reset(avcodec_alloc_context3(vcodec));
    AVCodecContext* v = impl->venc.get();
    v->width = options.width;
    v->height = options.height;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->time_base = {options.fps.den, options.fps.num};
    v->framerate = {options.fps.num, options.fps.den};
    v->gop_size = 2 * options.fps.num / std::max(options.fps.den, 1);
    v->thread_count = 0;
    // The pictures are converted with the matrix players assume for this
    // size (BT.709 from 720 lines up, BT.601 below), and tagged with it.
    impl->matrix = OutputMatrix(options.height);
    const bool hd = impl->matrix == Matrix::kBt709;
    v->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    v->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    v->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    v->color_range = AVCOL_RANGE_MPEG;
    if (webm) {
        av_opt_set(v->priv_data, "deadline", options.preset == "ultrafast" ? "realtime" : "good",
                   0);
        av_opt_set_int(v->priv_data, "cpu-used", options.preset == "ultrafast" ? 8 : 4, 0);
        av_opt_set_int(v->priv_data, "row-mt", 1, 0);
        v->bit_rate = 0;
        av_opt_set_int(v->priv_data, "crf", std::min(63, options.crf + 11), 0);
    } else {
        av_opt_set(v->priv_data, "preset", options.preset.c_str(), 0);
        av_opt_set(v->priv_data, "crf", std::to_string(options.crf).c_str(), 0);
    }
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(v, vcodec, nullptr); rc < 0) {
        *error = impl->Failed(std::string("the ") + videoName +
                              " encoder refused its settings (preset '" + options.preset +
                              "', crf " + std::to_string(options.crf) + "): " + AvError(rc));
        return nullptr;
    }
    impl->vstream = avformat_new_stream(oc, nullptr);
    avcodec_parameters_from_context(impl->vstream->codecpar, v);
    impl->vstream->time_base = v->time_base;

    const AVCodec* acodec =
        webm ? avcodec_find_encoder_by_name("libopus") : avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!acodec) {
        *error = impl->Failed(webm ? "this FFmpeg has no Opus encoder"
                                   : "this FFmpeg has no AAC encoder");
        return nullptr;
    }
    impl->aenc.reset(avcodec_alloc_context3(acodec));
    AVCodecContext* a = impl->aenc.get();
    impl->sound = SoundFormatFor(webm ? "webm" : "", options.sound);
    a->sample_fmt = webm ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
    a->sample_rate = impl->sound.rate;
    av_channel_layout_default(&a->ch_layout, impl->sound.channels);
    // 96 kb/s a channel for AAC (192 for stereo), 64 for Opus.
    a->bit_rate = int64_t(impl->sound.channels) * (webm ? 64000 : 96000);
    a->time_base = {1, impl->sound.rate};
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(a, acodec, nullptr); rc < 0) {
        *error = impl->Failed("cannot open the audio encoder: " + AvError(rc));
        return nullptr;
    }
    impl->astream = avformat_new_stream(oc, nullptr);
    avcodec_parameters_from_context(impl->astream->codecpar, a);
    impl->astream->time_base = a->time_base;

    AVFrame* vf = impl->vframe.get();
    vf->format = v->pix_fmt;
    vf->width = v->width;
    vf->height = v->height;
    AVFrame* af = impl->aframe.get();
    af->format = a->sample_fmt;
    af->sample_rate = impl->sound.rate;
    av_channel_layout_default(&af->ch_layout, impl->sound.channels);
    af->nb_samples = a->frame_size;
    if (av_frame_get_buffer(vf, 0) < 0 || av_frame_get_buffer(af, 0) < 0) {
        *error = impl->Failed("out of memory");
        return nullptr;
    }
    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        if (int rc = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE); rc < 0) {
            *error = "cannot write '" + path + "': " + AvError(rc);
            return nullptr;
        }
    }
    AVDictionary* mux = nullptr;
    av_dict_set(&mux, "movflags", "+faststart", 0);
    const int rc = avformat_write_header(oc, &mux);
    av_dict_free(&mux);
    if (rc < 0) {
        *error = "cannot write '" + path + "': " + AvError(rc);
        return nullptr;
    }
    impl->headerWritten = true;
    return std::unique_ptr<MovieWriter>(new MovieWriter(std::move(impl)));
}

bool MovieWriter::WriteVideo(const uint32_t* pixels, int rowPixels, std::string* error) {
    Impl& m = *impl_;
    if (av_frame_make_writable(m.vframe.get()) < 0) {
        *error = m.Failed("out of memory");
        return false;
    }
    RgbToYuv(pixels, rowPixels, m.width, m.height, m.vframe.get(), m.matrix);
    return m.SendVideo(m.vframe.get(), error);
}

bool MovieWriter::TakesAsItIs(const AVFrame* picture) const {
    const Impl& m = *impl_;
    return picture && picture->format == m.venc->pix_fmt && picture->width == m.width &&
           picture->height == m.height;
}

bool MovieWriter::WriteVideo(const AVFrame* picture, std::string* error) {
    Impl& m = *impl_;
    av_frame_unref(m.passed.get());
    if (av_frame_ref(m.passed.get(), picture) < 0) {
        *error = m.Failed("out of memory");
        return false;
    }
    m.passed->pict_type = AV_PICTURE_TYPE_NONE;
    const bool ok = m.SendVideo(m.passed.get(), error);
    av_frame_unref(m.passed.get());
    return ok;
}

bool MovieWriter::WriteAudio(const float* interleaved, int samples, std::string* error) {
    Impl& m = *impl_;
    const size_t channels = size_t(m.sound.channels);
    m.pending.insert(m.pending.end(), interleaved, interleaved + size_t(samples) * channels);
    const int frameSize = m.aenc->frame_size;
    while (m.pending.size() >= size_t(frameSize) * channels)
        if (!m.EncodeAudio(frameSize, error)) return false;
    return true;
}

bool MovieWriter::Finish(std::string* error) {
    Impl& m = *impl_;
    if (!m.pending.empty() &&
        !m.EncodeAudio(int(m.pending.size() / size_t(m.sound.channels)), error))
        return false;
    avcodec_send_frame(m.venc.get(), nullptr);
    if (!m.Drain(m.venc.get(), m.vstream, error)) return false;
    avcodec_send_frame(m.aenc.get(), nullptr);
    if (!m.Drain(m.aenc.get(), m.astream, error)) return false;
    if (int rc = av_write_trailer(m.oc); rc < 0) {
        *error = m.Failed(AvError(rc));
        return false;
    }
    if (!(m.oc->oformat->flags & AVFMT_NOFILE) && avio_closep(&m.oc->pb) < 0) {
        *error = m.Failed("cannot close the file");
        return false;
    }
    return true;
}

ImageFormat ImageFormatOf(const std::string& path) {
    std::string ext;
    if (const size_t dot = path.rfind('.');
        dot != std::string::npos && path.find('/', dot) == std::string::npos)
        ext = path.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "png") return ImageFormat::kPng;
    if (ext == "jpg" || ext == "jpeg") return ImageFormat::kJpeg;
    return ImageFormat::kNone;
}

bool WriteImage(const std::string& path, ImageFormat format, const uint32_t* pixels, int width,
                int height, int rowPixels, std::string* error) {
    auto failed = [&](const std::string& why) {
        *error = "cannot write '" + path + "': " + why;
        return false;
    };
    const bool png = format == ImageFormat::kPng;
    const AVCodec* codec = avcodec_find_encoder(png ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG);
    if (!codec)
        return failed(png ? "this FFmpeg has no PNG encoder" : "this FFmpeg has no JPEG encoder");
    // PNG keeps the pixels exactly; JPEG takes full-range BT.601 YUV, as JPEG files do.
    const AVPixelFormat pixFmt = png ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUVJ444P;
    CodecPtr enc(avcodec_alloc_context3(codec));
    enc->width = width;
    enc->height = height;
    enc->pix_fmt = pixFmt;
    enc->time_base = {1, 25};
    if (!png) {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * 2;
        enc->color_range = AVCOL_RANGE_JPEG;
    }
    if (int rc = avcodec_open2(enc.get(), codec, nullptr); rc < 0)
        return failed("cannot open the image encoder: " + AvError(rc));
    AvFramePtr frame(av_frame_alloc());
    frame->format = pixFmt;
    frame->width = width;
    frame->height = height;
    if (!png) frame->quality = enc->global_quality;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return failed("out of memory");
    SwsPtr sws(sws_getContext(width, height, AV_PIX_FMT_RGB32, width, height, pixFmt, SWS_POINT,
                              nullptr, nullptr, nullptr));
    if (!sws) return failed("cannot convert the picture");
    if (!png) {
        const int* table = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(sws.get(), table, 1, table, 1, 0, 1 << 16, 1 << 16);
    }
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(pixels)};
    const int srcStride[1] = {rowPixels * 4};
    sws_scale(sws.get(), src, srcStride, 0, height, frame->data, frame->linesize);
    PacketPtr pkt(av_packet_alloc());
    if (avcodec_send_frame(enc.get(), frame.get()) < 0 ||
        avcodec_receive_packet(enc.get(), pkt.get()) < 0)
        return failed("encoding failed");
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return failed(std::strerror(errno));
    const bool ok = std::fwrite(pkt->data, 1, size_t(pkt->size), f) == size_t(pkt->size);
    const int writeErrno = errno;
    if (std::fclose(f) != 0 || !ok) return failed(std::strerror(ok ? errno : writeErrno));
    return true;
}

void Scale(const uint32_t* src, int srcW, int srcH, int srcRowPixels, uint32_t* dst, int dstW,
           int dstH, int dstRowPixels, bool fast) {
    SwsPtr sws(sws_getContext(srcW, srcH, AV_PIX_FMT_RGB32, dstW, dstH, AV_PIX_FMT_RGB32,
                              fast ? SWS_FAST_BILINEAR : SWS_AREA, nullptr, nullptr, nullptr));
    if (!sws) return;
    // swscale may write whole vectors past a row's end: it scales into rows
    // with room to spare, which are then copied out.
    const int stride = (dstW * 4 + 63) / 64 * 64 + 64;
    std::vector<uint8_t> scratch(size_t(stride) * size_t(dstH) + 64);
    const uint8_t* s[1] = {reinterpret_cast<const uint8_t*>(src)};
    const int ss[1] = {srcRowPixels * 4};
    uint8_t* d[1] = {scratch.data()};
    const int ds[1] = {stride};
    sws_scale(sws.get(), s, ss, 0, srcH, d, ds);
    for (int y = 0; y < dstH; ++y)
        std::memcpy(dst + ptrdiff_t(y) * dstRowPixels, scratch.data() + ptrdiff_t(y) * stride,
                    size_t(dstW) * 4);
}

}  // namespace tavhost::media

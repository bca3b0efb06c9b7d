#include "media.h"

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

namespace {

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Owning pointers for FFmpeg objects, each freed by its own call.
template <class T, auto Free>
struct Freer {
    void operator()(T* p) const {
        if constexpr (std::is_invocable_v<decltype(Free), T**>)
            Free(&p);
        else
            Free(p);
    }
};
template <class T, auto Free>
using AvPtr = std::unique_ptr<T, Freer<T, Free>>;

using InputPtr = AvPtr<AVFormatContext, avformat_close_input>;
using CodecPtr = AvPtr<AVCodecContext, avcodec_free_context>;
using AvFramePtr = AvPtr<AVFrame, av_frame_free>;
using PacketPtr = AvPtr<AVPacket, av_packet_free>;
using SwsPtr = AvPtr<SwsContext, sws_freeContext>;
using SwrPtr = AvPtr<SwrContext, swr_free>;

bool OpenInput(const std::string& path, InputPtr* out, std::string* error) {
    AVFormatContext* fmt = nullptr;
    if (int rc = avformat_open_input(&fmt, path.c_str(), nullptr, nullptr); rc < 0) {
        *error = "cannot open clip '" + path + "': " + AvError(rc);
        return false;
    }
    out->reset(fmt);
    if (int rc = avformat_find_stream_info(fmt, nullptr); rc < 0) {
        *error = "cannot read clip '" + path + "': " + AvError(rc);
        return false;
    }
    return true;
}

CodecPtr OpenDecoder(AVStream* stream, std::string* error) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        *error = std::string("no decoder for ") + avcodec_get_name(stream->codecpar->codec_id);
        return nullptr;
    }
    CodecPtr ctx(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(ctx.get(), stream->codecpar);
    ctx->thread_count = 0;
    if (int rc = avcodec_open2(ctx.get(), codec, nullptr); rc < 0) {
        *error = std::string("cannot open decoder: ") + AvError(rc);
        return nullptr;
    }
    return ctx;
}

// Bicubic when the picture is resized; a same-size conversion only resamples
// chroma, where bilinear is as good and cheaper. Previews take the fastest.
int ScaleFlags(int srcW, int srcH, int dstW, int dstH, bool fast) {
    if (fast) return SWS_FAST_BILINEAR;
    return srcW == dstW && srcH == dstH ? SWS_BILINEAR : SWS_BICUBIC;
}

double StreamStart(const AVStream* s) {
    return s->start_time == AV_NOPTS_VALUE ? 0.0 : double(s->start_time) * av_q2d(s->time_base);
}

}  // namespace

int64_t FrameSampleStart(int64_t index, Rational fps) {
    return index * kSampleRate * fps.den / fps.num;
}

bool Probe(const std::string& path, ClipInfo* info, std::string* error) {
    InputPtr fmt;
    if (!OpenInput(path, &fmt, error)) return false;
    const int video = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) {
        *error = "clip '" + path + "' has no video";
        return false;
    }
    AVStream* vs = fmt->streams[video];
    info->width = vs->codecpar->width;
    info->height = vs->codecpar->height;
    AVRational rate = av_guess_frame_rate(fmt.get(), vs, nullptr);
    if (rate.num <= 0 || rate.den <= 0) rate = {30, 1};
    info->fps = {rate.num, rate.den};
    info->hasAudio = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0;
    // Count the video packets: exact where a container's frame count is not.
    PacketPtr pkt(av_packet_alloc());
    int64_t frames = 0;
    while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
        frames += pkt->stream_index == video;
        av_packet_unref(pkt.get());
    }
    info->frames = frames;
    if (info->width <= 0 || info->height <= 0 || frames == 0) {
        *error = "clip '" + path + "' has no video frames";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Decoding on the reader's thread.

struct ClipReader::Decoder {
    InputPtr fmt;
    int video = -1;
    int audio = -1;
    CodecPtr vdec;
    CodecPtr adec;
    SwsPtr sws;
    SwrPtr swr;
    PacketPtr pkt{av_packet_alloc()};
    double videoStart = 0.0;
    bool eof = false;
    bool flushed = false;

    // Decoded pictures not yet passed, with their times from the video start.
    std::deque<std::pair<double, AvFramePtr>> pictures;
    // Sound at the output rate from sample `audioBase` on, interleaved stereo.
    std::deque<float> sound;
    int64_t audioBase = 0;
    int64_t audioNext = -1;  // sample index the resampler's output continues at

    bool Open(const std::string& path, std::string* error) {
        if (!OpenInput(path, &fmt, error)) return false;
        video = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video < 0) {
            *error = "clip '" + path + "' has no video";
            return false;
        }
        vdec = OpenDecoder(fmt->streams[video], error);
        if (!vdec) return false;
        videoStart = StreamStart(fmt->streams[video]);
        audio = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (audio >= 0) {
            std::string ignored;
            adec = OpenDecoder(fmt->streams[audio], &ignored);
            if (!adec) audio = -1;
        }
        return true;
    }

    int64_t AudioEnd() const { return audioBase + int64_t(sound.size() / kChannels); }

    void TakeAudio(AVFrame* frame) {
        if (!swr) {
            AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
            SwrContext* s = nullptr;
            if (swr_alloc_set_opts2(&s, &stereo, AV_SAMPLE_FMT_FLT, kSampleRate, &frame->ch_layout,
                                    AVSampleFormat(frame->format), frame->sample_rate, 0,
                                    nullptr) < 0 ||
                swr_init(s) < 0) {
                swr_free(&s);
                audio = -1;
                return;
            }
            swr.reset(s);
            const AVStream* as = fmt->streams[audio];
            double t = frame->pts == AV_NOPTS_VALUE ? StreamStart(as)
                                                    : double(frame->pts) * av_q2d(as->time_base);
            audioNext = int64_t(std::llround((t - videoStart) * kSampleRate));
        }
        const int capacity = swr_get_out_samples(swr.get(), frame->nb_samples);
        std::vector<float> out(size_t(std::max(capacity, 0)) * kChannels);
        uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(out.data())};
        const int n =
            swr_convert(swr.get(), outPlanes, capacity,
                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        if (n <= 0) return;
        Append(out.data(), n);
    }

    // Places `n` samples at audioNext on the sound timeline (before the
    // picture's start they are dropped; a gap is filled with silence).
    void Append(const float* data, int n) {
        int64_t at = audioNext;
        audioNext += n;
        if (at < audioBase) {
            const int64_t skip = std::min<int64_t>(audioBase - at, n);
            data += skip * kChannels;
            n -= int(skip);
            at += skip;
        }
        if (n <= 0) return;
        if (at > AudioEnd()) sound.insert(sound.end(), size_t(at - AudioEnd()) * kChannels, 0.0f);
        sound.insert(sound.end(), data, data + size_t(n) * kChannels);
    }

    void Drain(AVCodecContext* ctx, bool isVideo) {
        for (;;) {
            AvFramePtr frame(av_frame_alloc());
            if (avcodec_receive_frame(ctx, frame.get()) < 0) return;
            if (isVideo) {
                const int64_t pts = frame->best_effort_timestamp;
                const double t =
                    pts == AV_NOPTS_VALUE
                        ? (pictures.empty() ? 0.0 : pictures.back().first)
                        : double(pts) * av_q2d(fmt->streams[video]->time_base) - videoStart;
                pictures.emplace_back(t, std::move(frame));
            } else {
                TakeAudio(frame.get());
            }
        }
    }

    // Reads and decodes one more packet; false once everything is decoded.
    bool More() {
        if (flushed) return false;
        if (!eof) {
            const int rc = av_read_frame(fmt.get(), pkt.get());
            if (rc >= 0) {
                if (pkt->stream_index == video) {
                    avcodec_send_packet(vdec.get(), pkt.get());
                    Drain(vdec.get(), true);
                } else if (pkt->stream_index == audio && adec) {
                    avcodec_send_packet(adec.get(), pkt.get());
                    Drain(adec.get(), false);
                }
                av_packet_unref(pkt.get());
                return true;
            }
            eof = true;
        }
        avcodec_send_packet(vdec.get(), nullptr);
        Drain(vdec.get(), true);
        if (adec) {
            avcodec_send_packet(adec.get(), nullptr);
            Drain(adec.get(), false);
        }
        flushed = true;
        return false;
    }
};

ClipReader::ClipReader(std::string path, Options options, ClipInfo info)
    : path_(std::move(path)), options_(options), info_(info) {
    // The clip's length at the output rate.
    if (info_.fps.num * int64_t(options_.fps.den) == int64_t(info_.fps.den) * options_.fps.num)
        frameCount_ = info_.frames;
    else
        frameCount_ =
            int64_t(std::floor(double(info_.frames) / info_.fps.Value() * options_.fps.Value()));
}

std::unique_ptr<ClipReader> ClipReader::Open(const std::string& path, const Options& options,
                                             std::string* error) {
    ClipInfo info;
    if (!Probe(path, &info, error)) return nullptr;
    Decoder probe;
    if (!probe.Open(path, error)) return nullptr;
    std::unique_ptr<ClipReader> reader(new ClipReader(path, options, info));
    reader->Start();
    return reader;
}

ClipReader::~ClipReader() {
    Stop();
}

void ClipReader::Start() {
    stop_ = false;
    done_ = false;
    threadError_.clear();
    thread_ = std::thread([this] { Run(); });
}

void ClipReader::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    for (auto& f : queue_) spare_.push_back(std::move(f));
    queue_.clear();
}

void ClipReader::Run() {
    Decoder dec;
    std::string error;
    if (!dec.Open(path_, &error)) {
        std::lock_guard lock(mutex_);
        threadError_ = error;
        done_ = true;
        changed_.notify_all();
        return;
    }
    const int w = options_.width, h = options_.height;
    const double outFrame = 1.0 / options_.fps.Value();
    for (int64_t k = 0; k < frameCount_; ++k) {
        const double t = double(k) * outFrame;
        const int64_t audioStart = FrameSampleStart(k, options_.fps);
        const int64_t audioEnd = FrameSampleStart(k + 1, options_.fps);
        // Decode until the picture shown at t is known (the next one starts
        // later) and the frame's sound is in.
        for (;;) {
            while (dec.pictures.size() >= 2 && dec.pictures[1].first <= t + outFrame / 2)
                dec.pictures.pop_front();
            const bool pictureKnown = dec.flushed || (dec.pictures.size() >= 2 &&
                                                      dec.pictures[1].first > t + outFrame / 2);
            const bool soundIn = dec.flushed || dec.audio < 0 || dec.AudioEnd() >= audioEnd;
            if (pictureKnown && soundIn) break;
            {
                std::lock_guard lock(mutex_);
                if (stop_) return;
            }
            dec.More();
        }
        while (dec.pictures.size() >= 2 && dec.pictures[1].first <= t + outFrame / 2)
            dec.pictures.pop_front();
        if (dec.pictures.empty()) break;

        std::unique_ptr<Frame> frame;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || int(queue_.size()) < options_.lookahead; });
            if (stop_) return;
            if (!spare_.empty()) {
                frame = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        if (!frame) frame = std::make_unique<Frame>();
        frame->index = k;
        frame->width = w;
        frame->height = h;
        frame->pixels.resize(size_t(w) * h);

        AVFrame* pic = dec.pictures.front().second.get();
        dec.sws.reset(sws_getCachedContext(
            dec.sws.release(), pic->width, pic->height, AVPixelFormat(pic->format), w, h,
            AV_PIX_FMT_RGB32, ScaleFlags(pic->width, pic->height, w, h, options_.fastScaling),
            nullptr, nullptr, nullptr));
        uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(frame->pixels.data())};
        const int dstStride[1] = {w * 4};
        sws_scale(dec.sws.get(), pic->data, pic->linesize, 0, pic->height, dst, dstStride);

        const size_t want = size_t(audioEnd - audioStart) * kChannels;
        frame->audio.assign(want, 0.0f);
        if (audioStart > dec.audioBase) {
            const size_t drop =
                std::min(dec.sound.size(), size_t(audioStart - dec.audioBase) * kChannels);
            dec.sound.erase(dec.sound.begin(), dec.sound.begin() + ptrdiff_t(drop));
            dec.audioBase = audioStart;
        }
        const size_t have = std::min(want, dec.sound.size());
        std::copy(dec.sound.begin(), dec.sound.begin() + ptrdiff_t(have), frame->audio.begin());

        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(frame));
        }
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    done_ = true;
    changed_.notify_all();
}

const Frame* ClipReader::Get(int64_t index, std::string* error) {
    if (index < 0 || index >= frameCount_) return nullptr;
    if (current_ && current_->index == index) return current_.get();
    bool restart = current_ && current_->index > index;
    {
        std::lock_guard lock(mutex_);
        if (!queue_.empty() && queue_.front()->index > index) restart = true;
    }
    if (restart) {
        Stop();
        if (current_) spare_.push_back(std::move(current_));
        Start();
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !queue_.empty() || done_; });
        if (queue_.empty()) {
            if (!threadError_.empty()) *error = threadError_;
            return nullptr;
        }
        std::unique_ptr<Frame> next = std::move(queue_.front());
        queue_.pop_front();
        changed_.notify_all();
        if (current_) spare_.push_back(std::move(current_));
        current_ = std::move(next);
        if (current_->index == index) return current_.get();
        if (current_->index > index) return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Writing.

struct MovieWriter::Impl {
    AVFormatContext* oc = nullptr;
    CodecPtr venc;
    CodecPtr aenc;
    AVStream* vstream = nullptr;
    AVStream* astream = nullptr;
    SwsPtr sws;
    AvFramePtr vframe{av_frame_alloc()};
    AvFramePtr aframe{av_frame_alloc()};
    PacketPtr pkt{av_packet_alloc()};
    std::vector<float> pending;  // interleaved sound not yet encoded
    int64_t videoPts = 0;
    int64_t audioPts = 0;
    bool headerWritten = false;
    int width = 0;
    int height = 0;

    ~Impl() {
        if (oc) {
            if (!(oc->oformat->flags & AVFMT_NOFILE)) avio_closep(&oc->pb);
            avformat_free_context(oc);
        }
    }

    bool Drain(AVCodecContext* enc, AVStream* stream, std::string* error) {
        for (;;) {
            const int rc = avcodec_receive_packet(enc, pkt.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) {
                *error = "encoding failed: " + AvError(rc);
                return false;
            }
            av_packet_rescale_ts(pkt.get(), enc->time_base, stream->time_base);
            pkt->stream_index = stream->index;
            if (int w = av_interleaved_write_frame(oc, pkt.get()); w < 0) {
                *error = "cannot write: " + AvError(w);
                return false;
            }
        }
    }

    bool EncodeAudio(int samples, std::string* error) {
        aframe->nb_samples = samples;
        if (av_frame_make_writable(aframe.get()) < 0) return false;
        auto* left = reinterpret_cast<float*>(aframe->data[0]);
        auto* right = reinterpret_cast<float*>(aframe->data[1]);
        for (int i = 0; i < samples; ++i) {
            left[i] = std::clamp(pending[size_t(i) * 2], -1.0f, 1.0f);
            right[i] = std::clamp(pending[size_t(i) * 2 + 1], -1.0f, 1.0f);
        }
        pending.erase(pending.begin(), pending.begin() + ptrdiff_t(samples) * 2);
        aframe->pts = audioPts;
        audioPts += samples;
        if (int rc = avcodec_send_frame(aenc.get(), aframe.get()); rc < 0) {
            *error = "audio encoding failed: " + AvError(rc);
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
    impl->width = options.width;
    impl->height = options.height;
    if (int rc = avformat_alloc_output_context2(
            &impl->oc, nullptr, options.format.empty() ? nullptr : options.format.c_str(),
            path.c_str());
        rc < 0 || !impl->oc) {
        *error = "cannot write '" + path + "': unknown movie format";
        return nullptr;
    }
    AVFormatContext* oc = impl->oc;

    const AVCodec* vcodec = avcodec_find_encoder_by_name("libx264");
    if (!vcodec) vcodec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!vcodec) {
        *error = "no H.264 encoder in this FFmpeg";
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
    av_opt_set(v->priv_data, "preset", options.preset.c_str(), 0);
    av_opt_set(v->priv_data, "crf", std::to_string(options.crf).c_str(), 0);
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(v, vcodec, nullptr); rc < 0) {
        *error = "cannot write '" + path + "': the H.264 encoder refused its settings (preset '" +
                 options.preset + "', crf " + std::to_string(options.crf) + "): " + AvError(rc);
        return nullptr;
    }
    impl->vstream = avformat_new_stream(oc, nullptr);
    avcodec_parameters_from_context(impl->vstream->codecpar, v);
    impl->vstream->time_base = v->time_base;

    const AVCodec* acodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!acodec) {
        *error = "no AAC encoder in this FFmpeg";
        return nullptr;
    }
    impl->aenc.reset(avcodec_alloc_context3(acodec));
    AVCodecContext* a = impl->aenc.get();
    a->sample_fmt = AV_SAMPLE_FMT_FLTP;
    a->sample_rate = kSampleRate;
    a->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    a->bit_rate = 192000;
    a->time_base = {1, kSampleRate};
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(a, acodec, nullptr); rc < 0) {
        *error = "cannot write '" + path + "': cannot open the AAC encoder: " + AvError(rc);
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
    af->sample_rate = kSampleRate;
    af->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    af->nb_samples = a->frame_size;
    if (av_frame_get_buffer(vf, 0) < 0 || av_frame_get_buffer(af, 0) < 0) {
        *error = "out of memory";
        return nullptr;
    }
    impl->sws.reset(sws_getContext(options.width, options.height, AV_PIX_FMT_RGB32, options.width,
                                   options.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                                   nullptr, nullptr));

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
        *error = "out of memory";
        return false;
    }
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(pixels)};
    const int srcStride[1] = {rowPixels * 4};
    sws_scale(m.sws.get(), src, srcStride, 0, m.height, m.vframe->data, m.vframe->linesize);
    m.vframe->pts = m.videoPts++;
    if (int rc = avcodec_send_frame(m.venc.get(), m.vframe.get()); rc < 0) {
        *error = "video encoding failed: " + AvError(rc);
        return false;
    }
    return m.Drain(m.venc.get(), m.vstream, error);
}

bool MovieWriter::WriteAudio(const float* interleaved, int samples, std::string* error) {
    Impl& m = *impl_;
    m.pending.insert(m.pending.end(), interleaved, interleaved + size_t(samples) * kChannels);
    const int frameSize = m.aenc->frame_size;
    while (m.pending.size() >= size_t(frameSize) * kChannels)
        if (!m.EncodeAudio(frameSize, error)) return false;
    return true;
}

bool MovieWriter::Finish(std::string* error) {
    Impl& m = *impl_;
    if (!m.pending.empty() && !m.EncodeAudio(int(m.pending.size() / kChannels), error))
        return false;
    avcodec_send_frame(m.venc.get(), nullptr);
    if (!m.Drain(m.venc.get(), m.vstream, error)) return false;
    avcodec_send_frame(m.aenc.get(), nullptr);
    if (!m.Drain(m.aenc.get(), m.astream, error)) return false;
    if (int rc = av_write_trailer(m.oc); rc < 0) {
        *error = "cannot finish the movie: " + AvError(rc);
        return false;
    }
    if (!(m.oc->oformat->flags & AVFMT_NOFILE) && avio_closep(&m.oc->pb) < 0) {
        *error = "cannot close the movie file";
        return false;
    }
    return true;
}

bool WritePng(const std::string& path, const uint32_t* pixels, int width, int height, int rowPixels,
              std::string* error) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) {
        *error = "no PNG encoder in this FFmpeg";
        return false;
    }
    CodecPtr enc(avcodec_alloc_context3(codec));
    enc->width = width;
    enc->height = height;
    enc->pix_fmt = AV_PIX_FMT_RGB24;
    enc->time_base = {1, 25};
    if (int rc = avcodec_open2(enc.get(), codec, nullptr); rc < 0) {
        *error = "cannot open the PNG encoder: " + AvError(rc);
        return false;
    }
    AvFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        *error = "out of memory";
        return false;
    }
    SwsPtr sws(sws_getContext(width, height, AV_PIX_FMT_RGB32, width, height, AV_PIX_FMT_RGB24,
                              SWS_POINT, nullptr, nullptr, nullptr));
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(pixels)};
    const int srcStride[1] = {rowPixels * 4};
    sws_scale(sws.get(), src, srcStride, 0, height, frame->data, frame->linesize);
    PacketPtr pkt(av_packet_alloc());
    if (avcodec_send_frame(enc.get(), frame.get()) < 0 ||
        avcodec_receive_packet(enc.get(), pkt.get()) < 0) {
        *error = "PNG encoding failed";
        return false;
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(pkt->data, 1, size_t(pkt->size), f) == size_t(pkt->size);
    if (std::fclose(f) != 0 || !ok) {
        *error = "cannot write '" + path + "'";
        return false;
    }
    return true;
}

void Scale(const uint32_t* src, int srcW, int srcH, int srcRowPixels, uint32_t* dst, int dstW,
           int dstH, int dstRowPixels, bool fast) {
    SwsPtr sws(sws_getContext(srcW, srcH, AV_PIX_FMT_RGB32, dstW, dstH, AV_PIX_FMT_RGB32,
                              fast ? SWS_FAST_BILINEAR : SWS_AREA, nullptr, nullptr, nullptr));
    const uint8_t* s[1] = {reinterpret_cast<const uint8_t*>(src)};
    const int ss[1] = {srcRowPixels * 4};
    uint8_t* d[1] = {reinterpret_cast<uint8_t*>(dst)};
    const int ds[1] = {dstRowPixels * 4};
    sws_scale(sws.get(), s, ss, 0, srcH, d, ds);
}

}  // namespace tavhost::media

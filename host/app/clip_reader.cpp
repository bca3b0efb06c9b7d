// Reading clips: one probe pass over the packets for the timeline, then
// decoding on the reader's thread through a filter graph per clip.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "av_util.h"
#include "media.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace tavhost::media {

namespace {

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
    ctx->pkt_timebase = stream->time_base;
    if (int rc = avcodec_open2(ctx.get(), codec, nullptr); rc < 0) {
        *error = std::string("cannot open the decoder: ") + AvError(rc);
        return nullptr;
    }
    return ctx;
}

// Degrees clockwise the picture is turned for display, from the display matrix.
int RotationOf(const AVStream* stream) {
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix) return 0;
    const double theta = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(theta)) return 0;
    int degrees = int(std::lround(theta / 90.0)) * 90 % 360;
    return degrees < 0 ? degrees + 360 : degrees;
}

// The matrix and range a clip is read with: its tags, or, untagged, what
// players assume (BT.709 from 720 lines up, BT.601 below; full range for
// JPEG-style formats).
void ColourOf(const AVCodecParameters* par, ClipInfo* info) {
    switch (par->color_space) {
        case AVCOL_SPC_BT709:
            info->matrix = "bt709";
            break;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            info->matrix = "bt601";
            break;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            info->matrix = "bt2020";
            break;
        case AVCOL_SPC_SMPTE240M:
            info->matrix = "smpte240m";
            break;
        case AVCOL_SPC_FCC:
            info->matrix = "fcc";
            break;
        default:
            info->matrix = par->height >= 720 ? "bt709" : "bt601";
    }
    const auto format = AVPixelFormat(par->format);
    const bool jpegStyle = format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
                           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
                           format == AV_PIX_FMT_YUVJ411P;
    if (par->color_range == AVCOL_RANGE_JPEG || (par->color_range != AVCOL_RANGE_MPEG && jpegStyle))
        info->range = "full";
    else
        info->range = "limited";
    info->hdr = par->color_trc == AVCOL_TRC_SMPTE2084 || par->color_trc == AVCOL_TRC_ARIB_STD_B67;
}

bool IsStillFormat(const AVFormatContext* fmt) {
    const std::string name = fmt->iformat->name;
    return name == "image2" || name.find("_pipe") != std::string::npos || name == "webp";
}

double Seconds(int64_t ts, AVRational tb) {
    return double(ts) * av_q2d(tb);
}

// The probe pass: the video timeline's start and end, its packets, and the
// holes in it: a gap of several frames between neighbouring pictures is
// pictures lost to damage (a variable rate never skips that many).
struct Timeline {
    int64_t start = AV_NOPTS_VALUE;
    int64_t end = AV_NOPTS_VALUE;
    int64_t packets = 0;
    double otherEnd = 0.0;  // seconds where the other streams end
    Damage damage;
};

Timeline ScanPackets(AVFormatContext* fmt, int video) {
    Timeline line;
    const AVStream* vs = fmt->streams[video];
    const AVRational rate = av_guess_frame_rate(fmt, const_cast<AVStream*>(vs), nullptr);
    const int64_t frameTicks =
        rate.num > 0 && rate.den > 0
            ? std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), vs->time_base))
            : 1;
    std::vector<int64_t> times;
    PacketPtr pkt(av_packet_alloc());
    for (;;) {
        const int rc = av_read_frame(fmt, pkt.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) {
            // A read error other than the end: decoding will stop here too.
            ++line.damage.errors;
            break;
        }
        const AVStream* st = fmt->streams[pkt->stream_index];
        const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (pkt->stream_index == video && !(pkt->flags & AV_PKT_FLAG_DISCARD)) {
            ++line.packets;
            if (pts != AV_NOPTS_VALUE) {
                const int64_t duration = pkt->duration > 0 ? pkt->duration : frameTicks;
                if (line.start == AV_NOPTS_VALUE || pts < line.start) line.start = pts;
                if (line.end == AV_NOPTS_VALUE || pts + duration > line.end)
                    line.end = pts + duration;
                times.push_back(pts);
            }
        } else if (pts != AV_NOPTS_VALUE) {
            line.otherEnd = std::max(
                line.otherEnd, Seconds(pts + std::max<int64_t>(pkt->duration, 0), st->time_base));
        }
        av_packet_unref(pkt.get());
    }
    std::sort(times.begin(), times.end());
    if (times.size() >= 3) {
        std::vector<int64_t> steps;
        for (size_t i = 1; i < times.size(); ++i) steps.push_back(times[i] - times[i - 1]);
        std::vector<int64_t> sorted = steps;
        std::nth_element(sorted.begin(), sorted.begin() + ptrdiff_t(sorted.size() / 2),
                         sorted.end());
        const int64_t typical = std::max<int64_t>(1, sorted[sorted.size() / 2]);
        for (size_t i = 0; i < steps.size(); ++i) {
            if (steps[i] <= 3 * typical) continue;
            line.damage.lostFrames += (steps[i] + typical / 2) / typical - 1;
            if (line.damage.firstAt < 0)
                line.damage.firstAt = Seconds(times[i] - line.start, vs->time_base);
        }
    }
    // A file cut short: its header promises more than its packets hold.
    const double declared = vs->duration != AV_NOPTS_VALUE && vs->duration > 0
                                ? Seconds(vs->duration, vs->time_base)
                            : fmt->duration > 0 ? double(fmt->duration) / AV_TIME_BASE
                                                : 0.0;
    if (line.start != AV_NOPTS_VALUE && rate.num > 0) {
        const double videoEnd = Seconds(line.end - line.start, vs->time_base);
        const double ends = std::max(videoEnd, line.otherEnd - Seconds(line.start, vs->time_base));
        if (declared > ends + std::max(0.5, 3.0 / av_q2d(rate))) {
            line.damage.lostFrames += std::llround((declared - videoEnd) * av_q2d(rate));
            if (line.damage.firstAt < 0) line.damage.firstAt = videoEnd;
            line.damage.cutShort = true;
        }
    }
    return line;
}

}  // namespace

int64_t FrameSampleStart(int64_t index, Rational fps, int rate) {
    return index * rate * fps.den / fps.num;
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
    const AVCodecParameters* par = vs->codecpar;
    if (par->width <= 0 || par->height <= 0) {
        *error = "clip '" + path + "' has no picture size";
        return false;
    }
    AVRational rate = av_guess_frame_rate(fmt.get(), vs, nullptr);
    if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > 1000) rate = {25, 1};
    info->fps = {rate.num, rate.den};
    const int audio = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    info->hasAudio = audio >= 0;
    if (audio >= 0) {
        const AVCodecParameters* ap = fmt->streams[audio]->codecpar;
        if (ap->sample_rate > 0) info->sound.rate = ap->sample_rate;
        if (ap->ch_layout.nb_channels > 0) info->sound.channels = ap->ch_layout.nb_channels;
    }
    info->rotation = RotationOf(vs);
    info->interlaced =
        par->field_order != AV_FIELD_UNKNOWN && par->field_order != AV_FIELD_PROGRESSIVE;
    ColourOf(par, info);
    // Display size: square pixels, then turned upright.
    const AVRational sar = av_guess_sample_aspect_ratio(fmt.get(), vs, nullptr);
    int w = par->width, h = par->height;
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den)
        w = int(std::lround(double(w) * sar.num / sar.den));
    if (info->rotation == 90 || info->rotation == 270) std::swap(w, h);
    info->width = std::max(w, 1);
    info->height = std::max(h, 1);

    const Timeline line = ScanPackets(fmt.get(), video);
    info->packets = line.packets;
    info->damage = line.damage;
    if (line.packets == 0) {
        *error = "clip '" + path + "' has no video frames";
        return false;
    }
    info->still = line.packets == 1 && IsStillFormat(fmt.get());
    info->seconds = line.start != AV_NOPTS_VALUE ? Seconds(line.end - line.start, vs->time_base)
                                                 : double(line.packets) / av_q2d(rate);
    info->frames = std::max<int64_t>(1, std::llround(info->seconds * av_q2d(rate)));
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
    SwrPtr swr;
    PacketPtr pkt{av_packet_alloc()};
    GraphPtr graph;
    AVFilterContext* src = nullptr;
    AVFilterContext* sink = nullptr;
    int graphW = 0, graphH = 0, graphFormat = -1;
    int64_t startPts = 0;  // the video timeline's start, in the stream's time base
    int64_t endPts = 0;    // its end, relative to the start
    double videoStart = 0.0;
    int64_t lastPts = -1;
    bool eof = false;
    bool flushed = false;
    Damage damage;
    int64_t decoded = 0;

    // Pictures a replaced graph still held, served before the new graph's.
    std::deque<AvFramePtr> drained;
    // Sound at the output rate from sample `audioBase` on, interleaved stereo.
    std::deque<float> sound;
    int64_t audioBase = 0;
    int64_t audioNext = -1;

    const Options* options = nullptr;
    const ClipInfo* info = nullptr;

    bool Open(const std::string& path, const Options& o, const ClipInfo& i, std::string* error) {
        options = &o;
        info = &i;
        if (!OpenInput(path, &fmt, error)) return false;
        video = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video < 0) {
            *error = "clip '" + path + "' has no video";
            return false;
        }
        vdec = OpenDecoder(fmt->streams[video], error);
        if (!vdec) {
            *error = "clip '" + path + "': " + *error;
            return false;
        }
        const AVStream* vs = fmt->streams[video];
        startPts = vs->start_time != AV_NOPTS_VALUE ? vs->start_time : 0;
        videoStart = Seconds(startPts, vs->time_base);
        const double seconds = i.still ? o.stillSeconds : i.seconds;
        endPts = std::max<int64_t>(1, std::llround(seconds / av_q2d(vs->time_base)));
        audio = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (audio >= 0) {
            std::string ignored;
            adec = OpenDecoder(fmt->streams[audio], &ignored);
            if (!adec) audio = -1;
        }
        return true;
    }

    // Target size of the picture inside the output frame, and where it sits.
    void Placement(int* sw, int* sh) const {
        const int ow = options->width, oh = options->height;
        const double dw = info->width, dh = info->height;
        if (options->fit == Fit::kStretch) {
            *sw = ow;
            *sh = oh;
            return;
        }
        const double s =
            options->fit == Fit::kPad ? std::min(ow / dw, oh / dh) : std::max(ow / dw, oh / dh);
        *sw = std::max(1, int(std::lround(dw * s)));
        *sh = std::max(1, int(std::lround(dh * s)));
        // Within a pixel of its own size: not scaled, only padded or cut.
        if (std::abs(*sw - dw) <= 1 && std::abs(*sh - dh) <= 1) {
            *sw = int(dw);
            *sh = int(dh);
        }
        if (options->fit == Fit::kPad) {
            *sw = std::min(*sw, ow);
            *sh = std::min(*sh, oh);
        } else {
            *sw = std::max(*sw, ow);
            *sh = std::max(*sh, oh);
        }
    }

    std::string GraphDescription(const AVFrame* f) const {
        const AVStream* vs = fmt->streams[video];
        const AVRational sar =
            f->sample_aspect_ratio.num > 0 ? f->sample_aspect_ratio : AVRational{1, 1};
        char buffer[512];
        std::snprintf(buffer, sizeof buffer,
                      "buffer=video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                      f->width, f->height, f->format, vs->time_base.num, vs->time_base.den, sar.num,
                      sar.den);
        std::string d = buffer;
        if (info->interlaced) d += ",bwdif=mode=send_frame:deint=interlaced";
        if (info->rotation == 90) d += ",transpose=clock";
        if (info->rotation == 180) d += ",hflip,vflip";
        if (info->rotation == 270) d += ",transpose=cclock";
        int sw, sh;
        Placement(&sw, &sh);
        const int ow = options->width, oh = options->height;
        std::snprintf(buffer, sizeof buffer,
                      ",scale=w=%d:h=%d:flags=%s:in_color_matrix=%s:in_range=%s:out_range=full"
                      ",format=pix_fmts=%s",
                      sw, sh, options->fastScaling ? "fast_bilinear" : "bicubic",
                      info->matrix.c_str(), info->range == "full" ? "full" : "limited",
                      av_get_pix_fmt_name(AV_PIX_FMT_RGB32));
        d += buffer;
        if (sw != ow || sh != oh) {
            if (options->fit == Fit::kPad)
                std::snprintf(buffer, sizeof buffer, ",pad=w=%d:h=%d:x=%d:y=%d:color=black", ow, oh,
                              (ow - sw) / 2, (oh - sh) / 2);
            else
                std::snprintf(buffer, sizeof buffer, ",crop=w=%d:h=%d", ow, oh);
            d += buffer;
        }
        std::snprintf(buffer, sizeof buffer, ",setsar=1,fps=fps=%d/%d:start_time=0:round=near",
                      options->fps.num, options->fps.den);
        d += buffer;
        d += ",buffersink";
        return d;
    }

    bool BuildGraph(const AVFrame* f, std::string* error) {
        graph.reset(avfilter_graph_alloc());
        if (!graph) return false;
        graph->nb_threads = 1;
        AVFilterInOut* inputs = nullptr;
        AVFilterInOut* outputs = nullptr;
        const std::string description = GraphDescription(f);
        int rc = avfilter_graph_parse2(graph.get(), description.c_str(), &inputs, &outputs);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (rc >= 0) rc = avfilter_graph_config(graph.get(), nullptr);
        if (rc < 0) {
            *error = "cannot convert the picture: " + AvError(rc);
            return false;
        }
        src = sink = nullptr;
        for (unsigned i = 0; i < graph->nb_filters; ++i) {
            AVFilterContext* c = graph->filters[i];
            if (std::strcmp(c->filter->name, "buffer") == 0) src = c;
            if (std::strcmp(c->filter->name, "buffersink") == 0) sink = c;
        }
        graphW = f->width;
        graphH = f->height;
        graphFormat = f->format;
        return src && sink;
    }

    // Pictures out of the graph come one at a time, as they are asked for, so
    // a long still or a gap in a variable-rate clip never piles up frames.
    AvFramePtr TakePicture() {
        if (!drained.empty()) {
            AvFramePtr f = std::move(drained.front());
            drained.pop_front();
            return f;
        }
        if (!graph) return nullptr;
        AvFramePtr out(av_frame_alloc());
        if (av_buffersink_get_frame(sink, out.get()) < 0) return nullptr;
        return out;
    }

    void PushPicture(AVFrame* frame) {
        std::string ignored;
        if (!graph || frame->width != graphW || frame->height != graphH ||
            frame->format != graphFormat) {
            // A new size or format mid-stream: what the old graph holds comes first.
            if (graph) {
                av_buffersrc_close(src, lastPts + 1, AV_BUFFERSRC_FLAG_PUSH);
                while (AvFramePtr f = TakePicture()) drained.push_back(std::move(f));
            }
            if (!BuildGraph(frame, &ignored)) {
                graph.reset();
                return;
            }
        }
        int64_t pts = frame->best_effort_timestamp;
        pts = pts == AV_NOPTS_VALUE ? lastPts + 1 : pts - startPts;
        if (pts <= lastPts) pts = lastPts + 1;  // timestamps must rise
        lastPts = pts;
        frame->pts = pts;
        if (av_buffersrc_add_frame_flags(src, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
            NoteDamage(fmt->streams[video]->time_base, frame->best_effort_timestamp);
    }

    int Channels() const { return options->sound.channels; }
    int64_t AudioEnd() const { return audioBase + int64_t(sound.size() / size_t(Channels())); }

    void TakeAudio(AVFrame* frame) {
        if (!swr) {
            AVChannelLayout layout;
            av_channel_layout_default(&layout, Channels());
            SwrContext* s = nullptr;
            const int rc = swr_alloc_set_opts2(&s, &layout, AV_SAMPLE_FMT_FLT, options->sound.rate,
                                               &frame->ch_layout, AVSampleFormat(frame->format),
                                               frame->sample_rate, 0, nullptr);
            av_channel_layout_uninit(&layout);
            if (rc < 0 || swr_init(s) < 0) {
                swr_free(&s);
                audio = -1;
                return;
            }
            swr.reset(s);
            const AVStream* as = fmt->streams[audio];
            const double t =
                frame->pts == AV_NOPTS_VALUE
                    ? (as->start_time == AV_NOPTS_VALUE ? 0.0
                                                        : Seconds(as->start_time, as->time_base))
                    : Seconds(frame->pts, as->time_base);
            audioNext = int64_t(std::llround((t - videoStart) * options->sound.rate));
        }
        const int capacity = swr_get_out_samples(swr.get(), frame->nb_samples);
        std::vector<float> out(size_t(std::max(capacity, 0)) * size_t(Channels()));
        uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(out.data())};
        const int n =
            swr_convert(swr.get(), outPlanes, capacity,
                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        if (n > 0) Append(out.data(), n);
    }

    // Places `n` samples at audioNext on the sound timeline (before the
    // picture's start they are dropped; a gap is filled with silence).
    void Append(const float* data, int n) {
        int64_t at = audioNext;
        audioNext += n;
        if (at < audioBase) {
            const int64_t skip = std::min<int64_t>(audioBase - at, n);
            data += skip * Channels();
            n -= int(skip);
            at += skip;
        }
        if (n <= 0) return;
        const size_t channels = size_t(Channels());
        if (at > AudioEnd()) sound.insert(sound.end(), size_t(at - AudioEnd()) * channels, 0.0f);
        sound.insert(sound.end(), data, data + size_t(n) * channels);
    }

    void NoteDamage(AVRational tb, int64_t pts) {
        ++damage.errors;
        if (damage.firstAt < 0)
            damage.firstAt =
                pts == AV_NOPTS_VALUE ? 0.0 : std::max(0.0, Seconds(pts - startPts, tb));
    }

    void Drain(AVCodecContext* ctx, bool isVideo) {
        for (;;) {
            AvFramePtr frame(av_frame_alloc());
            const int rc = avcodec_receive_frame(ctx, frame.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            if (rc < 0) {
                if (isVideo) NoteDamage(fmt->streams[video]->time_base, AV_NOPTS_VALUE);
                return;
            }
            if (isVideo) {
                ++decoded;
                if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT))
                    NoteDamage(fmt->streams[video]->time_base, frame->best_effort_timestamp);
                PushPicture(frame.get());
            } else {
                TakeAudio(frame.get());
            }
        }
    }

    void Send(AVCodecContext* ctx, const AVPacket* packet, bool isVideo) {
        const int rc = avcodec_send_packet(ctx, packet);
        if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && isVideo && packet)
            NoteDamage(fmt->streams[video]->time_base, packet->pts);
        Drain(ctx, isVideo);
    }

    // Reads and decodes one more packet; false once everything is decoded.
    bool More() {
        if (flushed) return false;
        if (!eof) {
            const int rc = av_read_frame(fmt.get(), pkt.get());
            if (rc >= 0) {
                if (pkt->stream_index == video)
                    Send(vdec.get(), pkt.get(), true);
                else if (pkt->stream_index == audio && adec)
                    Send(adec.get(), pkt.get(), false);
                av_packet_unref(pkt.get());
                return true;
            }
            if (rc != AVERROR_EOF) NoteDamage(fmt->streams[video]->time_base, AV_NOPTS_VALUE);
            eof = true;
        }
        Send(vdec.get(), nullptr, true);
        if (adec) Send(adec.get(), nullptr, false);
        // The clip's end: the rate filter fills the timeline up to it.
        if (graph) av_buffersrc_close(src, std::max(endPts, lastPts + 1), 0);
        // Pictures the decoder refused, on top of those the file lacks.
        damage.lostFrames = info->damage.lostFrames + std::max<int64_t>(0, info->packets - decoded);
        damage.errors += info->damage.errors;
        damage.cutShort = info->damage.cutShort;
        if (info->damage.firstAt >= 0 &&
            (damage.firstAt < 0 || info->damage.firstAt < damage.firstAt))
            damage.firstAt = info->damage.firstAt;
        flushed = true;
        return false;
    }
};

ClipReader::ClipReader(std::string path, Options options, ClipInfo info)
    : path_(std::move(path)), options_(options), info_(std::move(info)) {
    const double seconds = info_.still ? options_.stillSeconds : info_.seconds;
    frameCount_ = std::max<int64_t>(1, std::llround(seconds * options_.fps.Value()));
}

std::unique_ptr<ClipReader> ClipReader::Open(const std::string& path, const Options& options,
                                             std::string* error) {
    ClipInfo info;
    if (!Probe(path, &info, error)) return nullptr;
    return Open(path, info, options, error);
}

std::unique_ptr<ClipReader> ClipReader::Open(const std::string& path, const ClipInfo& info,
                                             const Options& options, std::string* error) {
    if (options.width <= 0 || options.height <= 0 || options.fps.num <= 0 || options.fps.den <= 0 ||
        options.sound.rate <= 0 || options.sound.channels <= 0) {
        *error = "clip '" + path + "': no output size or rate";
        return nullptr;
    }
    std::unique_ptr<ClipReader> reader(new ClipReader(path, options, info));
    reader->Start();
    return reader;
}

ClipReader::~ClipReader() {
    Stop();
}

Damage ClipReader::DamageFound() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_ || stop_; });
    return damage_;
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
    if (!dec.Open(path_, options_, info_, &error)) {
        std::lock_guard lock(mutex_);
        threadError_ = error;
        done_ = true;
        changed_.notify_all();
        return;
    }
    const int w = options_.width, h = options_.height;
    // Pictures out of the graph carry their output frame number as pts.
    AvFramePtr last, ahead;
    bool videoEnded = false;
    auto stopping = [&] {
        std::lock_guard lock(mutex_);
        return stop_;
    };
    for (int64_t k = 0; k < frameCount_; ++k) {
        const int64_t audioStart = FrameSampleStart(k, options_.fps, options_.sound.rate);
        const int64_t audioEnd = FrameSampleStart(k + 1, options_.fps, options_.sound.rate);
        // The picture shown at k: the last one out of the graph at or before k.
        for (;;) {
            if (ahead && ahead->pts <= k) last = std::move(ahead);
            if ((last && last->pts >= k) || ahead || videoEnded) break;
            if (stopping()) return;
            if (AvFramePtr f = dec.TakePicture()) {
                ahead = std::move(f);
            } else if (!dec.More()) {
                if (AvFramePtr g = dec.TakePicture())
                    ahead = std::move(g);
                else
                    videoEnded = true;
            }
        }
        // The frame's sound.
        while (!dec.flushed && dec.audio >= 0 && dec.AudioEnd() < audioEnd) {
            if (stopping()) return;
            dec.More();
        }
        // Before the first picture, or past the last, the nearest one stands in.
        const AVFrame* pic = last ? last.get() : ahead.get();
        if (!pic) {
            std::lock_guard lock(mutex_);
            threadError_ = "clip '" + path_ + "': no picture could be decoded";
            break;
        }

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
        frame->pixels.resize(size_t(w) * size_t(h));
        const int rows = std::min(h, pic->height), cols = std::min(w, pic->width);
        for (int y = 0; y < rows; ++y)
            std::memcpy(frame->pixels.data() + size_t(y) * size_t(w),
                        pic->data[0] + ptrdiff_t(y) * pic->linesize[0], size_t(cols) * 4);

        const size_t channels = size_t(options_.sound.channels);
        const size_t want = size_t(audioEnd - audioStart) * channels;
        frame->audio.assign(want, 0.0f);
        if (audioStart > dec.audioBase) {
            const size_t drop =
                std::min(dec.sound.size(), size_t(audioStart - dec.audioBase) * channels);
            dec.sound.erase(dec.sound.begin(), dec.sound.begin() + ptrdiff_t(drop));
            dec.audioBase = audioStart;
        }
        const size_t have = std::min(want, dec.sound.size());
        std::copy(dec.sound.begin(), dec.sound.begin() + ptrdiff_t(have), frame->audio.begin());

        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(frame));
            damage_ = dec.damage;
        }
        changed_.notify_all();
    }
    // The rest of the file, so damage after the last frame served is counted too.
    while (dec.More()) {
        std::lock_guard lock(mutex_);
        if (stop_) return;
    }
    std::lock_guard lock(mutex_);
    damage_ = dec.damage;
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

}  // namespace tavhost::media

// Decoding one clip on the reader's thread (see clip_decoder.h).
#include "clip_decoder.h"

namespace tavhost::media {

bool ClipDecoder::BuildGraph(const AVFrame* f, std::string* error) {
    graph.reset(Allocated(avfilter_graph_alloc()));
    graph->nb_threads = 1;
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    const std::string description =
        GraphDescription(*options, *info, fmt->streams[video]->time_base, f);
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

AvFramePtr ClipDecoder::TakePicture() {
    if (!drained.empty()) {
        AvFramePtr f = std::move(drained.front());
        drained.pop_front();
        return f;
    }
    if (!graph) return nullptr;
    AvFramePtr out(Allocated(av_frame_alloc()));
    if (av_buffersink_get_frame(sink, out.get()) < 0) return nullptr;
    return out;
}

void ClipDecoder::PushPicture(AVFrame* frame) {
    if (!graph || frame->width != graphW || frame->height != graphH ||
        frame->format != graphFormat) {
        // A new size or format mid-stream: what the old graph holds comes first.
        if (graph) {
            av_buffersrc_close(src, lastPts + 1, AV_BUFFERSRC_FLAG_PUSH);
            for (;;) {
                AvFramePtr f(Allocated(av_frame_alloc()));
                if (av_buffersink_get_frame(sink, f.get()) < 0) break;
                drained.push_back(std::move(f));
            }
        }
        if (!BuildGraph(frame, &graphError)) {
            graph.reset();
            return;
        }
    }
    int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        pts = lastPts == kNoPts ? 0 : lastPts + 1;
    else
        pts -= startPts;
    if (info->cover) pts = std::max<int64_t>(pts, 0);            // held from the part's start
    if (lastPts != kNoPts && pts <= lastPts) pts = lastPts + 1;  // timestamps must rise
    lastPts = pts;
    frame->pts = pts;
    if (av_buffersrc_add_frame_flags(src, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
        NoteDamage(fmt->streams[video]->time_base, frame->best_effort_timestamp);
}

void ClipDecoder::NoteDamage(AVRational tb, int64_t pts) {
    ++damage.errors;
    if (pts == AV_NOPTS_VALUE) pts = readPts;  // where reading had got to
    if (damage.firstAt < 0)
        damage.firstAt = pts == AV_NOPTS_VALUE ? 0.0 : std::max(0.0, Seconds(pts - originPts, tb));
}

void ClipDecoder::SeekEarlier() {
    const AVStream* vs = fmt->streams[video];
    const int64_t second = std::max<int64_t>(1, av_rescale_q(1, {1, 1}, vs->time_base));
    seekBack = seekBack ? 2 * seekBack : second;
    ++seeks;
    const int64_t target = startPts - seekBack;
    if (target <= originPts || av_seek_frame(fmt.get(), video, target, AVSEEK_FLAG_BACKWARD) < 0) {
        // From the very start: by bytes where the container seeks so, else by
        // time; nothing lies before it to look for.
        if (av_seek_frame(fmt.get(), -1, 0, AVSEEK_FLAG_BYTE) < 0)
            av_seek_frame(fmt.get(), video, originPts, AVSEEK_FLAG_BACKWARD);
        checkingSeek = false;
    }
    avcodec_flush_buffers(vdec.get());
    if (sound) sound->Reset();
    copiedPackets.clear();
    eof = false;
    damage = Damage{};
    skipping = false;
    unused = {};
}

void ClipDecoder::Drain() {
    for (;;) {
        AvFramePtr frame(Allocated(av_frame_alloc()));
        const int rc = avcodec_receive_frame(vdec.get(), frame.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
        if (rc < 0) {
            NoteDamage(fmt->streams[video]->time_base, AV_NOPTS_VALUE);
            return;
        }
        if (checkingSeek) {
            const int64_t pts = frame->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE && pts > startPts) {
                SeekEarlier();
                return;
            }
            checkingSeek = false;
        }
        ++decoded;
        if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT))
            NoteDamage(fmt->streams[video]->time_base, frame->best_effort_timestamp);
        PushPicture(frame.get());
        if (options->copied.Any()) {
            if (!lastPicture) lastPicture.reset(Allocated(av_frame_alloc()));
            av_frame_unref(lastPicture.get());
            if (av_frame_ref(lastPicture.get(), frame.get()) < 0) throw std::bad_alloc();
        }
    }
}

void ClipDecoder::Send(const AVPacket* packet) {
    const int rc = avcodec_send_packet(vdec.get(), packet);
    if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && packet)
        NoteDamage(fmt->streams[video]->time_base, packet->pts);
    Drain();
}

int64_t ClipDecoder::FrameOf(int64_t pts) const {
    const AVRational tb = fmt->streams[video]->time_base;
    return ClipFrameAt(pts, startPts, tb.num, tb.den, options->output.fps);
}

bool ClipDecoder::Unused(const AVPacket* p) const {
    return p->pts != AV_NOPTS_VALUE && options->copied.Any() &&
           options->copied.Frame(FrameOf(p->pts));
}

void ClipDecoder::KeepCopied(const AVPacket* p) {
    // The plan copies only clips whose every packet splits into units.
    if (!h264::WithLengths(p->data, size_t(p->size), options->copied.LengthSize(), false, &units)) {
        NoteDamage(fmt->streams[video]->time_base, p->pts);
        units.clear();
    }
    AVPacket* q = Allocated(av_packet_alloc());
    std::shared_ptr<const AVPacket> kept(q, [](const AVPacket* k) {
        AVPacket* owned = const_cast<AVPacket*>(k);
        av_packet_free(&owned);
    });
    if (av_new_packet(q, int(units.size())) < 0) throw std::bad_alloc();
    std::copy(units.begin(), units.end(), q->data);
    q->pts = p->pts;
    q->dts = p->dts;
    q->flags = p->flags & AV_PKT_FLAG_KEY;
    copiedPackets.push_back({std::move(kept), FrameOf(p->pts)});
}

void ClipDecoder::PushStandIns(bool all) {
    while (!unused.empty() && (all || unused.size() > 64)) {
        const int64_t pts = unused.top();
        unused.pop();
        AvFramePtr f(Allocated(av_frame_alloc()));
        if (!lastPicture || av_frame_ref(f.get(), lastPicture.get()) < 0) {
            // Nothing decoded yet: a black picture of the stream's shape.
            const AVCodecParameters* par = fmt->streams[video]->codecpar;
            f->format = par->format;
            f->width = par->width;
            f->height = par->height;
            if (av_frame_get_buffer(f.get(), 0) < 0) continue;
            const ptrdiff_t linesizes[4] = {f->linesize[0], f->linesize[1], f->linesize[2],
                                            f->linesize[3]};
            av_image_fill_black(f->data, linesizes, AVPixelFormat(f->format), AVCOL_RANGE_MPEG,
                                f->width, f->height);
            lastPicture.reset(Allocated(av_frame_clone(f.get())));
        }
        f->best_effort_timestamp = f->pts = pts;
        ++decoded;
        PushPicture(f.get());
    }
}

void ClipDecoder::SendVideo(const AVPacket* p) {
    if (Unused(p)) {
        if (!skipping) {
            Send(nullptr);
            avcodec_flush_buffers(vdec.get());
            skipping = true;
        }
        unused.push(p->pts);
        KeepCopied(p);
        PushStandIns(false);
        return;
    }
    skipping = false;
    PushStandIns(true);
    Send(p);
}

bool ClipDecoder::More() {
    if (flushed) return false;
    if (!eof) {
        const int rc = av_read_frame(fmt.get(), pkt.get());
        if (rc >= 0) {
            if (pkt->stream_index == video) {
                if (pkt->pts != AV_NOPTS_VALUE) readPts = pkt->pts;
                SendVideo(pkt.get());
            } else if (pkt->stream_index == audio && sound) {
                sound->Send(pkt.get());
            }
            av_packet_unref(pkt.get());
            return true;
        }
        if (rc != AVERROR_EOF) NoteDamage(fmt->streams[video]->time_base, AV_NOPTS_VALUE);
        if (checkingSeek) {
            // The end before a picture at or before the in point: the seek
            // landed past the last keyframe before it.
            const int before = seeks;
            Send(nullptr);
            if (checkingSeek && seeks == before) SeekEarlier();
            if (seeks != before) return true;
        }
        eof = true;
    }
    Send(nullptr);
    PushStandIns(true);
    if (sound) sound->Flush();
    // The clip's end: the rate filter fills the timeline up to it.
    if (graph) av_buffersrc_close(src, std::max(endPts, lastPts + 1), 0);
    // Pictures the decoder refused, on top of those the file lacks (known
    // only when the whole file was read).
    damage.lostFrames =
        info->damage.lostFrames + (seeked ? 0 : std::max<int64_t>(0, info->packets - decoded));
    damage.errors += info->damage.errors;
    damage.cutShort = info->damage.cutShort;
    damage.missingAtEnd = info->damage.missingAtEnd;
    damage.endsAt = info->damage.endsAt;
    if (info->damage.firstAt >= 0 && (damage.firstAt < 0 || info->damage.firstAt < damage.firstAt))
        damage.firstAt = info->damage.firstAt;
    flushed = true;
    return false;
}

}  // namespace tavhost::media

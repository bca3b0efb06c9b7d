#include "video_decoder.h"

#include <cstring>

#include "clip_graph.h"
#include "h264_units.h"
#include "media_input.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/imgutils.h>
}

namespace tavhost::media {

std::unique_ptr<VideoDecoder> VideoDecoder::Open(AVStream* stream,
                                                 const ClipReader::Options& options,
                                                 const ClipInfo& info, int64_t startPts,
                                                 NoteDamage damage, std::string* error) {
    std::unique_ptr<VideoDecoder> d(
        new VideoDecoder(stream, options, info, startPts, std::move(damage)));
    d->dec_ = OpenDecoder(stream, error, options.fastScaling);
    if (!d->dec_) return nullptr;
    return d;
}

bool VideoDecoder::BuildGraph(const AVFrame* f) {
    Graph g;
    g.graph.reset(Allocated(avfilter_graph_alloc()));
    g.graph->nb_threads = 1;
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    const std::string description = GraphDescription(options_, info_, stream_->time_base, f);
    int rc = avfilter_graph_parse2(g.graph.get(), description.c_str(), &inputs, &outputs);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (rc >= 0) rc = avfilter_graph_config(g.graph.get(), nullptr);
    if (rc < 0) {
        graphError_ = "cannot convert the picture: " + AvError(rc);
        graph_ = Graph{};
        return false;
    }
    for (unsigned i = 0; i < g.graph->nb_filters; ++i) {
        AVFilterContext* c = g.graph->filters[i];
        if (std::strcmp(c->filter->name, "buffer") == 0) g.src = c;
        if (std::strcmp(c->filter->name, "buffersink") == 0) g.sink = c;
    }
    g.width = f->width;
    g.height = f->height;
    g.format = f->format;
    graph_ = std::move(g);
    if (graph_.src && graph_.sink) return true;
    graph_ = Graph{};
    return false;
}

AvFramePtr VideoDecoder::TakePicture() {
    if (!drained_.empty()) {
        AvFramePtr f = std::move(drained_.front());
        drained_.pop_front();
        return f;
    }
    if (!graph_.graph) return nullptr;
    AvFramePtr out(Allocated(av_frame_alloc()));
    if (av_buffersink_get_frame(graph_.sink, out.get()) < 0) return nullptr;
    return out;
}

void VideoDecoder::PushPicture(AVFrame* frame) {
    if (!graph_.graph || frame->width != graph_.width || frame->height != graph_.height ||
        frame->format != graph_.format) {
        // A new size or format mid-stream: what the old graph holds comes first.
        if (graph_.graph) {
            av_buffersrc_close(graph_.src, lastPts_ + 1, AV_BUFFERSRC_FLAG_PUSH);
            for (;;) {
                AvFramePtr f(Allocated(av_frame_alloc()));
                if (av_buffersink_get_frame(graph_.sink, f.get()) < 0) break;
                drained_.push_back(std::move(f));
            }
        }
        if (!BuildGraph(frame)) return;
    }
    int64_t pts = frame->best_effort_timestamp;
    if (firstPicture_ == kNoPts) firstPicture_ = pts;
    if (pts == AV_NOPTS_VALUE)
        pts = lastPts_ == kNoPts ? 0 : lastPts_ + 1;
    else
        pts -= startPts_;
    if (info_.cover) pts = std::max<int64_t>(pts, 0);               // held from the part's start
    if (lastPts_ != kNoPts && pts <= lastPts_) pts = lastPts_ + 1;  // timestamps must rise
    lastPts_ = pts;
    frame->pts = pts;
    if (av_buffersrc_add_frame_flags(graph_.src, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
        damage_(frame->best_effort_timestamp);
}

void VideoDecoder::Reset() {
    avcodec_flush_buffers(dec_.get());
    copied_.clear();
    skipping_ = false;
    unused_ = {};
    landedPast_ = false;
    firstPicture_ = kNoPts;
}

void VideoDecoder::Drain() {
    for (;;) {
        AvFramePtr frame(Allocated(av_frame_alloc()));
        const int rc = avcodec_receive_frame(dec_.get(), frame.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
        if (rc < 0) {
            damage_(AV_NOPTS_VALUE);
            return;
        }
        if (checking_) {
            const int64_t pts = frame->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE && pts > startPts_) {
                landedPast_ = true;
                return;
            }
            checking_ = false;
        }
        ++decoded_;
        if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT))
            damage_(frame->best_effort_timestamp);
        PushPicture(frame.get());
        if (options_.copied.Any()) {
            if (!lastPicture_) lastPicture_.reset(Allocated(av_frame_alloc()));
            av_frame_unref(lastPicture_.get());
            if (av_frame_ref(lastPicture_.get(), frame.get()) < 0) throw std::bad_alloc();
        }
    }
}

void VideoDecoder::Decode(const AVPacket* packet) {
    const int rc = avcodec_send_packet(dec_.get(), packet);
    if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && packet) damage_(packet->pts);
    Drain();
}

int64_t VideoDecoder::FrameOf(int64_t pts) const {
    const AVRational tb = stream_->time_base;
    return ClipFrameAt(pts, startPts_, tb.num, tb.den, options_.output.fps);
}

bool VideoDecoder::Unused(const AVPacket* p) const {
    return p->pts != AV_NOPTS_VALUE && options_.copied.Any() &&
           options_.copied.Frame(FrameOf(p->pts));
}

void VideoDecoder::KeepCopied(const AVPacket* p) {
    // The plan copies only clips whose every packet splits into units.
    std::vector<uint8_t> units;
    if (!h264::WithLengths(p->data, size_t(p->size), options_.copied.LengthSize(), false, &units)) {
        damage_(p->pts);
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
    copied_.push_back({std::move(kept), FrameOf(p->pts)});
}

void VideoDecoder::PushStandIns(bool all) {
    while (!unused_.empty() && (all || unused_.size() > 64)) {
        const int64_t pts = unused_.top();
        unused_.pop();
        AvFramePtr f(Allocated(av_frame_alloc()));
        if (!lastPicture_ || av_frame_ref(f.get(), lastPicture_.get()) < 0) {
            // Nothing decoded yet: a black picture of the stream's shape.
            const AVCodecParameters* par = stream_->codecpar;
            f->format = par->format;
            f->width = par->width;
            f->height = par->height;
            if (av_frame_get_buffer(f.get(), 0) < 0) continue;
            const ptrdiff_t linesizes[4] = {f->linesize[0], f->linesize[1], f->linesize[2],
                                            f->linesize[3]};
            av_image_fill_black(f->data, linesizes, AVPixelFormat(f->format), AVCOL_RANGE_MPEG,
                                f->width, f->height);
            lastPicture_.reset(Allocated(av_frame_clone(f.get())));
        }
        f->best_effort_timestamp = f->pts = pts;
        ++decoded_;
        PushPicture(f.get());
    }
}

void VideoDecoder::Send(const AVPacket* p) {
    if (Unused(p)) {
        // The pictures before it out first: nothing decoded later refers to it.
        if (!skipping_) {
            Decode(nullptr);
            avcodec_flush_buffers(dec_.get());
            skipping_ = true;
        }
        unused_.push(p->pts);
        KeepCopied(p);
        PushStandIns(false);
        return;
    }
    skipping_ = false;
    PushStandIns(true);
    Decode(p);
}

void VideoDecoder::End(int64_t end) {
    PushStandIns(true);
    if (graph_.graph) av_buffersrc_close(graph_.src, std::max(end, lastPts_ + 1), 0);
}

}  // namespace tavhost::media

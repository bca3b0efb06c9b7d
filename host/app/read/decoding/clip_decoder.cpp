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

void ClipDecoder::TakeAudio(AVFrame* frame) {
    if (!swr) {
        AVChannelLayout layout;
        av_channel_layout_default(&layout, Channels());
        SwrContext* s = nullptr;
        const int rc = swr_alloc_set_opts2(
            &s, &layout, AV_SAMPLE_FMT_FLT, options->output.sound.rate, &frame->ch_layout,
            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (rc < 0 || swr_init(s) < 0) {
            // Sound in a form that cannot be converted: the rest is mute, and said.
            swr_free(&s);
            NoteDamage(fmt->streams[audio]->time_base, frame->pts);
            audio = -1;
            return;
        }
        swr.reset(s);
        const AVStream* as = fmt->streams[audio];
        const double t =
            frame->pts == AV_NOPTS_VALUE
                ? (as->start_time == AV_NOPTS_VALUE ? 0.0 : Seconds(as->start_time, as->time_base))
                : Seconds(frame->pts, as->time_base);
        audioNext = int64_t(std::llround((t - videoStart) * options->output.sound.rate));
        audioShift = GridShift(audioNext, frame->nb_samples);
        audioNext += audioShift;
    } else {
        PlaceAt(frame->pts, swr_get_delay(swr.get(), options->output.sound.rate));
    }
    const int capacity = swr_get_out_samples(swr.get(), frame->nb_samples);
    std::vector<float> out(size_t(std::max(capacity, 0)) * size_t(Channels()));
    uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(out.data())};
    const int n = swr_convert(swr.get(), outPlanes, capacity,
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n <= 0) return;
    // A whole packet's samples, all kept, mark where that packet begins.
    if (options->soundGrid >= 0 && n == kPacketSamples && frame->nb_samples == n &&
        frame->pts != AV_NOPTS_VALUE && audioNext >= audioBase) {
        // The packet it was decoded from: AAC gives one frame a packet.
        while (!sentSound.empty() && sentSound.front()->pts < frame->pts) sentSound.pop_front();
        if (!sentSound.empty() && sentSound.front()->pts == frame->pts) {
            anchors.push_back({audioNext, frame->pts, std::move(sentSound.front())});
            sentSound.pop_front();
        }
    }
    Append(out.data(), n);
}

int64_t ClipDecoder::GridShift(int64_t at, int samples) const {
    if (options->soundGrid < 0) return 0;
    // A first frame shorter than a packet is the end of one whose start was
    // skipped (the encoder's priming): the next packet begins after it.
    const int64_t packetStart = samples < kPacketSamples ? at + samples : at;
    const int64_t phase =
        ((packetStart + options->soundGrid) % kPacketSamples + kPacketSamples) % kPacketSamples;
    int64_t shift = -phase;
    if (shift < -kPacketSamples / 2) shift += kPacketSamples;
    if (shift >= kPacketSamples / 2) shift -= kPacketSamples;
    return shift;
}

bool ClipDecoder::Skippable(const AVPacket* p) const {
    // Only once the sound's place is known, and far enough inside one run of
    // copied pictures that the movie's encoder never needs this sound, even
    // for the packets it is given before a stretch of its own.
    if (!options->skipCopiedSound || options->soundGrid < 0 || !swr || audioNext < audioBase ||
        p->pts == AV_NOPTS_VALUE || adec->frame_size != kPacketSamples)
        return false;
    const OutputFormat& out = options->output;
    const int64_t margin = int64_t(2 * kLeadInPackets + 4) * kPacketSamples;
    const auto frameOf = [&](int64_t sample) {
        return sample * out.fps.num / (int64_t(out.sound.rate) * out.fps.den);
    };
    // Nor near the end of the clip's sound, where its packets stop.
    const AVStream* as = fmt->streams[audio];
    const double end =
        as->duration != AV_NOPTS_VALUE
            ? Seconds((as->start_time == AV_NOPTS_VALUE ? 0 : as->start_time) + as->duration,
                      as->time_base)
        : fmt->duration != AV_NOPTS_VALUE ? double(fmt->duration) / AV_TIME_BASE
                                          : -1.0;
    const double soundEnd = (end - videoStart) * out.sound.rate;
    if (end < 0 || double(audioNext + kPacketSamples + margin) >= soundEnd) return false;
    return options->copied.Frames(frameOf(audioNext - margin),
                                  frameOf(audioNext + kPacketSamples + margin) + 1);
}

void ClipDecoder::SendAudio(const AVPacket* p) {
    if (Skippable(p)) {
        PlaceAt(p->pts, 0);
        anchors.push_back({audioNext, p->pts, SharedPacket(p)});
        if (!undecoded.empty() && undecoded.back().second == audioNext)
            undecoded.back().second += kPacketSamples;
        else
            undecoded.push_back({audioNext, audioNext + kPacketSamples});
        static const std::vector<float> silence(size_t(kPacketSamples) * 8, 0.0f);
        for (int left = kPacketSamples; left > 0;) {
            const int n = std::min(left, int(silence.size() / size_t(Channels())));
            Append(silence.data(), n);
            left -= n;
        }
        av_packet_unref(lastSkipped.get());
        if (av_packet_ref(lastSkipped.get(), p) < 0) throw std::bad_alloc();
        return;
    }
    if (lastSkipped->data) {
        // The packet before this one overlaps it: decoded first, its own
        // sound thrown away, it makes this one decode as it would have.
        if (avcodec_send_packet(adec.get(), lastSkipped.get()) >= 0)
            while (avcodec_receive_frame(adec.get(), discarded.get()) >= 0)
                av_frame_unref(discarded.get());
        av_packet_unref(lastSkipped.get());
    }
    if (options->soundGrid >= 0 && p->pts != AV_NOPTS_VALUE) {
        sentSound.push_back(SharedPacket(p));
        // A decoder that keeps more than a few packets back gives no anchors.
        if (sentSound.size() > 16) sentSound.pop_front();
    }
    Send(adec.get(), p, false);
}

void ClipDecoder::PlaceAt(int64_t pts, int64_t delay) {
    if (pts == AV_NOPTS_VALUE || audio < 0) return;
    const int rate = options->output.sound.rate;
    const int64_t at =
        std::llround((Seconds(pts, fmt->streams[audio]->time_base) - videoStart) * rate) +
        audioShift - delay;
    // Containers round timestamps (Matroska to the millisecond): within 2 ms
    // the sound runs on as it is.
    if (std::abs(at - audioNext) > rate / 500) audioNext = at;
}

void ClipDecoder::Append(const float* data, int n) {
    int64_t at = audioNext;
    audioNext += n;
    const int64_t placed = AudioEnd();
    if (at < placed) {
        const int64_t skip = std::min<int64_t>(placed - at, n);
        data += skip * Channels();
        n -= int(skip);
        at += skip;
    }
    if (n <= 0) return;
    const size_t channels = size_t(Channels());
    if (at > AudioEnd()) sound.insert(sound.end(), size_t(at - AudioEnd()) * channels, 0.0f);
    sound.insert(sound.end(), data, data + size_t(n) * channels);
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
    if (adec) avcodec_flush_buffers(adec.get());
    swr.reset();
    sound.clear();
    anchors.clear();
    undecoded.clear();
    sentSound.clear();
    copiedPackets.clear();
    av_packet_unref(lastSkipped.get());
    audioBase = 0;
    audioNext = -1;
    eof = false;
    damage = Damage{};
    skipping = false;
    unused = {};
}

void ClipDecoder::Drain(AVCodecContext* ctx, bool isVideo) {
    for (;;) {
        AvFramePtr frame(Allocated(av_frame_alloc()));
        const int rc = avcodec_receive_frame(ctx, frame.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
        if (rc < 0) {
            if (isVideo) NoteDamage(fmt->streams[video]->time_base, AV_NOPTS_VALUE);
            return;
        }
        if (isVideo && checkingSeek) {
            const int64_t pts = frame->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE && pts > startPts) {
                SeekEarlier();
                return;
            }
            checkingSeek = false;
        }
        if (isVideo) {
            ++decoded;
            if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT))
                NoteDamage(fmt->streams[video]->time_base, frame->best_effort_timestamp);
            PushPicture(frame.get());
            if (options->copied.Any()) {
                if (!lastPicture) lastPicture.reset(Allocated(av_frame_alloc()));
                av_frame_unref(lastPicture.get());
                if (av_frame_ref(lastPicture.get(), frame.get()) < 0) throw std::bad_alloc();
            }
        } else {
            TakeAudio(frame.get());
        }
    }
}

void ClipDecoder::Send(AVCodecContext* ctx, const AVPacket* packet, bool isVideo) {
    const int rc = avcodec_send_packet(ctx, packet);
    if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && isVideo && packet)
        NoteDamage(fmt->streams[video]->time_base, packet->pts);
    Drain(ctx, isVideo);
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
            Send(vdec.get(), nullptr, true);
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
    Send(vdec.get(), p, true);
}

bool ClipDecoder::More() {
    if (flushed) return false;
    if (!eof) {
        const int rc = av_read_frame(fmt.get(), pkt.get());
        if (rc >= 0) {
            if (pkt->stream_index == video) {
                if (pkt->pts != AV_NOPTS_VALUE) readPts = pkt->pts;
                SendVideo(pkt.get());
            } else if (pkt->stream_index == audio && adec)
                SendAudio(pkt.get());
            av_packet_unref(pkt.get());
            return true;
        }
        if (rc != AVERROR_EOF) NoteDamage(fmt->streams[video]->time_base, AV_NOPTS_VALUE);
        if (checkingSeek) {
            // The end before a picture at or before the in point: the seek
            // landed past the last keyframe before it.
            const int before = seeks;
            Send(vdec.get(), nullptr, true);
            if (checkingSeek && seeks == before) SeekEarlier();
            if (seeks != before) return true;
        }
        eof = true;
    }
    Send(vdec.get(), nullptr, true);
    PushStandIns(true);
    if (adec) Send(adec.get(), nullptr, false);
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

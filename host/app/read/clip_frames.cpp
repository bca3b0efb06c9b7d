#include "clip_frames.h"

#include "clip_decoder.h"
#include "user_text.h"

namespace tavhost::media {

ClipFrames::ClipFrames(std::string shown, const ClipInfo& info, const ClipReader::Options& options)
    : shown_(std::move(shown)),
      info_(info),
      options_(options),
      dec_(std::make_unique<ClipDecoder>()),
      count_(OutputFrames(info, options)) {}

ClipFrames::~ClipFrames() = default;

std::unique_ptr<ClipFrames> ClipFrames::Open(const std::string& path, const ClipInfo& info,
                                             const ClipReader::Options& options,
                                             std::string* error) {
    std::unique_ptr<ClipFrames> frames(
        new ClipFrames(options.shown.empty() ? Quoted(path) : options.shown, info, options));
    if (!frames->dec_->Open(path, options, info, error)) return nullptr;
    return frames;
}

const Damage& ClipFrames::DamageFound() const {
    return dec_->DamageFound();
}

ClipFrames::Made ClipFrames::Next(Frame* frame, const std::function<bool()>& stopping,
                                  std::string* error) {
    if (next_ >= count_) return Made::kEnd;
    const int64_t k = next_;
    ClipDecoder& dec = *dec_;
    const int64_t audioStart = FrameSampleStart(k, options_.output.fps, options_.output.sound.rate);
    const int64_t audioEnd =
        FrameSampleStart(k + 1, options_.output.fps, options_.output.sound.rate);
    // The picture shown at k: the last one out of the graph at or before k.
    for (;;) {
        if (ahead_ && ahead_->pts <= k) last_ = std::move(ahead_);
        if ((last_ && last_->pts >= k) || ahead_ || videoEnded_) break;
        if (stopping()) return Made::kStopped;
        if (AvFramePtr f = dec.Video().TakePicture()) {
            ahead_ = std::move(f);
        } else if (!dec.More()) {
            if (AvFramePtr g = dec.Video().TakePicture())
                ahead_ = std::move(g);
            else
                videoEnded_ = true;
        }
    }
    // The frame's sound.
    while (!dec.Flushed() && dec.SoundActive() && dec.Sound()->End() < audioEnd) {
        if (stopping()) return Made::kStopped;
        dec.More();
    }
    // Before the first picture, or past the last, the nearest one stands in.
    const AVFrame* pic = last_ ? last_.get() : ahead_.get();
    if (!pic) {
        *error = "clip " + shown_ + ": no picture could be decoded" +
                 (dec.Video().GraphError().empty() ? "" : " (" + dec.Video().GraphError() + ")");
        return Made::kFailed;
    }
    frame->index = k;
    frame->width = pic->width;
    frame->height = pic->height;
    frame->matrix = options_.matrix;
    // The graph's own picture, shared rather than copied.
    frame->picture.reset(Allocated(av_frame_clone(pic)), [](const AVFrame* f) {
        AVFrame* owned = const_cast<AVFrame*>(f);
        av_frame_free(&owned);
    });
    frame->converted = false;
    // A copied frame carries its run's next packet in decode order.
    frame->copied.reset();
    frame->copiedFrame = -1;
    if (options_.copied.Frame(k)) {
        auto& copied = dec.Video().Copied();
        if (copied.empty()) {
            *error = "clip " + shown_ + ": the picture copied at frame " + std::to_string(k) +
                     " is not in the file";
            return Made::kFailed;
        }
        frame->copied = std::move(copied.front().packet);
        frame->copiedFrame = copied.front().frame;
        copied.pop_front();
    }
    // Pixels wanted later are made here, beside the decoding.
    if (frame->Yuv() && (!options_.pixelsFor || options_.pixelsFor(k)))
        frame->Pixels(options_.fastScaling);
    if (dec.Sound()) {
        dec.Sound()->Cut(audioStart, audioEnd, frame);
    } else {
        frame->audio.assign(size_t(audioEnd - audioStart) * size_t(options_.output.sound.channels),
                            0.0f);
        frame->anchors.clear();
        frame->soundDecoded = true;
    }
    ++next_;
    return Made::kFrame;
}

void ClipFrames::ReadToEnd(const std::function<bool()>& stopping) {
    const bool endsEarly =
        !info_.still && options_.outSeconds >= 0 && options_.outSeconds < info_.seconds;
    while (!endsEarly && !stopping() && dec_->More()) {
    }
}

}  // namespace tavhost::media

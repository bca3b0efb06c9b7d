// The render loop: every output frame of the sequence, in order; each
// transition's frames drawn by its plug-in over the hard cut's picture.
#include "render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <random>
#include <set>

#include "av_util.h"
#include "bundle_random.h"
#include "clip_pool.h"
#include "clip_reader.h"
#include "clip_sound.h"
#include "contact_sheet.h"
#include "damage_report.h"
#include "frame_canvas.h"
#include "instance.h"
#include "interrupt.h"
#include "movie_writer.h"
#include "part_identity.h"
#include "progress.h"
#include "sinks.h"
#include "sound_copy.h"
#include "timeline_frames.h"
#include "variants.h"

namespace tavhost {

namespace {

std::string SectionLabel(const PlannedTransition& t, const Placement& p, size_t k, bool alone) {
    char speed[16];
    std::snprintf(speed, sizeof speed, "%.2f", double(t.speed));
    const std::string where = alone             ? ""
                              : t.where.empty() ? std::to_string(k + 1) + ".  "
                                                : t.where + "  ";
    return where + t.bundle->Name() + "  variant " + std::to_string(t.variant) + "  speed " +
           speed + "  " + std::to_string(p.frames) + " frames";
}

// One render: the plan it follows, the clips it reads and where it writes.
class SequenceRender {
  public:
    SequenceRender(Sequence& plan, RenderSummary* summary) : plan_(plan), summary_(summary) {}

    ~SequenceRender() {
        // The instances go first: their Terminate still calls into the host.
        plan_.transitions.clear();
        if (plan_.host) plan_.host->SetProvider(nullptr);
    }

    bool Run(Error* failure) {
        // A failure here is the work's, never a value the user gave.
        std::string* error = &failure->text;
        const OutputFormat& f = plan_.format;
        for (size_t k = 0; k < plan_.transitions.size(); ++k) {
            const PlannedTransition& t = plan_.transitions[k];
            if (plan_.timeline.transitions[k].Between() &&
                t.timing.frames == TransitionTiming::kUnsetFrames)
                summary_->warnings.push_back(
                    t.name + " variant " + std::to_string(t.variant) +
                    " draws no picture of its own: the clips meet in a plain cut");
        }
        for (const PlannedClip& c : plan_.clips) {
            records_.emplace_back();
            InitClipRecord(records_.back(), c.path, c.frames);
            fades_.emplace_back();
        }
        if (!OpenOutputs(error)) return false;
        // Transition frames are composed into the movie's YUV where they can
        // be, and then no picture is made into pixels ahead of use.
        const bool inYuv =
            sink_->TakesDecodedPictures() && host().GetDrawing() == Drawing::kRecorded;
        const ClipPool::Pixels pixels = !sink_->TakesDecodedPictures()
                                            ? ClipPool::Pixels::kEverywhere
                                        : inYuv ? ClipPool::Pixels::kNone
                                                : ClipPool::Pixels::kTransitions;
        // Clips open a second ahead, so their decoding has started when needed.
        pool_ = std::make_unique<ClipPool>(plan_.clips, plan_.timeline, &gInterrupted,
                                           std::llround(f.fps.Value()), pixels, plan_.copy);
        provider_ = std::make_unique<TimelineFrames>(*pool_);
        plan_.host->SetProvider(provider_.get());
        canvas_ = std::make_unique<FrameCanvas>(host(), *provider_, *outMap_, inYuv, f.width,
                                                f.height, plan_.matrix);
        if (!RenderFrames(error)) return false;
        return Finish(error);
    }

  private:
    Host& host() { return *plan_.host; }

    bool OpenOutputs(std::string* error) {
        const OutputFormat& f = plan_.format;
        GWorldPtr out = host().EnsureOutputWorld(f.width, f.height);
        if (!out) {
            *error = "out of memory for a " + std::to_string(f.width) + "x" +
                     std::to_string(f.height) + " frame";
            return false;
        }
        outMap_ = *GetGWorldPixMap(out);
        SinkOptions options{.format = f, .matrix = plan_.matrix, .encoding = plan_.encoding};
        if (plan_.piece.count > 0) {
            // A part for the join: its sound exact, its place in the render tagged.
            options.exactSound = true;
            options.tags = PartTagsOf(plan_).Tags();
        }
        // What the plan chose to copy: the clips' pictures, and their sound
        // where it goes in unchanged; a part keeps its sound exact, and beside
        // it the packets the join copies.
        const CopyPlan& copy = plan_.copy;
        if (copy.Copies())
            options.copy =
                media::PassThrough{copy.sets, copy.encoderSetId, copy.reorderDelay, copy.dpb};
        options.copySound = copy.sound;
        options.soundStart = media::FrameSampleStart(plan_.piece.first, f.fps, f.sound.rate);
        sink_ = OpenSink(plan_.target, options, error);
        if (!sink_) return false;
        if (!plan_.contactSheet.empty()) {
            std::vector<SheetSection> sections;
            const bool alone = plan_.transitions.size() == 1;
            for (size_t k = 0; k < plan_.transitions.size(); ++k)
                sections.push_back(
                    {SectionLabel(plan_.transitions[k], plan_.timeline.transitions[k], k, alone),
                     plan_.timeline.transitions[k].frames});
            sheet_ =
                std::make_unique<ContactSheet>(plan_.contactSheet, f.width, f.height,
                                               std::to_string(sections.size()) + " transitions, " +
                                                   std::to_string(plan_.timeline.total) + " frames",
                                               sections);
        }
        return true;
    }

    // Every frame of the piece, after the frames before it that set the
    // fades its clips still carry (rendered, not written).
    bool RenderFrames(std::string* error) {
        const Timeline& tl = plan_.timeline;
        const Piece& piece = plan_.piece;
        Progress progress(piece.end - piece.warmUp, plan_.quiet);
        while (next_ < tl.transitions.size() && tl.transitions[next_].start < piece.warmUp) ++next_;
        for (int64_t t = piece.warmUp; t < piece.end; ++t) {
            if (gInterrupted) {
                *error = "interrupted";
                return false;
            }
            if (!pool_->Advance(t, error) || !ReportDamage(error)) return false;
            if (next_ < tl.transitions.size() && tl.transitions[next_].start == t &&
                !StartTransition(error))
                return false;
            if (!RenderFrame(t, error)) return false;
            progress.Update(t + 1 - piece.warmUp);
        }
        progress.Done();
        return !plan_.copy.sound || NoteSoundAfter(plan_, *pool_, fades_, *sink_, error);
    }

    bool StartTransition(std::string* error) {
        PlannedTransition& tr = plan_.transitions[next_];
        const Placement& p = plan_.timeline.transitions[next_];
        host().Clip() = records_[size_t(p.clip)];
        if (int32_t code = tr.instance->Initialize(); code != kPluginOK) {
            *error = BundleFailure(tr.name, "Initialize", code);
            return false;
        }
        tavhost::SeedBundleRandom(tr.seed);
        provider_->SetTransition(&p);
        active_ = true;
        return true;
    }

    bool RenderFrame(int64_t t, std::string* error) {
        const SourceRef cutRef = plan_.timeline.HardCut(t);
        std::string readError;
        const media::Frame* cut = pool_->Frame(cutRef.clip, cutRef.index, &readError);
        if (!cut) {
            *error = "cannot read frame " + std::to_string(cutRef.index) + " of " +
                     plan_.clips[size_t(cutRef.clip)].label +
                     (readError.empty() ? "" : ": " + readError);
            return false;
        }
        // A copied frame's picture is the clip's own packet; outside a
        // transition a decoded picture the output takes as it is goes straight
        // on; otherwise it becomes pixels of the output frame.
        // Frames before the piece a render writes are only read (and drawn
        // by a transition under way), never written.
        const bool written = t >= plan_.piece.first;
        canvas_->Begin();
        const bool copied = !active_ && plan_.copy.CopiesFrame(t);
        const bool asItIs = !active_ && !copied && sink_->TakesAsItIs(cut->Yuv());
        // A transition composed in YUV wants the cut's pixels below it only
        // if it falls back to the world (Compose).
        if (written && !asItIs && !copied && canvas_->CutFirst(active_) &&
            !canvas_->DrawCut(*cut, FrameName(cutRef), error))
            return false;
        const OutputFormat& f = plan_.format;
        const size_t floats = size_t(media::FrameSampleStart(t + 1, f.fps, f.sound.rate) -
                                     media::FrameSampleStart(t, f.fps, f.sound.rate)) *
                              size_t(f.sound.channels);
        SoundChunk chunk{cutRef.clip, cutRef.index, cut->audio, written};
        if (!active_ && CopyableSound(plan_.clips[size_t(cutRef.clip)], *cut, floats)) {
            chunk.unchanged = true;
            chunk.anchors = cut->anchors;
        }
        chunk.decoded = cut->soundDecoded;
        chunk.samples.resize(floats, chunk.samples.empty() ? 0.0f : chunk.samples.back());

        if (active_ && !DrawTransitionFrame(t, floats, written, *cut, cutRef, chunk, error))
            return false;
        if (written && !WriteVideo(t, copied, asItIs, *cut, error)) return false;
        if (active_) {
            held_.push_back(std::move(chunk));
            const Placement& p = plan_.timeline.transitions[next_];
            if (t == p.start + p.frames - 1) return EndTransition(error);
        } else if (written && !EmitSound(chunk, error)) {
            return false;
        }
        return true;
    }

    // Frame t's picture to the sink: the clip's packet, its decoded picture as
    // it is, or the output frame's pixels. The sink counts from the piece's start.
    bool WriteVideo(int64_t t, bool copied, bool asItIs, const media::Frame& cut,
                    std::string* error) {
        if (copied) {
            // The clip's reader carries the packet this frame's place in
            // decode order takes, timed at its own picture's frame.
            const int clip = plan_.timeline.HardCut(t).clip;
            if (!cut.copied) {
                *error = "cannot copy frame " + std::to_string(t) + " from " +
                         plan_.clips[size_t(clip)].label + ": its packet was not read";
                return false;
            }
            const int64_t frame =
                cut.copiedFrame + plan_.timeline.clipStart[size_t(clip)] - plan_.piece.first;
            return sink_->CopyVideo(cut.copied->data, size_t(cut.copied->size), frame,
                                    cut.copied->flags & AV_PKT_FLAG_KEY, error);
        }
        if (const AVFrame* composed = canvas_->Composed()) return sink_->Video(composed, error);
        return asItIs ? sink_->Video(cut.Yuv(), error)
                      : sink_->Video(outMap_->baseAddr, outMap_->rowBytes / 4, error);
    }

    std::string FrameName(const SourceRef& ref) const {
        return "frame " + std::to_string(ref.index) + " of " + plan_.clips[size_t(ref.clip)].label;
    }

    bool DrawTransitionFrame(int64_t t, size_t floats, bool written, const media::Frame& cut,
                             const SourceRef& cutRef, SoundChunk& chunk, std::string* error) {
        PlannedTransition& tr = plan_.transitions[next_];
        const Placement& p = plan_.timeline.transitions[next_];
        const int32_t i = int32_t(t - p.start);
        host().ClearOutputAudio(floats);
        const Rect frameRect = {0, 0, int16_t(plan_.format.height), int16_t(plan_.format.width)};
        const int32_t code =
            tr.instance->DoFrame(int32_t(p.start), i, p.frames, frameRect, plan_.preview);
        if (code != kPluginOK) {
            *error = tr.name + ": DoFrame failed at transition frame " + std::to_string(i + 1) +
                     " of " + std::to_string(p.frames) + " with " + ResultName(code) +
                     (provider_->Error().empty() ? "" : " (" + provider_->Error() + ")");
            return false;
        }
        if (!canvas_->Compose(written, sheet_ != nullptr, cut, FrameName(cutRef), error))
            return false;
        for (const std::string& problem : host().Problems())
            if (problemsSeen_.insert(tr.name + ": " + problem).second)
                summary_->warnings.push_back(tr.name + ": " + problem);
        host().ClearProblems();
        // A frame the plug-in mixed no sound into keeps the cut's sound.
        if (host().MixCount() > 0) chunk.samples = host().OutputAudio();
        if (!p.Between()) chunk.clip = p.clip;
        if (sheet_) sheet_->Offer(next_, i, *outMap_);
        return true;
    }

    // The transition is complete: Terminate tells the clip's fades, and the
    // sound held since the transition began goes out with them.
    bool EndTransition(std::string* error) {
        PlannedTransition& tr = plan_.transitions[next_];
        const Placement& p = plan_.timeline.transitions[next_];
        tr.instance->Terminate(p.frames);
        const size_t clip = size_t(p.clip);
        records_[clip] = host().Clip();
        fades_[clip] = Fade::FromClipRecord(records_[clip], plan_.clips[clip].frames);
        tr.instance.reset();
        provider_->SetTransition(nullptr);
        active_ = false;
        ++next_;
        for (SoundChunk& c : held_)
            if (c.written && !EmitSound(c, error)) return false;
        held_.clear();
        return true;
    }

    bool EmitSound(SoundChunk& chunk, std::string* error) {
        const OutputFormat& f = plan_.format;
        const Fade& fade = fades_[size_t(chunk.clip)];
        const int samples = int(chunk.samples.size() / size_t(f.sound.channels));
        if (chunk.unchanged && !fade.Touches(chunk.clipIndex, f.fps, f.sound.rate, samples))
            return sink_->ClipAudio(
                chunk.samples.data(), samples,
                media::SoundOrigin{chunk.clip, std::move(chunk.anchors), chunk.decoded}, error);
        if (!chunk.decoded) {
            // Only a plug-in's fade reaching deep into copied pictures gets here.
            *error = "the sound of " + plan_.clips[size_t(chunk.clip)].label + " at frame " +
                     std::to_string(chunk.clipIndex) +
                     " was to be copied, but a fade changes it; render without --copy-unchanged";
            return false;
        }
        fade.Apply(chunk.clipIndex, f.fps, f.sound, chunk.samples);
        return sink_->Audio(chunk.samples.data(), samples, error);
    }

    // What decoding found wrong in the clips closed so far, once each, in our words.
    bool ReportDamage(std::string* error) {
        const std::vector<media::Damage>& found = pool_->Damage();
        for (size_t i = reported_.size(); i < found.size(); ++i) reported_.push_back(false);
        for (size_t i = 0; i < found.size(); ++i) {
            const media::Damage& d = found[i];
            if (reported_[i] || !d.Any()) continue;
            reported_[i] = true;
            std::string text = DamageReport(plan_.clips[i].label, d);
            if (plan_.strict) {
                *error = text + " (--strict)";
                return false;
            }
            summary_->warnings.push_back(text);
        }
        return true;
    }

    // FFmpeg cannot read back a Matroska file that holds no packets: the movie
    // of an empty part holds one black picture, which the join leaves out.
    bool PlaceholderPicture(std::string* error) {
        const Piece& piece = plan_.piece;
        if (piece.count == 0 || piece.first != piece.end || !sink_->TakesDecodedPictures())
            return true;
        const size_t row = size_t(outMap_->rowBytes / 4);
        std::fill(outMap_->baseAddr, outMap_->baseAddr + row * size_t(plan_.format.height),
                  0xFF000000u);
        return sink_->Video(outMap_->baseAddr, int(row), error);
    }

    // The movie and the sheet are complete before either is moved into place.
    bool Finish(std::string* error) {
        pool_->CloseAll(plan_.piece.end);
        if (!ReportDamage(error)) return false;
        if (!PlaceholderPicture(error)) return false;
        if (!sink_->Finish(error)) return false;
        if (sheet_ && !sheet_->Save(error)) return false;
        if (!sink_->Commit(error)) return false;
        if (sheet_ && !sheet_->Commit(error)) return false;
        const Timeline& tl = plan_.timeline;
        summary_->frames = plan_.piece.end - plan_.piece.first;
        summary_->clips = int(plan_.clips.size());
        summary_->transitions = int(tl.transitions.size());
        if (!tl.transitions.empty()) {
            summary_->transitionFrames = tl.transitions[0].frames;
            summary_->transitionStart = tl.transitions[0].start;
        }
        summary_->seed = plan_.seed;
        summary_->copiedFrames = plan_.copy.CopiedFrames();
        summary_->copiedSoundSeconds =
            double(sink_->CopiedSoundPackets()) * media::kPacketSamples / plan_.format.sound.rate;
        return true;
    }

    Sequence& plan_;
    RenderSummary* summary_;
    std::unique_ptr<ClipPool> pool_;
    std::unique_ptr<TimelineFrames> provider_;
    std::unique_ptr<FrameCanvas> canvas_;
    std::vector<TavPluginClipInfo> records_;  // each clip's settings, as plug-ins left them
    std::vector<Fade> fades_;
    PixMap* outMap_ = nullptr;
    std::unique_ptr<Sink> sink_;
    std::unique_ptr<ContactSheet> sheet_;
    size_t next_ = 0;      // the transition under way or next to come
    bool active_ = false;  // transition next_ is under way
    std::deque<SoundChunk> held_;
    std::set<std::string> problemsSeen_;
    std::vector<bool> reported_;
};

}  // namespace

bool RenderSequence(Sequence& sequence, RenderSummary* summary, Error* error) {
    SequenceRender render(sequence, summary);
    return render.Run(error);
}

}  // namespace tavhost

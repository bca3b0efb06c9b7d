// The render loop: every output frame of the sequence, in order; the
// transition's frames drawn by the plug-in over the hard cut's picture.
#include "render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <random>
#include <set>

#include "clip_sound.h"
#include "contact_sheet.h"
#include "instance.h"
#include "loaded_bundle.h"
#include "media.h"
#include "output_safety.h"
#include "placement.h"
#include "progress.h"
#include "sinks.h"
#include "tav/mac_roman.h"
#include "timeline_frames.h"
#include "variants.h"

namespace tavhost {

std::atomic<bool> gInterrupted{false};

namespace {

bool CheckVariant(const Bundle& bundle, const RenderJob& job, std::string* error) {
    std::vector<VariantInfo> variants;
    if (!DescribeVariants(bundle, job.speed, &variants, error)) return false;
    if (std::any_of(variants.begin(), variants.end(),
                    [&](const VariantInfo& v) { return v.which == job.variant; }))
        return true;
    *error = bundle.Name() + " has no variant " + std::to_string(job.variant) +
             " (it has variants 1 to " +
             std::to_string(variants.empty() ? 0 : variants.back().which) + ")";
    return false;
}

std::string SheetTitle(const RenderJob& job, const std::string& bundle, int32_t frames) {
    return bundle + "  variant " + std::to_string(job.variant) + "  speed " +
           std::to_string(job.speed).substr(0, 4) + "  " + std::to_string(frames) + " frames";
}

// One render: what it reads, the instance it drives and where it writes.
class SequenceRender {
  public:
    SequenceRender(const RenderJob& job, RenderSummary* summary) : job_(job), summary_(summary) {}

    bool Run(std::string* error) {
        if (!CheckOutputs(error)) return false;
        bundle_ = Bundle::Open(job_.bundle, error);
        // A bundle name that names no bundle is a bad value; a file that is
        // no bundle is a failure.
        if (!bundle_) return job_.bundle.find('/') == std::string::npos ? Mistake() : false;
        if (!CheckVariant(*bundle_, job_, error)) {
            summary_->usageMistake = true;
            return false;
        }
        if (!OpenClips(error)) return false;

        host_ = std::make_unique<Host>(
            AudioLayout{sound_.rate, sound_.channels, int32_t(sound_.rate * fps_.den / fps_.num)},
            FrameRate{fps_.num, fps_.den});
        if (!job_.caption.empty())
            host_->SetString(kTavPlaceholderStringList, 1, tav::Utf8ToMacRoman(job_.caption));
        inst_ = std::make_unique<TransitionInstance>(*bundle_, *host_, job_.variant);
        if (!Start(error) || !OpenOutputs(error)) return false;
        if (!RenderFrames(error)) return false;
        return Finish(error);
    }

    ~SequenceRender() {
        // The instance goes first: its Terminate still calls into the host.
        inst_.reset();
        host_.reset();
    }

  private:
    // Before any work: outputs tavhost can write, none of them an input or
    // another output.
    bool CheckOutputs(std::string* error) {
        const std::string clash = OutputClash(job_.clips, {job_.output, job_.contactSheet});
        if (!clash.empty()) {
            *error = clash;
            return Mistake();
        }
        if (!CheckOutput(job_.output, error)) return Mistake();
        if (!job_.contactSheet.empty() &&
            media::ImageFormatOf(job_.contactSheet) == media::ImageFormat::kNone) {
            *error =
                "cannot write the contact sheet '" + job_.contactSheet + "': name it .png or .jpg";
            return Mistake();
        }
        return true;
    }

    bool Mistake() {
        summary_->usageMistake = true;
        return false;
    }

    // The output takes the first clip's display size (square pixels, turned
    // upright), made even for the encoder by a black edge, and its rate.
    bool OpenClips(std::string* error) {
        std::vector<media::ClipInfo> infos(job_.clips.size());
        for (size_t i = 0; i < job_.clips.size(); ++i) {
            if (!media::Probe(job_.clips[i], &infos[i], error)) return false;
            if (infos[i].hdr)
                summary_->warnings.push_back("clip '" + job_.clips[i] +
                                             "' is HDR (PQ or HLG): the output is 8-bit SDR, so "
                                             "its colours will look flat");
        }
        fps_ = infos[0].fps;
        // The first clip's sound format, where the output's encoder takes it.
        const bool webm = std::filesystem::path(job_.output).extension() == ".webm";
        sound_ = media::SoundFormatFor(webm ? "webm" : "", infos[0].sound);
        width_ = job_.width > 0 ? job_.width : infos[0].width;
        height_ = job_.height > 0 ? job_.height : infos[0].height;
        width_ = std::min(width_ + (width_ & 1), 16384);
        height_ = std::min(height_ + (height_ & 1), 16384);
        media::ClipReader::Options options;
        options.width = width_;
        options.height = height_;
        options.fps = fps_;
        options.sound = sound_;
        options.fit = job_.fit;
        options.stillSeconds = job_.stillSeconds;
        options.fastScaling = job_.preview;
        options.cancel = &gInterrupted;
        for (size_t i = 0; i < job_.clips.size() && i < 2; ++i) {
            readers_.push_back(media::ClipReader::Open(job_.clips[i], infos[i], options, error));
            if (!readers_.back()) return false;
            clipFrames_.push_back(readers_.back()->FrameCount());
        }
        return true;
    }

    // What decoding found wrong in the clips, once, in our words.
    bool ReportDamage(std::string* error) {
        for (size_t i = 0; i < readers_.size(); ++i) {
            const media::Damage d = readers_[i]->DamageFound();
            if (!d.Any()) continue;
            char at[32];
            std::snprintf(at, sizeof at, "%d:%05.2f", int(d.firstAt / 60),
                          std::fmod(std::max(0.0, d.firstAt), 60.0));
            std::string text = "clip '" + job_.clips[i] + "' is damaged" +
                               (d.firstAt >= 0 ? std::string(" from ") + at : std::string());
            if (d.cutShort) text += " (the file is cut short)";
            text += d.lostFrames > 0
                        ? ": " + std::to_string(d.lostFrames) +
                              " pictures are missing or could not be decoded; the nearest good "
                              "picture stands in for them"
                        : ": some of it could not be decoded";
            if (job_.strict) {
                *error = text + " (--strict)";
                return false;
            }
            summary_->warnings.push_back(text);
        }
        return true;
    }

    // GetInfo, placement and Initialize.
    bool Start(std::string* error) {
        TransitionTiming timing;
        if (int32_t code = inst_->Describe(job_.speed, &timing); code != kPluginOK) {
            *error = BundleFailure(bundle_->Name(), "GetInfo", code);
            return false;
        }
        if (!Place(timing, bundle_->Name(), clipFrames_, &place_, &summary_->warnings, error))
            return false;
        if (place_.Between() && timing.frames == TransitionTiming::kUnsetFrames)
            summary_->warnings.push_back(bundle_->Name() + " variant " +
                                         std::to_string(job_.variant) +
                                         " draws no picture of its own: the clips meet in a "
                                         "plain cut");
        inst_->SetLength(place_.frames);
        InitClipRecord(host_->Clip(), job_.clips[0], clipFrames_[0]);
        if (int32_t code = inst_->Initialize(); code != kPluginOK) {
            *error = BundleFailure(bundle_->Name(), "Initialize", code);
            return false;
        }
        provider_ = std::make_unique<TimelineFrames>(place_, readers_);
        host_->SetProvider(provider_.get());
        return true;
    }

    bool OpenOutputs(std::string* error) {
        GWorldPtr out = host_->EnsureOutputWorld(width_, height_);
        if (!out) {
            *error = "out of memory for a " + std::to_string(width_) + "x" +
                     std::to_string(height_) + " frame";
            return false;
        }
        outMap_ = *GetGWorldPixMap(out);
        SinkOptions options;
        options.width = width_;
        options.height = height_;
        options.fps = fps_;
        options.sound = sound_;
        options.preset = job_.preset;
        options.crf = job_.crf;
        sink_ = OpenSink(job_.output, options, error);
        if (!sink_) return false;
        if (!job_.contactSheet.empty())
            sheet_ =
                std::make_unique<ContactSheet>(job_.contactSheet, width_, height_, place_.frames,
                                               SheetTitle(job_, bundle_->Name(), place_.frames));
        return true;
    }

    bool RenderFrames(std::string* error) {
        summary_->seed = job_.seed ? *job_.seed : std::random_device{}();
        std::srand(summary_->seed);
        Progress progress(place_.total, job_.quiet);
        for (int64_t t = 0; t < place_.total; ++t) {
            if (gInterrupted) {
                *error = "interrupted";
                return false;
            }
            if (!RenderFrame(t, error)) return false;
            progress.Update(t + 1);
        }
        progress.Done();
        return EndTransition(error);
    }

    bool RenderFrame(int64_t t, std::string* error) {
        const SourceRef cutRef = place_.HardCut(t);
        std::string readError;
        const media::Frame* cut = readers_[size_t(cutRef.clip)]->Get(cutRef.index, &readError);
        if (!cut) {
            *error = "cannot read frame " + std::to_string(cutRef.index) + " of '" +
                     job_.clips[size_t(cutRef.clip)] + "'" +
                     (readError.empty() ? "" : ": " + readError);
            return false;
        }
        DrawFrameInto(*cut, *outMap_, false);
        const size_t floats = size_t(media::FrameSampleStart(t + 1, fps_, sound_.rate) -
                                     media::FrameSampleStart(t, fps_, sound_.rate)) *
                              size_t(sound_.channels);
        SoundChunk chunk{cutRef.clip, cutRef.index, cut->audio};
        chunk.samples.resize(floats, chunk.samples.empty() ? 0.0f : chunk.samples.back());

        if (place_.InTransition(t)) {
            holding_ = true;
            if (!DrawTransitionFrame(int32_t(t - place_.start), floats, chunk, error)) return false;
        }
        if (!sink_->Video(outMap_->baseAddr, outMap_->rowBytes / 4, error)) return false;
        if (holding_) {
            held_.push_back(std::move(chunk));
        } else if (!EmitSound(chunk, error)) {
            return false;
        }
        if (t == place_.start + place_.frames - 1) return EndTransition(error);
        return true;
    }

    bool DrawTransitionFrame(int32_t i, size_t floats, SoundChunk& chunk, std::string* error) {
        host_->ClearOutputAudio(floats);
        const Rect frameRect = {0, 0, int16_t(height_), int16_t(width_)};
        const int32_t code =
            inst_->DoFrame(int32_t(place_.start), i, place_.frames, frameRect, job_.preview);
        if (code != kPluginOK) {
            *error = bundle_->Name() + ": DoFrame failed at transition frame " +
                     std::to_string(i + 1) + " of " + std::to_string(place_.frames) + " with " +
                     ResultName(code) +
                     (provider_->Error().empty() ? "" : " (" + provider_->Error() + ")");
            return false;
        }
        for (const std::string& problem : host_->Problems())
            if (problemsSeen_.insert(problem).second)
                summary_->warnings.push_back(bundle_->Name() + ": " + problem);
        host_->ClearProblems();
        // A frame the plug-in mixed no sound into keeps the cut's sound.
        if (host_->MixCount() > 0) chunk.samples = host_->OutputAudio();
        if (!place_.Between()) chunk.clip = 0;
        if (sheet_) sheet_->Offer(i, *outMap_);
        return true;
    }

    // The transition is complete: Terminate tells the clip's fades, and the
    // sound held since the transition began goes out with them.
    bool EndTransition(std::string* error) {
        if (!holding_ && !inst_->TerminateOwed()) return true;
        inst_->Terminate(place_.frames);
        fades_[0] = Fade::FromClipRecord(host_->Clip(), clipFrames_[0]);
        holding_ = false;
        for (SoundChunk& c : held_)
            if (!EmitSound(c, error)) return false;
        held_.clear();
        return true;
    }

    bool EmitSound(SoundChunk& chunk, std::string* error) {
        fades_[chunk.clip].Apply(chunk.clipIndex, fps_, sound_, chunk.samples);
        return sink_->Audio(chunk.samples.data(),
                            int(chunk.samples.size() / size_t(sound_.channels)), error);
    }

    // The movie and the sheet are complete before either is moved into place.
    bool Finish(std::string* error) {
        if (!ReportDamage(error)) return false;
        if (!sink_->Finish(error)) return false;
        if (sheet_ && !sheet_->Save(error)) return false;
        if (!sink_->Commit(error)) return false;
        if (sheet_ && !sheet_->Commit(error)) return false;
        summary_->frames = place_.total;
        summary_->transitionFrames = place_.frames;
        summary_->transitionStart = place_.start;
        return true;
    }

    const RenderJob& job_;
    RenderSummary* summary_;
    std::unique_ptr<Bundle> bundle_;
    media::Rational fps_;
    media::SoundFormat sound_;
    int width_ = 0, height_ = 0;
    std::vector<std::unique_ptr<media::ClipReader>> readers_;
    std::vector<int64_t> clipFrames_;
    std::unique_ptr<Host> host_;
    std::unique_ptr<TransitionInstance> inst_;
    Placement place_;
    std::unique_ptr<TimelineFrames> provider_;
    PixMap* outMap_ = nullptr;
    std::unique_ptr<Sink> sink_;
    std::unique_ptr<ContactSheet> sheet_;
    Fade fades_[2];
    std::deque<SoundChunk> held_;
    bool holding_ = false;
    std::set<std::string> problemsSeen_;
};

}  // namespace

bool Render(const RenderJob& job, RenderSummary* summary, std::string* error) {
    const auto started = std::chrono::steady_clock::now();
    if (!(job.speed >= 0.0f && job.speed <= 1.0f)) {
        *error = "speed must be between 0 and 1";
        return false;
    }
    if (job.clips.empty()) {
        *error = "no clip given";
        return false;
    }
    SequenceRender render(job, summary);
    if (!render.Run(error)) return false;
    summary->seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return true;
}

}  // namespace tavhost

#include "sequence_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>

#include "edit_file.h"
#include "image_io.h"
#include "movie_writer.h"
#include "output_safety.h"
#include "part_identity.h"
#include "picture_convert.h"
#include "render_defaults.h"
#include "sinks.h"
#include "tav/mac_roman.h"
#include "user_text.h"
#include "variants.h"

namespace tavhost {

namespace {

constexpr int32_t kUnset = TransitionTiming::kUnsetFrames;

// The length GetInfo gives, as placement reads it.
int64_t Length(const TransitionTiming& t) {
    if (t.frames != kUnset) return t.frames;
    return t.type == kPluginTransitionBetweenType ? int64_t(t.takeBefore) + t.takeAfter : 0;
}

}  // namespace

std::string SequencePlan::Where(const std::string& where) const {
    return edit.source.empty() ? where : "edit file " + Quoted(edit.source) + ": " + where;
}

bool SequencePlan::Make(const RenderJob& job, std::vector<std::string>* warnings, Error* error) {
    if (!ReadEdit(job, error) || !CheckOutputs(job, error)) return false;
    // A preview copies what it can unless told not to, and says nothing of
    // what it cannot.
    copying = settings.copyUnchanged.value_or(job.preview);
    // Copied pictures are not decoded, so damage inside them could not be
    // seen: --strict decodes, and so checks, every picture.
    if (copying && job.strict) {
        if (settings.copyUnchanged.value_or(false))
            warnings->push_back(
                "--strict checks every picture by decoding it, so none is copied "
                "(--copy-unchanged is set aside)");
        copying = false;
    }
    if (!ProbeClips(warnings, error)) return false;
    ChooseFormat();
    if (!media::EncoderTakesSize(format.width, format.height)) {
        error->text = (settings.width > 0 ? "--size " : "the first clip's size ") +
                      std::to_string(format.width) + "x" + std::to_string(format.height) +
                      " is more than the encoder takes: (width + 128) x (height + 128) must stay "
                      "under 268435456, as 16384x16000 does";
        return UsageMistake(error);
    }
    for (size_t i = 0; i < clips.size(); ++i) {
        media::ClipReader::Options& o = clips[i].options;
        o.output = format;
        o.matrix = matrix;
        o.fit = settings.fit.value_or(media::Fit::kPad);
        o.fastScaling = job.preview;
        if (!Trim(clips[i], edit.clips[i], error)) return UsageMistake(error);
    }
    host = std::make_unique<Host>(format);
    if (!job.caption.empty())
        host->SetString(kTavPlaceholderStringList, 1, tav::Utf8ToMacRoman(job.caption));
    if (edit.source.empty() && !PlaceCommandLineBundle(job, error)) return false;
    if (!Lay(job, warnings, error)) return false;
    // A preview trades picture quality for time: x264's fastest preset.
    encoding.preset =
        settings.preset.value_or(job.preview ? defaults::kPreviewPreset : defaults::kPreset);
    encoding.crf = settings.crf.value_or(defaults::kCrf);
    encoding.container = settings.container.value_or("");
    std::vector<std::string> notes;
    if (copying) PlanCopy(&notes);
    piece = {0, timeline.total, 0};
    if (job.part.count > 0) ChoosePiece(job.part);
    if (copy.Copies()) PlanSoundCopy();
    if (settings.copyUnchanged.value_or(false))
        warnings->insert(warnings->end(), notes.begin(), notes.end());
    preview = job.preview;
    strict = job.strict;
    quiet = job.quiet;
    contactSheet = job.contactSheet;
    return true;
}

bool SequencePlan::ReadEdit(const RenderJob& job, Error* error) {
    settings = job.settings;
    output = job.output;
    if (job.editFile.empty()) {
        edit.clips = job.clips;
        edit.open = job.open;
        edit.close = job.close;
        // The command line's speed or length holds for every transition on it.
        for (auto* end : {&edit.open, &edit.close})
            if (*end) {
                (*end)->speed = job.transition.speed;
                (*end)->length = job.transition.length;
            }
        edit.joins.assign(job.clips.size() - 1, std::nullopt);
        return true;
    }
    if (!LoadEdit(job.editFile, &edit, &settings, &output, &error->text))
        return UsageMistake(error);
    if (output.empty()) {
        error->text = "no output given: -o OUT, or \"output\": {\"path\": ...} in the edit file";
        return UsageMistake(error);
    }
    return true;
}

// Outputs tavhost can write, none of them an input or another output.
bool SequencePlan::CheckOutputs(const RenderJob& job, Error* error) {
    std::vector<std::string> inputs;
    for (const ClipEntry& c : edit.clips) inputs.push_back(c.path);
    if (!job.editFile.empty()) inputs.push_back(job.editFile);
    const std::string clash = OutputClash(inputs, {output, job.contactSheet});
    if (!clash.empty()) {
        error->text = clash;
        return UsageMistake(error);
    }
    if (!ClassifyOutput(output, settings.container.value_or(""), &target, &error->text))
        return UsageMistake(error);
    if (!job.contactSheet.empty() &&
        media::ImageFormatOf(job.contactSheet) == media::ImageFormat::kNone) {
        error->text =
            "cannot write the contact sheet " + Quoted(job.contactSheet) + ": name it .png or .jpg";
        return UsageMistake(error);
    }
    if (job.part.count > 0 && target.kind == OutputTarget::Kind::kMovie &&
        (target.ToStandardOutput() || !target.Matroska())) {
        error->text =
            "--part writes a file for tavhost join: name it .mkv (a Matroska part keeps "
            "its sound exact), or a folder of PNG frames";
        return UsageMistake(error);
    }
    if (job.part.count > 0 && !job.contactSheet.empty()) {
        error->text = "--contact-sheet shows every transition: render it without --part";
        return UsageMistake(error);
    }
    return true;
}

bool SequencePlan::ProbeClips(std::vector<std::string>* warnings, Error* error) {
    std::map<std::string, std::shared_ptr<SpooledClip>> spooled;
    for (const ClipEntry& entry : edit.clips) {
        PlannedClip c;
        c.path = entry.path;
        c.label = entry.where.empty() ? "clip " + Quoted(entry.path) : Where(entry.where);
        auto named = [&](std::string* text) {
            if (!entry.where.empty()) *text = Where(entry.where) + ": " + *text;
        };
        // A clip that can be read only once is read once, into a file of ours.
        if (SpooledClip::NeedsSpool(entry.path)) {
            auto& spool = spooled[entry.path];
            if (!spool) {
                spool = std::make_shared<SpooledClip>();
                if (!spool->Spool(entry.path, &error->text)) {
                    named(&error->text);
                    return false;
                }
            }
            c.spool = spool;
            c.path = spool->Path();
            // Messages name the user's clip, never the copy.
            c.options.shown = entry.path == "-" ? "'-' (standard input)" : Quoted(entry.path);
        }
        if (copying) c.packets = std::make_unique<media::PacketIndex>();
        if (!media::Probe(c.path, &c.info, &error->text, c.packets.get(), c.options.shown)) {
            named(&error->text);
            return false;
        }
        if (!c.info.soundProblem.empty())
            warnings->push_back(c.label + ": its sound cannot be decoded (" + c.info.soundProblem +
                                "), so it is rendered silent");
        if (c.info.hdr)
            warnings->push_back(c.label +
                                " is HDR (PQ or HLG): it is tone-mapped to the output's SDR "
                                "BT.709 colours");
        clips.push_back(std::move(c));
    }
    return true;
}

const Bundle* SequencePlan::Load(const TransitionEntry& entry, Error* error) {
    auto& slot = bundles[entry.bundle];
    // An edit file is a document people share: its bundles are names, looked
    // up in the bundle folders, never files of its choosing. A path stays
    // possible on the command line, the user's own choice.
    const bool fromDocument = !edit.source.empty();
    if (!slot)
        slot = fromDocument ? Bundle::OpenByName(entry.bundle, &error->text)
                            : Bundle::Open(entry.bundle, &error->text);
    if (slot) return slot.get();
    bundles.erase(entry.bundle);
    if (!entry.where.empty()) error->text = Where(entry.where) + ".bundle: " + error->text;
    // A name that names no bundle is a bad value; a file that is no bundle is a failure.
    if (fromDocument || entry.bundle.find('/') == std::string::npos) error->usage = true;
    return nullptr;
}

bool SequencePlan::Describe(const TransitionEntry& entry, PlannedTransition* out,
                            TransitionRequest* request, Error* error) {
    const Bundle* bundle = Load(entry, error);
    if (!bundle) return false;
    out->bundle = bundle;
    out->where = entry.where;
    out->variant = entry.variant;
    out->speed = entry.speed;
    out->name = entry.where.empty() ? bundle->Name()
                : entry.where.rfind("--", 0) == 0
                    ? entry.where + " " + bundle->Name()
                    : Where(entry.where) + " (" + bundle->Name() + ")";
    out->instance = std::make_unique<TransitionInstance>(*bundle, *host, entry.variant);
    TransitionTiming timing;
    auto describe = [&](float speed) {
        const int32_t code = out->instance->Describe(speed, &timing);
        if (code != kPluginOK) error->text = BundleFailure(out->name, "GetInfo", code);
        return code == kPluginOK;
    };
    if (!describe(entry.speed)) return false;
    if (timing.type == kPluginUnknownType) {
        std::vector<VariantInfo> variants;
        DescribeVariants(*bundle, entry.speed, &variants, &error->text);
        error->text = out->name + " has no variant " + std::to_string(entry.variant) +
                      " (it has variants 1 to " +
                      std::to_string(variants.empty() ? 0 : variants.back().which) + ")";
        return UsageMistake(error);
    }
    if (entry.length) {
        // The slowest speed whose length reaches the one asked for; the
        // placement then cuts it to that length exactly.
        const int64_t wanted = entry.length->frames
                                   ? std::llround(entry.length->value)
                                   : std::llround(entry.length->value * format.fps.Value());
        const std::string where = entry.where.empty() ? "--length"
                                  : entry.where.rfind("--", 0) == 0
                                      ? entry.where + " --length"
                                      : Where(entry.where + ".length");
        if (wanted < 1) {
            error->text = where + ": shorter than one frame";
            return UsageMistake(error);
        }
        if (!describe(1.0f)) return false;
        if (Length(timing) < wanted) {
            error->text = where + ": " + std::to_string(wanted) + " frames is longer than " +
                          bundle->Name() + " makes (at most " + std::to_string(Length(timing)) +
                          ")";
            return UsageMistake(error);
        }
        float lo = 0.0f, hi = 1.0f;
        for (int step = 0; step < 24; ++step) {
            const float mid = (lo + hi) / 2;
            if (!describe(mid)) return false;
            (Length(timing) >= wanted ? hi : lo) = mid;
        }
        if (!describe(hi)) return false;
        out->speed = hi;
        request->length = int32_t(wanted);
        request->exact = true;
    }
    request->timing = timing;
    request->name = out->name;
    out->timing = timing;
    return true;
}

// The command line's bundle goes where its kind goes: at every join, or at
// the start or end of the one clip.
bool SequencePlan::PlaceCommandLineBundle(const RenderJob& job, Error* error) {
    TransitionEntry main = job.transition;
    main.seed.reset();  // every place gets the sequence's seed plus its number
    PlannedTransition probe;
    TransitionRequest request;
    if (!Describe(main, &probe, &request, error)) return false;
    const std::string& name = probe.name;
    const size_t count = edit.clips.size();
    switch (request.timing.type) {
        case kPluginTransitionBetweenType:
            if (count < 2) {
                error->text = name + " goes between two clips: give two clips or more";
                return UsageMistake(error);
            }
            for (auto& join : edit.joins) join = main;
            return true;
        case kPluginTransitionBeforeType:
        case kPluginTransitionAfterType: {
            const bool opens = request.timing.type == kPluginTransitionBeforeType;
            auto& place = opens ? edit.open : edit.close;
            if (count != 1 || place) {
                error->text = name + (opens ? " opens" : " closes") +
                              " one clip: give one clip, or give a between-clips bundle and " +
                              (opens ? "--open " : "--close ") + name;
                return UsageMistake(error);
            }
            place = main;
            return true;
        }
        default:
            error->text = name + " is not a transition (plug-in type " +
                          std::to_string(int(request.timing.type)) + ")";
            return false;
    }
}

// The seed of a render in parts given none: the same in every part, from
// what the render is made of.
uint32_t SequencePlan::PartSeed() const {
    std::string made;
    for (const PlannedClip& c : clips)
        made += std::filesystem::path(c.path).filename().string() + ":" + std::to_string(c.frames) +
                ";";
    for (const Placement& p : timeline.transitions)
        made += std::to_string(p.start) + "+" + std::to_string(p.frames) + ";";
    return uint32_t(Fnv1a(made));
}

bool SequencePlan::Lay(const RenderJob& job, std::vector<std::string>* warnings, Error* error) {
    TransitionRequests requests;
    std::map<int, PlannedTransition> bySlot;
    std::map<int, std::optional<uint32_t>> seedGiven;
    auto describe = [&](const TransitionEntry& entry, int slot,
                        std::optional<TransitionRequest>* r) {
        r->emplace();
        seedGiven[slot] = entry.seed;
        return Describe(entry, &bySlot[slot], &**r, error);
    };
    const int joins = int(edit.joins.size());
    if (edit.open && !describe(*edit.open, -1, &requests.open)) return false;
    requests.joins.resize(edit.joins.size());
    for (int j = 0; j < joins; ++j)
        if (edit.joins[size_t(j)] &&
            !describe(*edit.joins[size_t(j)], j, &requests.joins[size_t(j)]))
            return false;
    if (edit.close && !describe(*edit.close, joins, &requests.close)) return false;

    std::vector<int64_t> frames;
    for (const PlannedClip& c : clips) frames.push_back(c.frames);
    if (!LayOut(frames, requests, &timeline, warnings, &error->text)) return UsageMistake(error);
    seed = job.transition.seed  ? *job.transition.seed
           : job.part.count > 0 ? PartSeed()
                                : std::random_device{}();
    for (size_t k = 0; k < timeline.slots.size(); ++k) {
        PlannedTransition& t = bySlot[timeline.slots[k]];
        t.seed = seedGiven[timeline.slots[k]].value_or(seed + uint32_t(k));
        t.instance->SetLength(timeline.transitions[k].frames);
        transitions.push_back(std::move(t));
    }
    return true;
}

}  // namespace tavhost

// The plan's copy steps: which of the clips' pictures and sound go into
// the movie as their own packets, and, for a part, which runs are its own.
#include <algorithm>

#include "copy_choice.h"
#include "movie_format.h"
#include "sequence_plan.h"

namespace tavhost {

void SequencePlan::PlanCopy(std::vector<std::string>* warnings) {
    if (!target.CarriesH264()) {
        warnings->push_back(
            "--copy-unchanged: only an MP4, MOV or MKV movie takes copied H.264 pictures; "
            "every frame is encoded");
        return;
    }
    std::vector<CopyCandidate> candidates;
    for (const PlannedClip& c : clips)
        candidates.push_back({c.label, &c.info, &c.options, c.packets.get()});
    const CopyTarget target{format, matrix};
    copy = PlanCopies(candidates, timeline, target, warnings);
    if (copy.segments.empty()) return;
    // The encoder's spans between the copied pictures must keep the picture
    // buffer theirs keep: x264 is asked to, and its answer read here.
    const std::string why = media::SpanMismatch(
        {.format = format, .encoding = encoding},
        media::PassThrough{copy.sets, copy.encoderSetId, copy.reorderDelay, copy.dpb});
    if (!why.empty()) {
        warnings->push_back("the clips' pictures are encoded, not copied: " + why);
        copy = CopyPlan{};
    }
}

// The sound of each clip whose AAC packets decode as the movie's encoder's
// would (the same configuration) is copied where it goes in unchanged: its
// reader moves it by less than half a packet onto the movie's packet grid.
// That needs a whole number of samples a frame, so that a clip's sound lies
// at one offset throughout.
void SequencePlan::PlanSoundCopy() {
    if ((int64_t(format.sound.rate) * format.fps.den) % format.fps.num != 0) return;
    const media::AacConfig ours = media::AacConfigFor(format.sound);
    for (size_t c = 0; c < clips.size(); ++c) {
        PlannedClip& clip = clips[c];
        if (!clip.info.hasAudio || clip.info.still ||
            !media::SameAacConfig(clip.info.soundConfig, ours))
            continue;
        const int64_t start =
            media::FrameSampleStart(timeline.clipStart[c], format.fps, format.sound.rate);
        clip.options.soundGrid =
            int(((start % media::kPacketSamples) + media::kPacketSamples) % media::kPacketSamples);
        // A part decodes all its sound: its join decides what to copy.
        clip.options.skipCopiedSound = piece.count == 0;
        copy.sound = true;
    }
}

// Piece `part.index` of `part.count`, cut where no run of copied pictures is
// under way; runs outside it are not copied.
void SequencePlan::ChoosePiece(const RenderJob::Part& part) {
    auto outsideRuns = [this](int64_t t) {
        for (const CopySegment& s : copy.segments)
            if (t > s.start && t < s.start + s.frames) return false;
        return true;
    };
    piece = CutIntoPieces(timeline, part.count, outsideRuns)[size_t(part.index - 1)];
    piece.index = part.index;
    piece.count = part.count;
    copy.partOfCopy = !copy.segments.empty();
    std::erase_if(copy.segments, [this](const CopySegment& s) {
        return s.start + s.frames <= piece.first || s.start >= piece.end;
    });
}

}  // namespace tavhost

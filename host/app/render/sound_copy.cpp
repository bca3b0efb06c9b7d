#include "sound_copy.h"

#include <algorithm>

namespace tavhost {

bool CopyableSound(const PlannedClip& clip, const media::Frame& cut, size_t floats) {
    return clip.options.soundGrid >= 0 && cut.audio.size() == floats;
}

bool NoteSoundAfter(const Sequence& plan, ClipPool& pool, const std::vector<Fade>& fades,
                    Sink& sink, std::string* error) {
    const OutputFormat& f = plan.format;
    const Timeline& tl = plan.timeline;
    if (plan.piece.count == 0) return true;
    const int64_t until =
        media::FrameSampleStart(plan.piece.end, f.fps, f.sound.rate) + 2 * media::kPacketSamples;
    for (int64_t t = plan.piece.end;
         t < tl.total && media::FrameSampleStart(t, f.fps, f.sound.rate) < until; ++t) {
        const int samples = int(media::FrameSampleStart(t + 1, f.fps, f.sound.rate) -
                                media::FrameSampleStart(t, f.fps, f.sound.rate));
        const bool inTransition =
            std::any_of(tl.transitions.begin(), tl.transitions.end(),
                        [t](const Placement& p) { return t >= p.start && t < p.start + p.frames; });
        const SourceRef ref = tl.HardCut(t);
        const PlannedClip& clip = plan.clips[size_t(ref.clip)];
        std::string readError;
        const media::Frame* cut =
            inTransition ? nullptr : pool.Frame(ref.clip, ref.index, &readError);
        const bool copyable =
            cut && CopyableSound(clip, *cut, size_t(samples) * size_t(f.sound.channels)) &&
            !fades[size_t(ref.clip)].Touches(ref.index, f.fps, f.sound.rate, samples);
        const media::SoundOrigin origin{
            ref.clip, copyable ? cut->anchors : std::vector<media::SoundAnchor>{}};
        if (!sink.SoundAfter(samples, copyable ? &origin : nullptr, error)) return false;
    }
    return true;
}

}  // namespace tavhost

#include "clip_sound.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "tav/mac_roman.h"

namespace tavhost {

void InitClipRecord(TavPluginClipInfo& clip, const std::string& path, int64_t frames) {
    std::memset(&clip, 0, sizeof clip);
    clip.volume = 255;
    const std::string name = tav::Utf8ToMacRoman(std::filesystem::path(path).filename().string());
    std::strncpy(clip.name, name.c_str(), sizeof clip.name - 1);
    clip.ver2.frameSpeed = 100;
    clip.ver4.clipRef.clipType = kRefRegularClipType;
    std::strncpy(clip.ver4.clipRef.name, name.c_str(), sizeof clip.ver4.clipRef.name - 1);
    clip.ver4.clipRef.frameCount = int32_t(std::min<int64_t>(frames, INT32_MAX));
    clip.ver4.clipRef.out = clip.ver4.clipRef.frameCount;
}

Fade Fade::FromClipRecord(const TavPluginClipInfo& clip, int64_t clipFrames) {
    Fade f;
    f.clipFrames = clipFrames;
    f.in = clip.fadeIn != 0 && clip.ver2.fadeInFrames > 0;
    f.inFrames = std::min<int64_t>(clip.ver2.fadeInFrames, clipFrames);
    f.out = clip.fadeOut != 0 && clip.ver2.fadeOutFrames > 0;
    f.outFrames = std::min<int64_t>(clip.ver2.fadeOutFrames, clipFrames);
    return f;
}

void Fade::Apply(int64_t clipIndex, media::Rational fps, media::SoundFormat sound,
                 std::vector<float>& samples) const {
    if (!in && !out) return;
    const int channels = sound.channels;
    const int64_t first = media::FrameSampleStart(clipIndex, fps, sound.rate);
    const int64_t inLen = in ? media::FrameSampleStart(inFrames, fps, sound.rate) : 0;
    const int64_t end = media::FrameSampleStart(clipFrames, fps, sound.rate);
    const int64_t outStart =
        out ? media::FrameSampleStart(clipFrames - outFrames, fps, sound.rate) : end;
    for (size_t s = 0; s < samples.size() / size_t(channels); ++s) {
        const int64_t pos = first + int64_t(s);
        double gain = 1.0;
        if (inLen > 0 && pos < inLen) gain *= double(pos) / double(inLen);
        if (out && pos >= outStart && end > outStart)
            gain *= std::max(0.0, double(end - pos) / double(end - outStart));
        for (int c = 0; c < channels; ++c) samples[s * size_t(channels) + size_t(c)] *= float(gain);
    }
}

bool Fade::Touches(int64_t clipIndex, media::Rational fps, int rate, int64_t samples) const {
    const int64_t first = media::FrameSampleStart(clipIndex, fps, rate);
    if (in && first < media::FrameSampleStart(inFrames, fps, rate)) return true;
    return out && first + samples > media::FrameSampleStart(clipFrames - outFrames, fps, rate);
}

}  // namespace tavhost

// The format of what a host makes: the picture's size, the frame rate and the
// sound's, one value every stage of a render is made for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavhost {

struct Rational {
    int num = 30;
    int den = 1;
    double Value() const { return double(num) / double(den); }
};

// Sound travels as interleaved float samples: by default 48 kHz stereo.
constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
struct SoundFormat {
    int rate = kSampleRate;
    int channels = kChannels;
};

struct OutputFormat {
    int width = 0;
    int height = 0;
    Rational fps;
    SoundFormat sound;

    // One frame's sound before the first output frame sets its own length.
    int32_t SamplesPerFrame() const {
        return fps.num > 0 ? int32_t(int64_t(sound.rate) * fps.den / fps.num) : 0;
    }
    size_t FloatsPerFrame() const { return size_t(SamplesPerFrame()) * size_t(sound.channels); }
};

}  // namespace tavhost

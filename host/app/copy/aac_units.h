// What copying AAC packets from one stream into another needs to read of
// them: the stream's configuration and each packet's window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecParameters;

namespace tavhost::media {

// How an AAC packet's transform is windowed. A packet's window overlaps the
// one before it with its first half and the next one with its second; where
// two packets from different encoders meet, both halves must be long ones of
// the same shape, in every channel, for the overlap to cancel.
struct AacWindow {
    bool known = false;
    int sequence = 0;  // 0 long, 1 long start, 2 eight short, 3 long stop
    int shape = 0;     // 0 sine, 1 Kaiser-Bessel derived
    bool LongFirstHalf() const { return known && (sequence == 0 || sequence == 1); }
    bool LongSecondHalf() const { return known && (sequence == 0 || sequence == 3); }
};
// The window of a packet of a stream of `channels`: known only where it is
// every channel's, a mono packet's one channel or a stereo pair's common
// window. A pair windowed each channel on its own, or a stream of more
// channels (whose further elements could be read only by parsing the
// spectral data before them), is not known, and so never spliced.
AacWindow WindowOf(const uint8_t* data, size_t size, int channels);

// What decides whether an AAC stream's packets decode as another's: object
// type, rate, channels and frame length, in the configuration's bytes.
struct AacConfig {
    bool aac = false;
    int rate = 0, channels = 0;
    std::vector<uint8_t> bytes;  // the AudioSpecificConfig
};
AacConfig AacConfigOf(const AVCodecParameters& stream);

// Whether two configurations are the same (an extension after the first
// two bytes absent from one, or the same in both).
bool SameAacConfig(const AacConfig& a, const AacConfig& b);

}  // namespace tavhost::media

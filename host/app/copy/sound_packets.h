// The clips' compressed sound packets, for a movie that copies them where
// the clips' sound goes into it unchanged: found by timestamp, read forwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "av_util.h"

struct AVCodecParameters;

namespace tavhost {

// How an AAC packet's transform is windowed, from its first channel
// element. A packet's window overlaps the one before it with its first half
// and the next one with its second; where two packets from different
// encoders meet, both halves must be long ones of the same shape for the
// overlap to cancel.
struct AacWindow {
    bool known = false;
    int sequence = 0;  // 0 long, 1 long start, 2 eight short, 3 long stop
    int shape = 0;     // 0 sine, 1 Kaiser-Bessel derived
    bool LongFirstHalf() const { return known && (sequence == 0 || sequence == 1); }
    bool LongSecondHalf() const { return known && (sequence == 0 || sequence == 3); }
};
AacWindow WindowOf(const uint8_t* data, size_t size);

// Whether a stream's AAC configuration is `ours` (object type, rate,
// channels, frame length; an extension after them absent or the same).
bool SameAacConfig(const AVCodecParameters& stream, const AVCodecParameters& ours);

// Where a movie finds the compressed packets of the clips' sound.
class SoundSource {
  public:
    virtual ~SoundSource() = default;
    // Marks the clips whose sound a decoder set up for `ours` (the movie's
    // AAC stream) decodes as the clip's own. Returns whether any is marked.
    virtual bool Accept(const AVCodecParameters& ours) = 0;
    virtual bool Copies(int clip) const = 0;
    // Clip `clip`'s sound packet with timestamp `pts`, left in `out` (data
    // only). False when there is no such packet or it cannot be read.
    virtual bool Packet(int clip, int64_t pts, AVPacket* out) = 0;
};

// The clips' own files: packets found by the timestamp the clip gives them.
class SoundPackets : public SoundSource {
  public:
    explicit SoundPackets(std::vector<std::string> paths) : paths_(std::move(paths)) {}

    // AAC in raw packets with our configuration.
    bool Accept(const AVCodecParameters& ours) override;
    bool Copies(int clip) const override {
        return clip >= 0 && size_t(clip) < copies_.size() && copies_[size_t(clip)];
    }
    bool Packet(int clip, int64_t pts, AVPacket* out) override;

  private:
    bool Open(int clip);

    std::vector<std::string> paths_;
    std::vector<bool> copies_;
    int open_ = -1;
    int stream_ = -1;
    media::InputPtr input_;
    media::PacketPtr pkt_{media::Allocated(av_packet_alloc())};
    int64_t last_ = INT64_MIN;  // the timestamp of the last packet read
};

}  // namespace tavhost

// A part of a copying render keeps, beside its exact sound, the clip packets
// its sound could be copied from: one AAC stream for the clips at even
// places in the sequence and one for the odd, so that its join copies what
// the render in one piece copies.
#pragma once

#include <cstdint>
#include <string>

#include "av_util.h"
#include "muxer.h"
#include "sound_origins.h"

namespace tavhost::media {

class ClipPacketRecorder {
  public:
    // Packets of `chunk` samples of `sound`; the part's first sample is the
    // render's `soundStart`.
    ClipPacketRecorder(Muxer& muxer, SoundFormat sound, int chunk, int64_t soundStart)
        : muxer_(muxer), sound_(sound), origins_(chunk, soundStart, sound.channels) {}
    // The two streams, described as the join's AAC encoder opens its own.
    bool Open(std::string* error);
    // `samples` more of the part's sound (or just past its end), from
    // `origin` when it is a clip's unchanged.
    bool Record(int samples, const SoundOrigin* origin, std::string* error);

  private:
    Muxer& muxer_;
    SoundFormat sound_;
    SoundOrigins origins_;
    AVStream* streams_[2] = {nullptr, nullptr};
    PacketPtr pkt_{Allocated(av_packet_alloc())};
};

}  // namespace tavhost::media

// Copying the clips' AAC sound where it goes into the movie unchanged, and
// encoding the rest in stretches spliced between the copied packets.
//
// The sound goes out in blocks of one packet, each decided by the splice
// rules (AacSplice) once a few blocks after it are here. A block copied is
// the clip's own packet. The others are encoded in stretches, each by an
// encoder of its own that starts well before them (its lead-in) and is
// given two blocks past its end: its packets on either side of a copied one
// are made from the sound the copied packet overlaps with, as an encoder
// running through would make them. The packets for the lead-in (and the
// encoder's priming one) and those past the end are not written.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "aac_splice.h"
#include "sound_origins.h"
#include "sound_track.h"

namespace tavhost::media {

class SoundSplicer {
  public:
    // Splices into `track` (AAC); the movie's first sample is the render's `soundStart`.
    SoundSplicer(SoundTrack& track, int64_t soundStart);
    // `samples` more sound, from `origin` when it is a clip's unchanged.
    bool Take(const float* data, int samples, const SoundOrigin* origin, std::string* error);
    // The last blocks, never copied, and what is left of a block.
    bool Finish(std::string* error);
    // Packets copied from the clips.
    int64_t Copied() const { return copied_; }

  private:
    // Decides the next block and writes it: copied, or given to the stretch's encoder.
    bool DecideBlock(std::string* error);
    // A new stretch's encoder, given the blocks before the stretch.
    bool OpenStretch(std::string* error);
    // Keeps the next block among those a new encoder is given first.
    void Remember();
    // Ends the stretch under way after the blocks past it: its own packets out.
    bool EndStretch(std::string* error);
    // Whether the encoder's packet is the stretch's own.
    bool Own(const AVPacket& packet);

    SoundTrack& track_;
    SoundOrigins origins_;
    AacSplice splice_;
    std::vector<float> pending_;             // interleaved sound not yet decided
    int64_t block_ = 0;                      // the next block to go out
    std::deque<std::vector<float>> before_;  // the blocks before it, for a new encoder
    int64_t stretchFirst_ = 0;               // the first block of the stretch being encoded
    int64_t writtenBefore_ = 0;              // packets the track had written when the stretch began
    int64_t dropping_ = 0;  // packets out of the encoder that stand for its lead-in
    int64_t keeping_ = -1;  // when not negative: how many more of its packets are written
    int64_t copied_ = 0;
    bool ending_ = false;  // the last blocks of the movie are being decided
    AacWindow lastOwn_;    // the window of the encoder's last packet written
};

}  // namespace tavhost::media

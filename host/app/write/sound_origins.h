// Where the sound given to a movie comes from: the stretches that are a
// clip's decoded sound unchanged, where each of the clip's packets begins in
// them, and the sound a reader left undecoded because only its packets hold it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <utility>

#include "aac_splice.h"
#include "media_types.h"

namespace tavhost::media {

class SoundOrigins {
  public:
    struct PacketStart {  // where clip `clip`'s packet begins in the given sound
        int64_t at = 0;
        int clip = 0;
        std::shared_ptr<const AVPacket> packet;
    };

    // Blocks of `chunk` samples; the movie's first sample is the render's `soundStart`.
    SoundOrigins(int chunk, int64_t soundStart, int channels)
        : chunk_(chunk), channels_(channels), soundStart_(soundStart) {}

    // `samples` more sound given, from `origin` when it is a clip's unchanged.
    void Note(int samples, const SoundOrigin* origin);
    // The packets whose whole block has come, all of it the clip's sound
    // unchanged, in order; taken from the front as they are used.
    std::deque<PacketStart>& Anchored() { return anchored_; }
    // What the splice rules are told of block `block`; its packet, if it
    // has one, in `packet`.
    SpliceBlock Describe(int64_t block, bool ending, std::shared_ptr<const AVPacket>* packet);

  private:
    // Whether blocks [at, at + 2 blocks) are one clip's unchanged sound,
    // each with its own packet: the one at `at` reaches into the next.
    bool PacketAt(int64_t at, PacketStart* start) const;

    struct CleanRun {  // given samples [start, end) that are clip `clip`'s, unchanged
        int64_t start, end;
        int clip;
    };
    int chunk_;
    int channels_;
    int64_t soundStart_;
    int64_t received_ = 0;  // samples given so far
    std::deque<CleanRun> runs_;
    std::deque<PacketStart> starts_;
    std::deque<PacketStart> anchored_;
    std::deque<std::pair<int64_t, int64_t>> undecoded_;  // given silent: must be copied
};

}  // namespace tavhost::media

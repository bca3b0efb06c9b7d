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
//
// A splice is made only where the windows on both sides are known to meet:
// - a stretch ends before a copied block only once its own last packet is
//   out and ends in a long window of the copied packet's shape; if not, the
//   stretch goes on;
// - copied packets are held back until the block after them is decided. A
//   stretch that starts after one is first rehearsed by an encoder of its
//   own; where its first packet would not meet the copied one, the stretch
//   starts a block earlier, the held packet encoded instead.
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
    // A copied block not yet written.
    struct Held {
        HeldCopy copy;
        std::shared_ptr<const AVPacket> packet;
    };
    // Copied blocks held back at most: how far a stretch can start earlier.
    static constexpr size_t kHeld = 4;

    // Decides the next block and writes it: copied, or given to the stretch's encoder.
    bool DecideBlock(std::string* error);
    // The block under decision goes out: remembered, and the next one up.
    void Advance();
    // A new encoder for a stretch from block `first`, the copied blocks held
    // before it written and it given its lead-in.
    bool OpenStretch(int64_t first, std::string* error);
    // A stretch from block `first` (held copied blocks from it on encoded
    // instead) up to the block under decision, which goes out.
    bool StartStretch(int64_t first, std::string* error);
    // Where a stretch after the held copied blocks starts so that its first
    // packet meets the copied one before it.
    bool StretchStart(int64_t* first, std::string* error);
    // The window of the first packet of a stretch from block `first`.
    bool Rehearse(int64_t first, AacWindow* window, std::string* error);
    // Gives the stretch's encoder the blocks before `end` it has not had.
    bool FeedUpTo(int64_t end, std::string* error);
    // Writes the held copied blocks before `end`.
    bool WriteHeld(int64_t end, std::string* error);
    // Ends the stretch under way after the blocks past it: its own packets out.
    bool EndStretch(std::string* error);
    // Whether the encoder's packet is the stretch's own.
    bool Own(const AVPacket& packet);
    // Block `block`'s sound: remembered, or still pending.
    const float* Block(int64_t block) const;
    // Blocks that are here: remembered and pending.
    int64_t BlocksHere() const;

    SoundTrack& track_;
    SoundOrigins origins_;
    AacSplice splice_;
    std::vector<float> pending_;           // interleaved sound not yet decided, from block_
    int64_t block_ = 0;                    // the next block to be decided
    std::deque<std::vector<float>> kept_;  // the blocks before it, for a new encoder
    int64_t keptFirst_ = 0;                // the block kept_ begins with
    std::deque<Held> held_;                // copied, not yet written
    int64_t stretchFirst_ = 0;             // the first block of the stretch being encoded
    int64_t writtenBefore_ = 0;            // packets the track had written when the stretch began
    int64_t fed_ = 0;                      // the stretch's encoder has had the blocks before it
    int64_t dropping_ = 0;                 // packets out of the encoder that stand for its lead-in
    int64_t keeping_ = -1;  // when not negative: how many more of its packets are written
    int64_t copied_ = 0;
    bool ending_ = false;  // the last blocks of the movie are being decided
    AacWindow lastOwn_;    // the window of the encoder's last packet written
};

}  // namespace tavhost::media

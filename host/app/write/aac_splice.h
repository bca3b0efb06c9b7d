// The rules by which a movie's AAC sound is spliced: which blocks of 1024
// samples go out as a clip's own packet and which are encoded, and how much
// each encoder of a stretch between copied packets is given and writes.
//
// A packet decodes to its block from its own transform and the one before
// it, which overlap: each packet's transform spans its block and the next.
// So a packet is copied only where both blocks are the clip's sound
// unchanged, and where a copied packet meets the encoder's, both halves
// that overlap must be long windows of the same shape for the overlap to
// cancel. The rules read nothing but what they are told: they decide the
// same way in a whole render, in a part's join and in a test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "aac_units.h"
#include "media_types.h"

namespace tavhost::media {

// What is known of the next block when it is decided.
struct SpliceBlock {
    int64_t index = 0;      // its number in the movie's sound
    bool mustCopy = false;  // its sound was not decoded: only the clip's packet holds it
    bool ending = false;    // it is one of the movie's last blocks, which the encoder ends
    // It and the block after it are one clip's sound unchanged, each with its
    // packet; `window` is this block's packet's.
    bool packet = false;
    AacWindow window;
    // The same holds for the block after it: no splice follows this one.
    bool nextPacket = false;
    // The block after it is the same clip's next packet, which stands for
    // sound unchanged whether or not it can be copied; `nextWindow` is its window.
    bool nextSameClip = false;
    AacWindow nextWindow;
};

// A copied block held back until the block after it is decided.
struct HeldCopy {
    int64_t block = 0;
    AacWindow window;
    bool mustCopy = false;  // only its packet holds its sound: it stays copied
};

class AacSplice {
  public:
    // Blocks a stretch's encoder is given past its end, so that its last
    // packet overlaps the copied one after it as an encoder running through
    // would make it.
    static constexpr int kLeadOut = 2;
    // Blocks after the next one that are known before it is decided: a
    // copied packet's transform reaches into the next block, and the
    // movie's last blocks are never copied.
    static constexpr int kAhead = 4;

    // Whether the block may be copied. When an encoder's stretch is under
    // way it then ends before the block, and Follows decides.
    bool MayCopy(const SpliceBlock& b) const;
    // Whether a packet windowed `after` may follow one windowed `before`
    // that another encoder made: they overlap in long windows of one shape.
    static bool Meets(const AacWindow& before, const AacWindow& after) {
        return before.LongSecondHalf() && after.LongFirstHalf() && before.shape == after.shape;
    }
    // Whether the block is copied after the stretch before it ended with a
    // packet windowed `lastOwn`.
    static bool Follows(const SpliceBlock& b, const AacWindow& lastOwn);
    // Where a stretch that would start at block `first`, after the copied
    // blocks `held` (oldest first, the last one at first - 1), starts so
    // that its first packet meets the copied one before it: at `first`, or
    // at a held block, which is then encoded with those after it.
    // `rehearse(b, &w)` gives the window of the first packet of a stretch
    // from block b. Returns how many of `held` stay copied (-1 when a
    // rehearsal failed); where none meets, the stretch starts at the
    // oldest held block that may be encoded.
    static int StretchStart(const std::vector<HeldCopy>& held, int64_t first,
                            const std::function<bool(int64_t, AacWindow*)>& rehearse);
    // The block went out copied or encoded.
    void Decided(bool copied) { lastCopied_ = copied; }
    // A packet the encoder wrote as the movie's own: its long windows' shape.
    void Wrote(const AacWindow& own) {
        if (own.known && own.sequence == 0) ownLongShape_ = own.shape;
    }

    // Blocks before its first that the encoder of a stretch from block
    // `first` is given (those remembered before it, up to kLeadInPackets).
    static int64_t LeadIn(int64_t first) { return std::min<int64_t>(first, kLeadInPackets); }
    // The packets out of that encoder that are not the stretch's: one for
    // each lead-in block and its priming packet. The movie's first encoder
    // has no lead-in and its priming packet begins the movie.
    static int64_t Dropped(int64_t first) { return first == 0 ? 0 : LeadIn(first) + 1; }
    // The stretch's own packets, blocks [first, end): one each, and the
    // priming packet of the movie's first.
    static int64_t Own(int64_t first, int64_t end) { return end - first + (first == 0 ? 1 : 0); }

  private:
    bool lastCopied_ = false;  // the block before the next one was copied
    int ownLongShape_ = -1;    // the shape of the encoder's long windows, once seen
};

}  // namespace tavhost::media

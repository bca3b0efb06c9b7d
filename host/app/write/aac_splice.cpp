#include "aac_splice.h"

namespace tavhost::media {

bool AacSplice::MayCopy(const SpliceBlock& b) const {
    // The first two blocks are always encoded: the encoder's priming packet
    // comes before them. The last ones too, unless only the packet holds them.
    if (b.index < 2 || (b.ending && !b.mustCopy) || !b.packet) return false;
    if (b.mustCopy) return true;
    // Where the encoder's packets follow, the clip's next one tells whether
    // its sound begins with an onset there, which the encoder too would
    // window short, against this packet's long end.
    const bool spliceAfter = !b.nextPacket;
    const bool onsetAfter = spliceAfter && b.nextSameClip && !b.nextWindow.LongFirstHalf();
    // Where it meets the encoder's packets, its window must be a long half
    // of the encoder's shape; between two of the clip's packets anything goes.
    const bool fits = b.window.shape == ownLongShape_;
    return (lastCopied_ || (fits && b.window.LongFirstHalf())) &&
           (!spliceAfter || (fits && b.window.LongSecondHalf() && !onsetAfter));
}

bool AacSplice::Follows(const SpliceBlock& b, const AacWindow& lastOwn) {
    // The stretch's last packet, made with the blocks past it, must end in a
    // long window of the clip packet's shape; if not, a new stretch starts here.
    return b.mustCopy || Meets(lastOwn, b.window);
}

int AacSplice::StretchStart(const std::vector<HeldCopy>& held, int64_t first,
                            const std::function<bool(int64_t, AacWindow*)>& rehearse) {
    size_t keep = held.size();
    while (keep > 0) {
        const HeldCopy& before = held[keep - 1];
        AacWindow window;
        if (!rehearse(first, &window)) return -1;
        if (before.mustCopy || Meets(before.window, window)) break;
        // Encoded from a block earlier, the stretch meets the copied packet
        // before that one, or goes further back.
        first = before.block;
        --keep;
    }
    return int(keep);
}

}  // namespace tavhost::media

// What a render copies from the clips as compressed packets instead of
// encoding them again: runs of output frames, each from one clip's packets.
// Everything else is encoded, each span by an encoder of its own that starts
// with an IDR picture.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "packet_index.h"

namespace tavhost {

// A run of output frames copied from one clip.
struct CopySegment {
    int clip = 0;
    int64_t start = 0;                      // its first output frame
    int64_t frames = 0;                     // as many as packets: one picture each
    size_t firstPacket = 0, endPacket = 0;  // in the clip's index, decode order
    // Where the packets go: the reader's frame for a timestamp (see
    // ClipFrameAt) plus `offset` is its output frame.
    int64_t readingStart = 0;
    int64_t offset = 0;
};

struct CopyPlan {
    std::vector<CopySegment> segments;  // in output order
    media::h264::ParameterSets sets;    // the copied clips' (all the same)
    int encoderSetId = 0;               // a parameter-set id the clips leave free
    int reorderDelay = 0;       // most pictures a copied packet is decoded ahead of its time
    media::h264::DpbNeeds dpb;  // the copied SPS's reference frames and buffer
    // A part of a render that copies: the part's movie lists the copied sets
    // and encodes as the others do even where it copies nothing itself, so
    // that the parts join under one set of parameters.
    bool partOfCopy = false;
    // The clips' AAC sound goes in as their own packets where it is
    // unchanged: those clips' readers put it on the movie's packet grid
    // (ClipReader::Options::soundGrid).
    bool sound = false;
    bool Copies() const { return !segments.empty() || partOfCopy; }
    // Whether output frame `t` is copied.
    bool CopiesFrame(int64_t t) const;
    int64_t CopiedFrames() const;
};

// The pictures of one clip that go into the movie as copied packets: its
// reader does not decode them, and the last decoded picture stands in for
// each. They are whole closed groups of pictures, so nothing decoded after
// them refers to them.
class CopiedPictures {
  public:
    CopiedPictures() = default;
    // Clip `clip`'s copied frames in `plan`; the clip starts at output frame
    // `clipStart`, and its packets' units have `lengthSize`-byte lengths (0: Annex B).
    CopiedPictures(const CopyPlan& plan, int clip, int64_t clipStart, int lengthSize);
    bool Any() const { return !spans_.empty(); }
    int LengthSize() const { return lengthSize_; }
    // Whether the reader's frame `index` (at the output rate) is copied.
    bool Frame(int64_t index) const;
    // Whether the reader's frames [first, end) all lie in one copied run.
    bool Frames(int64_t first, int64_t end) const;

  private:
    std::vector<std::pair<int64_t, int64_t>> spans_;  // [first, end) reader frames, in order
    int lengthSize_ = 0;
};

}  // namespace tavhost

// Which frames of a render can be copied from the clips as compressed
// packets instead of encoded again: the runs of a clip's frames outside every
// transition, cut at the clip's own IDR pictures, when the clip's stream is
// what the output's encoder would write (H.264 4:2:0 at the output's size,
// rate and colours). Everything else is encoded, each span by an encoder of
// its own that starts with an IDR picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "clip_reader.h"
#include "packet_index.h"
#include "placement.h"

namespace tavhost {

struct CopyCandidate {
    std::string label;  // how messages name the clip
    const media::ClipInfo* info = nullptr;
    const media::ClipReader::Options* options = nullptr;
    const media::PacketIndex* index = nullptr;
};

struct CopyTarget {
    int width = 0, height = 0;
    media::Rational fps;
    std::string matrix;  // "bt601" or "bt709"
};

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
    int64_t CopiedFrames() const;
};

// Plans the copies. Every clip that cannot be copied, and why, is one line
// in `notes`.
CopyPlan PlanCopies(const std::vector<CopyCandidate>& clips, const Timeline& timeline,
                    const CopyTarget& target, std::vector<std::string>* notes);

}  // namespace tavhost

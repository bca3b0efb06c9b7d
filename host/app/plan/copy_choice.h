// Choosing what a render copies: the runs of a clip's frames outside every
// transition, cut at the clip's own IDR pictures, when the clip's stream is
// what the output's encoder would write (H.264 4:2:0 at the output's size,
// rate and colours).
#pragma once

#include <string>
#include <vector>

#include "clip_reader.h"
#include "copy_plan.h"
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
    media::OutputFormat format;
    media::Matrix matrix = media::Matrix::kBt601;  // the output's colour matrix
};

// Plans the copies. Every clip that cannot be copied, and why, is one line
// in `notes`.
CopyPlan PlanCopies(const std::vector<CopyCandidate>& clips, const Timeline& timeline,
                    const CopyTarget& target, std::vector<std::string>* notes);

}  // namespace tavhost

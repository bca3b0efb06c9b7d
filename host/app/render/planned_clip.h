// A clip of the sequence as the plan leaves it: probed, trimmed, its reader's
// options set, and (when copying) its packets indexed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "clip_reader.h"
#include "clip_spool.h"
#include "packet_index.h"

namespace tavhost {

struct PlannedClip {
    std::string path;
    std::string label;  // how messages name it
    media::ClipInfo info;
    media::ClipReader::Options options;           // its trims and still duration included
    int64_t frames = 0;                           // at the output rate
    std::unique_ptr<media::PacketIndex> packets;  // when copying: its video packets
    std::shared_ptr<SpooledClip> spool;           // a clip read once, copied to `path`
};

}  // namespace tavhost

// The clip packets a part of a copying render keeps beside its exact sound:
// two AAC streams, one for the clips at even places in the sequence and one
// for the odd. The join's writer is given them with the sound they stand
// for, and so copies what the render in one piece copies.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "aac_units.h"
#include "av_util.h"
#include "sinks.h"

namespace tavhost {

class PartSound {
  public:
    explicit PartSound(std::vector<std::string> parts) : parts_(std::move(parts)) {}

    // The streams of `ic` that hold clip packets, even clips' first.
    static std::vector<int> Streams(const AVFormatContext* ic);

    // Whether the parts hold clip packets in `ours`' configuration.
    bool Accept(const media::AacConfig& ours);

    // Reads part `path`, whose first sample is movie sample `start`, beside its sound.
    bool Open(const std::string& path, int64_t start, std::string* error);
    // The next `samples` of the movie's sound to `sink`, each block with the
    // origin the parts give it.
    bool Pass(const float* data, int samples, int channels, Sink& sink, std::string* error);

  private:
    // Reads the clip packets of blocks that begin before movie sample `end`.
    bool ReadUntil(int64_t end, std::string* error);

    struct Held {
        int clip = 0;  // the clips at even (0) or odd (1) places
        std::shared_ptr<const AVPacket> packet;
    };
    std::vector<std::string> parts_;
    bool accepted_ = false;
    media::InputPtr input_;
    std::vector<int> streams_;
    int64_t start_ = 0;  // the open part's first sample in the movie
    bool ended_ = true;  // its clip packets all read
    std::string path_;
    std::map<int64_t, Held> held_;  // by the movie sample its block begins at
    int64_t at_ = 0;                // the movie sample Pass gives next
    media::PacketPtr pkt_{media::Allocated(av_packet_alloc())};  // read, not yet held
    int heldClip_ = 0;                                           // whose it is
};

}  // namespace tavhost

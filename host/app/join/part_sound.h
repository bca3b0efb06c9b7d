// The clip packets a part of a copying render keeps beside its exact sound:
// two AAC streams, one for the clips at even places in the sequence and one
// for the odd. The join reads them with the rest of the part, in the one
// pass that copies its pictures, and gives its writer each block of sound
// with the packet it stands for, so the join copies what the render in one
// piece copies.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "aac_units.h"
#include "av_util.h"
#include "sinks.h"

namespace tavhost {

class PartSound {
  public:
    // The streams of `ic` that hold clip packets, even clips' first.
    static std::vector<int> Streams(const AVFormatContext* ic);

    // Reading part `path`, whose first sample is movie sample `start`, with
    // `channels` of sound; `streams` (see Streams) hold its clip packets,
    // which are copied when `copying`.
    void Start(const std::string& path, int64_t start, int channels, std::vector<int> streams,
               bool copying);
    // A packet read from the part: a clip packet is held for the block it
    // stands for; any other tells how far the reading has come.
    void Read(const AVFormatContext* ic, const AVPacket* pkt);
    // The part's next decoded sound, held until the clip packets that go
    // with it have been read.
    void Take(const float* data, int samples);
    // The sound held that no clip packet still to come can belong to (all of
    // it at the part's end) to `sink`, each block with the packet it stands for.
    bool Release(bool end, Sink& sink, std::string* error);

  private:
    struct Held {
        int clip = 0;  // the clips at even (0) or odd (1) places
        std::shared_ptr<const AVPacket> packet;
    };
    // The place in the movie's sound of a packet's time.
    int64_t SampleOf(const AVFormatContext* ic, const AVPacket* pkt) const;

    std::string path_;
    int64_t start_ = 0;  // the part's first sample in the movie
    int channels_ = 0;
    std::vector<int> streams_;
    bool copying_ = false;
    int rate_ = 0;
    std::map<int64_t, Held> held_;  // by the movie sample its block begins at
    std::deque<float> sound_;       // decoded, not yet given: from movie sample at_ on
    int64_t at_ = 0;
    int64_t readTo_ = INT64_MIN;  // the latest time of a packet read, in movie samples
};

}  // namespace tavhost

// Copies the planned runs of the clips' compressed pictures into a movie, in
// decode order and in step with the output frames, as the movie writer takes
// them: 4-byte unit lengths, no parameter sets (the movie lists them), timed
// in output frames.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "av_util.h"
#include "copy_plan.h"

namespace tavhost {

class PacketCopier {
  public:
    struct Clip {
        std::string path;
        std::string label;
        const media::PacketIndex* index = nullptr;
    };
    // Takes one packet: its data, output frame and whether it starts a group.
    using Write = std::function<bool(const uint8_t*, size_t, int64_t, bool, std::string*)>;

    PacketCopier(std::vector<Clip> clips, const CopyPlan& plan, media::Rational fps)
        : clips_(std::move(clips)), plan_(plan), fps_(fps) {}

    // Whether output frame t is copied.
    bool Copies(int64_t t) const;
    // Writes the packets due by output frame t: the k-th of a segment in
    // decode order is due at its (k)-th frame, so decode order keeps pace
    // with time.
    bool CopyUpTo(int64_t t, const Write& write, std::string* error);

  private:
    bool Open(const CopySegment& s, bool seek, std::string* error);
    bool Next(const CopySegment& s, std::string* error);

    std::vector<Clip> clips_;
    const CopyPlan& plan_;
    media::Rational fps_;
    size_t segment_ = 0;
    int64_t written_ = 0;  // packets of the segment written
    media::InputPtr input_;
    int video_ = -1;
    media::PacketPtr pkt_{media::Allocated(av_packet_alloc())};
    std::vector<uint8_t> data_;
};

}  // namespace tavhost

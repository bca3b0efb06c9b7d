// A movie's pictures: encoded, each span between pictures copied from the
// clips by an encoder of its own that starts on an IDR picture under
// parameter sets the copied packets leave free; copied packets; or packets
// encoded already (a join of parts), given as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "av_util.h"
#include "movie_writer.h"
#include "muxer.h"
#include "picture_convert.h"

namespace tavhost::media {

class VideoTrack {
  public:
    VideoTrack(Muxer& muxer, const MovieOptions& options);
    // The stream, and for an encoded movie its first encoder.
    bool Open(std::string* error);

    bool TakesAsItIs(const AVFrame* picture) const;
    // The next picture, from 0xAARRGGBB pixels or a decoded YUV picture.
    bool Encode(const uint32_t* pixels, int rowPixels, std::string* error);
    bool Encode(const AVFrame* picture, std::string* error);
    // The next picture in decode order as a clip's packet (4-byte unit
    // lengths), `pts` its frame: the pictures encoded before it are
    // finished first, those after it start a new encoder.
    bool Copy(const uint8_t* data, size_t size, int64_t pts, bool key, std::string* error);
    // The next packet of a movie given its pictures encoded; times in frames.
    bool Given(const uint8_t* data, size_t size, int64_t pts, int64_t dts, bool key,
               std::string* error);
    // The last encoded pictures out.
    bool Finish(std::string* error) { return EndSpan(error); }

  private:
    bool OpenEncoder(std::string* error);
    // The file's avcC: the encoder's sets and the copied packets' side by side.
    bool ListParameterSets(std::string* error);
    bool Send(AVFrame* frame, std::string* error);
    bool Drain(std::string* error);
    // A packet in decode order, its dts its place less the reorder delay.
    bool WriteCopied(const uint8_t* data, size_t size, int64_t pts, bool key, std::string* error);
    // A packet as it is, pts and dts in frames, each lasting one frame.
    bool WritePacket(const uint8_t* data, size_t size, int64_t pts, int64_t dts, bool key,
                     std::string* error);
    bool EndSpan(std::string* error);

    Muxer& muxer_;
    const MovieOptions& options_;
    CodecPtr enc_;  // null between encoded spans when copying
    AVStream* stream_ = nullptr;
    AvFramePtr frame_{Allocated(av_frame_alloc())};
    AvFramePtr passed_{Allocated(av_frame_alloc())};  // a decoded picture handed on as it is
    PacketPtr pkt_{Allocated(av_packet_alloc())};
    int64_t pts_ = 0;  // the next picture's
    // Copying: every packet's dts is its place in decode order less the
    // largest reorder delay of any span, so dts rises across spans.
    int delay_ = 0;
    int64_t packets_ = 0;
    std::vector<uint8_t> encoderSets_;  // the first encoder's extradata
    std::vector<uint8_t> units_;
};

}  // namespace tavhost::media

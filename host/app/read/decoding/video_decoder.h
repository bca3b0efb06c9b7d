// A clip's pictures on the reader's thread: decoded and put through the
// clip's filter graph (deinterlace, turn upright, convert with the clip's
// own matrix, fit, retime by timestamps), or, for a copied picture, its
// packet kept for the frame it goes with and the last decoded picture
// standing in for it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "av_util.h"
#include "clip_reader.h"

namespace tavhost::media {

class VideoDecoder {
  public:
    // Damage at `pts` in the stream's time base (AV_NOPTS_VALUE: unknown).
    using NoteDamage = std::function<void(int64_t)>;
    // A copied picture's packet, its units framed as the movie takes them,
    // and the reader frame of its picture.
    struct CopiedPacket {
        std::shared_ptr<const AVPacket> packet;
        int64_t frame = 0;
    };

    // Stream `stream`, read from `startPts` (in its time base) with
    // `options`. Null with the reason in `error`.
    static std::unique_ptr<VideoDecoder> Open(AVStream* stream, const ClipReader::Options& options,
                                              const ClipInfo& info, int64_t startPts,
                                              NoteDamage damage, std::string* error);

    // A packet read: decoded, or kept when its picture is copied.
    void Send(const AVPacket* p);
    // The end of the file: the decoder's last pictures out.
    void Flush() { Decode(nullptr); }
    // The clip ends at `end` (in its time base, from its start): every
    // stand-in in, and the graph closed, so the rate filter fills the
    // timeline up to it.
    void End(int64_t end);
    // Pictures out of the graph come one at a time, as they are asked for, so
    // a long still or a gap in a variable-rate clip never piles up frames.
    AvFramePtr TakePicture();
    // The copied pictures' packets read so far, in decode order.
    std::deque<CopiedPacket>& Copied() { return copied_; }

    // After a seek, until the first picture is decoded: whether it lies at
    // or before the in point, as it must for the trim to be frame-exact.
    void CheckFirstPicture(bool on) {
        checking_ = on;
        landedPast_ = false;
    }
    bool Checking() const { return checking_; }
    // The first picture after the seek lies past the in point.
    bool LandedPast() const { return landedPast_; }
    // A seek was made again: what the decoder holds is dropped.
    void Reset();

    int64_t Decoded() const { return decoded_; }
    // The timestamp of the first picture put on the timeline, decoded or
    // standing in for a copied one (none yet: INT64_MIN); later than where
    // reading starts when the leading pictures could not be decoded.
    int64_t FirstPicture() const { return firstPicture_; }
    // Why the last filter graph could not be made.
    const std::string& GraphError() const { return graphError_; }

  private:
    VideoDecoder(AVStream* stream, const ClipReader::Options& options, const ClipInfo& info,
                 int64_t startPts, NoteDamage damage)
        : stream_(stream),
          options_(options),
          info_(info),
          startPts_(startPts),
          damage_(std::move(damage)) {}
    void Decode(const AVPacket* packet);
    void Drain();
    bool BuildGraph(const AVFrame* f);
    void PushPicture(AVFrame* frame);
    // The reader frame of the picture with timestamp `pts`.
    int64_t FrameOf(int64_t pts) const;
    // Whether a packet's picture is copied: nobody looks at it decoded.
    bool Unused(const AVPacket* p) const;
    void KeepCopied(const AVPacket* p);
    // The stand-ins for undecoded pictures, in time order; with `all` false
    // those that no later packet can precede.
    void PushStandIns(bool all);

    AVStream* stream_;
    const ClipReader::Options& options_;
    const ClipInfo& info_;
    int64_t startPts_;
    NoteDamage damage_;
    CodecPtr dec_;
    // The filter graph, its source and sink, and the picture shape it was made for.
    struct Graph {
        GraphPtr graph;
        AVFilterContext* src = nullptr;
        AVFilterContext* sink = nullptr;
        int width = 0, height = 0, format = -1;
    } graph_;
    std::string graphError_;
    static constexpr int64_t kNoPts = INT64_MIN;
    int64_t lastPts_ = kNoPts;        // the last picture's, relative to startPts_
    std::deque<AvFramePtr> drained_;  // what a replaced graph still held, served first
    // Copied pictures: their timestamps, put in order before the last
    // decoded picture stands in for each, and their packets.
    std::priority_queue<int64_t, std::vector<int64_t>, std::greater<>> unused_;
    AvFramePtr lastPicture_;
    bool skipping_ = false;
    std::deque<CopiedPacket> copied_;
    bool checking_ = false, landedPast_ = false;
    int64_t decoded_ = 0;
    int64_t firstPicture_ = kNoPts;
};

}  // namespace tavhost::media

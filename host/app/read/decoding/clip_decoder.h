// Decoding one clip on the reader's thread: its one demuxer's packets routed
// to the video decoder (video_decoder.h) or the sound decoder
// (sound_decoder.h); the seek to the in point checked, and made again
// further back where a container seeks by bytes and lands past it; what
// was found damaged.
#pragma once

#include <memory>
#include <string>

#include "av_util.h"
#include "clip_reader.h"
#include "sound_decoder.h"
#include "video_decoder.h"

namespace tavhost::media {

class ClipDecoder {
  public:
    // Opens clip `path` (named `o.shown` in messages) for reading with `o`.
    bool Open(const std::string& path, const ClipReader::Options& o, const ClipInfo& i,
              std::string* error);
    // Reads and routes one more packet; false once everything is decoded.
    bool More();
    bool Flushed() const { return flushed_; }

    VideoDecoder& Video() { return *video_; }
    // Null when the clip is read mute.
    SoundDecoder* Sound() { return sound_.get(); }
    // Whether sound is still read.
    bool SoundActive() const { return sound_ && sound_->Active(); }
    const Damage& DamageFound() const { return damage_; }

  private:
    void NoteDamage(AVRational tb, int64_t pts);
    // The seek landed past the in point: aim twice as far before it, and at
    // the file's start once that is as far as it goes. What was decoded since
    // the last seek is dropped.
    void SeekEarlier();
    // The end of the file: every picture and sound out, and the damage known.
    void Finish();

    InputPtr fmt_;
    int video_stream_ = -1;
    int audio_stream_ = -1;
    std::unique_ptr<VideoDecoder> video_;
    std::unique_ptr<SoundDecoder> sound_;
    PacketPtr pkt_{Allocated(av_packet_alloc())};
    int64_t originPts_ = 0;             // the video timeline's start, in the stream's time base
    int64_t startPts_ = 0;              // where reading starts: the origin plus the in point
    int64_t endPts_ = 0;                // where it ends, relative to startPts_
    int64_t readPts_ = AV_NOPTS_VALUE;  // the last video packet read, for damage without a time
    bool eof_ = false, flushed_ = false;
    bool seeked_ = false;   // reading started at the in point, not the file's start
    int64_t seekBack_ = 0;  // how far before the in point the last seek aimed
    int seeks_ = 0;         // seeks made again
    Damage damage_;
    const ClipInfo* info_ = nullptr;
};

}  // namespace tavhost::media

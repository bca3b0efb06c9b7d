// A movie's sound stream and its encoder: AAC, Opus in WebM, or exact PCM
// for a part. Its packets go out one after another, each at the end of the
// one before. Digital silence is not encoded over and over: once the AAC
// encoder, given only zeros for long enough that all it holds is zeros,
// writes the same packet twice, each further chunk of zeros gets a copy of
// that packet instead. The encoder still holds only zeros when sound
// returns, so it goes on as if it had been given every chunk.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "av_util.h"
#include "movie_writer.h"
#include "muxer.h"

namespace tavhost::media {

class SoundTrack {
  public:
    SoundTrack(Muxer& muxer, const MovieOptions& options);
    // The stream and its first encoder.
    bool Open(std::string* error);

    SoundFormat Format() const { return sound_; }
    // Samples the encoder takes at a time (a PCM one is given them as AAC would be).
    int Chunk() const { return chunk_; }
    bool Aac() const { return codec_ && codec_->id == AV_CODEC_ID_AAC; }
    AVStream* Stream() const { return stream_; }
    std::string Failed(const std::string& why) const { return muxer_.Failed(why); }
    // Packets written so far, copied ones and repeated silence included.
    int64_t Written() const { return written_; }

    // A new encoder, for a stretch between copied packets.
    bool OpenEncoder(std::string* error);
    bool HasEncoder() const { return bool(enc_); }
    // Which of the encoder's packets go into the movie (all when unset).
    void KeepOnly(std::function<bool(const AVPacket&)> keep) { keep_ = std::move(keep); }
    // Encodes `samples` of `data` at the track's place, which moves on.
    bool Encode(const float* data, int samples, bool mayRepeatSilence, std::string* error);
    // Gives the encoder `samples` of `data`, the first at sample `pts`, and
    // writes what it gives back; the track's place stays.
    bool Feed(const float* data, int samples, int64_t pts, std::string* error);
    // The track's place moves on past `samples` the encoder was already given (Feed).
    void Skip(int samples);
    // What a new encoder makes of `blocks` (each one chunk, the first at
    // sample `firstPts`), without touching the track: its packet number
    // `wanted` in `packet` (left empty when it has fewer).
    bool Rehearse(const std::vector<const float*>& blocks, int64_t firstPts, size_t wanted,
                  std::vector<uint8_t>* packet, std::string* error) const;
    // The encoder's last packets out, and it closed.
    bool Close(std::string* error);
    // A packet that goes in as it is (a clip's), one chunk long.
    bool Put(AVPacket* pkt, std::string* error);

  private:
    // A new encoder as the track's are opened.
    CodecPtr NewCoder(std::string* error) const;
    // A frame of one chunk in `format`, the track's rate and channels.
    AvFramePtr ChunkFrame(AVSampleFormat format) const;
    bool Fill(AVFrame* frame, const float* data, int samples, int64_t pts,
              std::string* error) const;
    bool Send(const float* data, int samples, int64_t pts, std::string* error);
    bool Drain(std::string* error);
    bool Write(AVPacket* pkt, std::string* error);

    Muxer& muxer_;
    const MovieOptions& options_;
    const AVCodec* codec_ = nullptr;
    CodecPtr enc_;
    AVStream* stream_ = nullptr;
    SoundFormat sound_;
    int chunk_ = 0;
    AvFramePtr frame_;
    PacketPtr pkt_{Allocated(av_packet_alloc())};
    int64_t place_ = 0;                   // the next sample encoded or copied
    int64_t packetPts_ = AV_NOPTS_VALUE;  // the next AAC packet's, in samples
    int64_t written_ = 0;
    std::function<bool(const AVPacket&)> keep_;
    struct Silence {
        int zeroChunks = 0;  // all-zero chunks given to the encoder in a row
        bool steady = false;
        std::vector<uint8_t> last;  // the last packet the encoder wrote
    } silence_;
};

}  // namespace tavhost::media

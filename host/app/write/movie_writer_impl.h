// The movie writer's state, shared by the files that implement it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "aac_splice.h"
#include "aac_units.h"
#include "av_util.h"
#include "movie_writer.h"
#include "picture_convert.h"
#include "user_text.h"

namespace tavhost::media {

struct MovieWriter::Impl {
    AVFormatContext* oc = nullptr;
    Options options;
    bool webm = false;
    CodecPtr venc;  // null between encoded spans when copying
    CodecPtr aenc;
    AVStream* vstream = nullptr;
    AVStream* astream = nullptr;
    Matrix matrix = Matrix::kBt601;
    AvFramePtr vframe{Allocated(av_frame_alloc())};
    AvFramePtr passed{Allocated(av_frame_alloc())};  // a decoded picture handed on as it is
    AvFramePtr aframe{Allocated(av_frame_alloc())};
    PacketPtr pkt{Allocated(av_packet_alloc())};
    PacketPtr copied{Allocated(av_packet_alloc())};
    std::vector<float> pending;  // interleaved sound not yet encoded
    int chunk = 0;               // samples the sound encoder takes at a time
    int64_t videoPts = 0;
    int64_t audioPts = 0;
    // Digital silence is not encoded over and over: once the AAC encoder,
    // given only zeros for long enough that all it holds is zeros, writes the
    // same packet twice, each further chunk of zeros gets a copy of that
    // packet instead. The encoder still holds only zeros when sound returns,
    // so it goes on as if it had been given every chunk.
    bool skipsSilence = false;  // AAC only
    int zeroChunks = 0;         // all-zero chunks given to the encoder in a row
    bool steadySilence = false;
    std::vector<uint8_t> lastSound;           // the last sound packet the encoder wrote
    int64_t soundPacketPts = AV_NOPTS_VALUE;  // the next sound packet's, in samples
    std::string path;                         // named in every error

    // Copying the clips' AAC sound (Options::copySound). The sound goes out
    // in blocks of one packet. A block that is a clip packet's own decoded
    // output, unchanged, is that packet; the others are encoded in stretches,
    // each by an encoder of its own that is given the block before the
    // stretch first and the block after it last, so that the packets on
    // either side of a splice overlap as the encoder's own would.
    bool splicing = false;
    int64_t received = 0;  // samples given so far
    struct CleanRun {      // given samples [start, end) that are clip `clip`'s, unchanged
        int64_t start, end;
        int clip;
    };
    std::deque<CleanRun> runs;
    struct PacketStart {  // where clip `clip`'s packet begins in the given sound
        int64_t at;
        int clip;
        std::shared_ptr<const AVPacket> packet;
    };
    std::deque<PacketStart> starts;
    std::deque<PacketStart> anchored;  // those whose block is the clip's sound unchanged
    std::deque<std::pair<int64_t, int64_t>> undecoded;  // given silent: must be copied
    int64_t block = 0;                                  // the next block to go out
    // The blocks before it, that a new encoder is given first.
    std::deque<std::vector<float>> before;
    int64_t stretchFirst = 0;  // the first block of the stretch being encoded
    int64_t stretchWritten = 0;
    int64_t dropping = 0;     // packets out of the encoder that stand for its first input
    int64_t keeping = -1;     // when not negative: how many more of its packets are written
    int64_t copiedSound = 0;  // packets copied from the clips
    bool ending = false;      // the last blocks of the movie are being decided
    AacSplice splice;         // which blocks are copied
    AacWindow lastOwn;        // the window of the encoder's last packet written
    std::shared_ptr<const AVPacket> clipPacket;  // the next block's, when it has one
    SoundFormat sound;

    // Copying: every video packet's dts is its place in decode order less
    // the largest reorder delay of any span, so dts rises across spans.
    bool copying = false;
    int delay = 0;
    int64_t videoPackets = 0;
    std::vector<uint8_t> encoderSets;  // the first encoder's extradata
    std::vector<uint8_t> units;

    std::string Failed(const std::string& why) const {
        return "cannot write " + Quoted(path) + ": " + why;
    }

    ~Impl() {
        if (oc) {
            if (!(oc->oformat->flags & AVFMT_NOFILE)) avio_closep(&oc->pb);
            avformat_free_context(oc);
        }
    }

    // The video stream: encoded here, or given as the parts of a join carry it.
    bool OpenVideo(std::string* error);
    bool OpenGivenVideo(std::string* error);
    // The video encoder and its spans between copied pictures (encoder_spans.cpp).
    // Opens an encoder for the next span; every span after the first must
    // write the same parameter sets.
    bool OpenVideoEncoder(std::string* error);
    // The file's avcC: the encoder's sets and the copied packets' side by side.
    bool ListParameterSets(std::string* error);
    // A video packet as it is, pts and dts in frames, each lasting one frame.
    bool WriteVideoPacket(const uint8_t* data, size_t size, int64_t pts, int64_t dts, bool key,
                          std::string* error);
    // A packet in decode order, its dts its place less the reorder delay.
    bool WriteCopied(const uint8_t* data, size_t size, int64_t pts, bool key, std::string* error);
    // Ends the encoded span under way: its last pictures out, its encoder closed.
    bool EndSpan(std::string* error);

    // Encoding and writing (movie_writer.cpp).
    bool SendVideo(AVFrame* frame, std::string* error);
    bool Drain(AVCodecContext* enc, AVStream* stream, std::string* error);
    bool Write(AVRational from, AVStream* stream, std::string* error);
    bool EncodeAudio(int samples, std::string* error, bool mayCopySilence = true);
    // Gives the sound encoder `samples` samples from `data`, the first at `pts`.
    bool SendSound(const float* data, int samples, int64_t pts, std::string* error);
    // A sound encoder as the movie's stream describes it.
    bool OpenSoundEncoder(const AVCodec* codec, std::string* error);

    // Copying the clips' sound (sound_splice.cpp).
    // Notes where given sound comes from, unchanged, and which of its blocks are a clip packet's.
    void NoteOrigin(int samples, const SoundOrigin* origin);
    // A part of a render: the clip packets it could copy kept beside its exact sound.
    bool RecordSound(int samples, const SoundOrigin* origin, std::string* error);
    bool recording = false;
    // A part's streams of clip packets, made when a clip's sound can be copied.
    bool OpenClipStreams(std::string* error);
    AVStream* clipStreams[2] = {nullptr, nullptr};
    bool TakeSound(const float* data, int samples, const SoundOrigin* origin, std::string* error);
    // The next block, as the splice rules are told it; its packet, if it has one, in `clipPacket`.
    SpliceBlock NextBlock();
    // Decides the next block and writes it: copied, or given to the stretch's encoder.
    bool DecideBlock(std::string* error);
    bool PacketAt(int64_t at, PacketStart* start) const;
    // A new stretch's encoder, given the block before the stretch.
    bool OpenSoundStretch(std::string* error);
    // Keeps the next block among those a new encoder is given first.
    void Remember();
    // Ends the stretch under way after the block past it: its own packets out.
    bool EndSoundStretch(std::string* error);
    bool FinishSplicing(std::string* error);
    // Sound packets go out one after another, each at the end of the one before.
    bool WriteSound(std::string* error);
};

}  // namespace tavhost::media

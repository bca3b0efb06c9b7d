// The movie writer's state, shared by the files that implement it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "av_util.h"
#include "movie_writer.h"
#include "picture_convert.h"
#include "user_text.h"

namespace tavhost::media {

struct MovieWriter::Impl {
    AVFormatContext* oc = nullptr;
    Options options;
    bool webm = false;
    const AVCodec* vcodec = nullptr;
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
    // Whether the encoder's SPS keeps the picture buffer the copied SPS keeps.
    bool KeepsCopiedBuffer(std::string* error) const;
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
    bool EncodeAudio(int samples, std::string* error);
    // Sound packets go out one after another, each at the end of the one before.
    bool WriteSound(std::string* error);
};

}  // namespace tavhost::media

// Writing movies with FFmpeg's libraries: H.264 + AAC in MP4, MOV or MKV,
// VP9 + Opus in WebM, and H.264 packets copied from clips between the spans
// the encoder writes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "h264_units.h"
#include "media_types.h"
#include "picture_convert.h"
#include "render_defaults.h"

struct AVFrame;
struct AVCodecParameters;

namespace tavhost::media {

// The sound format a movie in container `format` ("webm", or anything else
// for AAC) carries closest to `wanted`: its rate and channels where the
// encoder takes them, otherwise 48 kHz, stereo.
SoundFormat SoundFormatFor(const std::string& format, SoundFormat wanted);

// The colour description a movie converted with `matrix` is tagged with
// (SMPTE 170M for BT.601); limited range.
ColourTags OutputColourTags(Matrix matrix);

// Whether the encoders take pictures of `width` x `height`: FFmpeg's pictures
// stay under 2^31 bytes, so (width + 128) x (height + 128) under 2^28.
bool EncoderTakesSize(int width, int height);

// How a movie's pictures are encoded.
struct Encoding {
    std::string preset = defaults::kPreset;  // H.264 encoder preset
    int crf = defaults::kCrf;
    // The container's short name; empty: from the file name (and Matroska
    // for standard output).
    std::string container;
};

// When some pictures arrive as compressed packets (CopyVideo).
struct PassThrough {
    h264::ParameterSets sets;  // those the copied packets use
    int encoderSetId = 0;      // an id they leave free, for the encoder's sets
    int reorderDelay = 0;      // of the copied packets
    h264::DpbNeeds dpb;        // what the copied SPS keeps; the encoder's must agree
};

// What a movie is made of: its format, its encoding, and the copied pictures' sets.
struct MovieOptions {
    OutputFormat format;
    // The colour matrix its pictures are converted with and tagged as
    // (OutputMatrix of its height, as the plan chose it).
    Matrix matrix = Matrix::kBt601;
    Encoding encoding;
    std::optional<PassThrough> copy;
    // A part of a render: its sound kept exact (32-bit float PCM) so that the
    // join encodes it once, as a whole render does.
    bool exactSound = false;
    // The file's own tags (a part's place in its render). A file with tags
    // and exact sound is a part: it is sealed when complete (part_seal.h).
    std::vector<std::pair<std::string, std::string>> tags;
    // Pictures encoded already (a join of parts): the stream as the parts
    // carry it, its packets given whole to WritePacket; no video encoder.
    std::shared_ptr<const AVCodecParameters> givenVideo;
    // Sound given with its origin (WriteAudio) is copied as the clip packets
    // its anchors carry where it went into the movie unchanged: the plan
    // gives origins only for clips whose AAC configuration is the movie's
    // (AacConfigFor). A part keeps those packets beside its exact sound.
    bool copySound = false;
    // Samples of the render before this movie's first (a part's place).
    int64_t soundStart = 0;
    // How messages name the movie: the user's name for a file written under
    // a staging name, "standard output"; its path quoted when empty.
    std::string shown;
};

// How long a stream with no packet waiting holds the others back in a
// movie's muxer: a packet is written at most this late among the packets
// around its time (a part's clip packets among its sound, see PartSound).
constexpr int kInterleaveSeconds = 10;

class Muxer;
class VideoTrack;
class SoundTrack;
class SoundSplicer;
class ClipPacketRecorder;

// Encodes a movie: H.264 video and AAC sound in an MP4, MOV or MKV file.
class MovieWriter {
  public:
    using Options = MovieOptions;
    static std::unique_ptr<MovieWriter> Open(const std::string& path, const Options& options,
                                             std::string* error);
    ~MovieWriter();
    // Frames go in order; sound is appended as it comes.
    bool WriteVideo(const uint32_t* pixels, int rowPixels, std::string* error);
    // A decoded picture the encoder takes as it is (TakesAsItIs): no conversion, no copy.
    bool TakesAsItIs(const AVFrame* picture) const;
    bool WriteVideo(const AVFrame* picture, std::string* error);
    // With Options::copy: the next picture in decode order as an H.264 packet
    // with 4-byte unit lengths, `pts` its output frame. The pictures encoded
    // before it are finished first; those after it start a new encoder.
    bool CopyVideo(const uint8_t* data, size_t size, int64_t pts, bool key, std::string* error);
    // With Options::givenVideo: the next packet in decode order, as the
    // stream carries it; pts and dts in frames.
    bool WritePacket(const uint8_t* data, size_t size, int64_t pts, int64_t dts, bool key,
                     std::string* error);
    // Sound is appended as it comes; with `origin`, it is a clip's decoded
    // sound unchanged, and may be copied as that clip's packets.
    bool WriteAudio(const float* interleaved, int samples, std::string* error,
                    const SoundOrigin* origin = nullptr);
    // Where the sound just past a part's end comes from (its samples are
    // the next part's): it decides which of the part's last clip packets
    // the join may copy.
    bool NoteSoundAfter(int samples, const SoundOrigin* origin, std::string* error);
    // Sound packets copied from the clips so far.
    int64_t CopiedSoundPackets() const;
    bool Finish(std::string* error);

  private:
    MovieWriter() = default;
    bool Start(const std::string& path, const Options& options, std::string* error);
    bool Sealed() const;

    Options options_;  // what the parts below read
    std::string path_;
    std::unique_ptr<Muxer> muxer_;
    std::unique_ptr<VideoTrack> video_;
    std::unique_ptr<SoundTrack> sound_;
    std::unique_ptr<SoundSplicer> splicer_;         // copying the clips' sound
    std::unique_ptr<ClipPacketRecorder> recorder_;  // a part's clip packets
    std::vector<float> pending_;                    // interleaved sound not yet encoded
};

}  // namespace tavhost::media

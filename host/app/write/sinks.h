// Where a render's frames go: a movie file or a folder of PNG frames, each
// staged beside its final name and committed when the render is complete.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "frame_pattern.h"
#include "image_io.h"
#include "movie_writer.h"

struct AVFrame;

namespace tavhost {

class Sink {
  public:
    virtual ~Sink() = default;
    // One output frame's picture (0xAARRGGBB rows `rowPixels` apart) and sound.
    virtual bool Video(const uint32_t* pixels, int rowPixels, std::string* error) = 0;
    // A decoded picture the sink takes as it is, with no conversion (a movie
    // whose encoder has its size and format); Video(picture) then writes it.
    virtual bool TakesAsItIs(const AVFrame*) const { return false; }
    // Whether it takes decoded pictures at all (it encodes YUV).
    virtual bool TakesDecodedPictures() const { return false; }
    virtual bool Video(const AVFrame*, std::string* error) {
        *error = "this output takes pixels only";
        return false;
    }
    // A compressed H.264 picture copied from a clip (MovieOptions::copy).
    virtual bool CopyVideo(const uint8_t*, size_t, int64_t, bool, std::string* error) {
        *error = "this output takes no copied pictures";
        return false;
    }
    // A picture encoded already (SinkOptions::givenVideo), in decode order;
    // pts and dts in frames.
    virtual bool CopyPacket(const uint8_t*, size_t, int64_t, int64_t, bool, std::string* error) {
        *error = "this output takes no encoded pictures";
        return false;
    }
    virtual bool Audio(const float* interleaved, int samples, std::string* error) = 0;
    // Sound that is a clip's decoded sound unchanged: a movie that copies
    // the clips' sound (SinkOptions::copySound) may copy its packets.
    virtual bool ClipAudio(const float* interleaved, int samples, const media::SoundOrigin&,
                           std::string* error) {
        return Audio(interleaved, samples, error);
    }
    // Where the sound just past a part's end comes from (MovieWriter::NoteSoundAfter).
    virtual bool SoundAfter(int, const media::SoundOrigin*, std::string*) { return true; }
    // Sound packets copied from the clips.
    virtual int64_t CopiedSoundPackets() const { return 0; }
    // Completes the staged output; Commit() then moves it into place.
    virtual bool Finish(std::string* error) = 0;
    virtual bool Commit(std::string* error) = 0;
};

// A movie's options; a folder of frames takes the format's size only.
using SinkOptions = media::MovieOptions;

// What an output names, told once from its name (and --format for
// standard output): a .mp4, .mov or .mkv movie (H.264 + AAC) or .webm (VP9
// + Opus); "-", a movie streamed to standard output (Matroska unless
// --format says); a folder (an existing one, or a name with no extension)
// of frameNNNN.png files; or a frame pattern such as frames/f%04d.png or
// shots/%d.jpg.
struct OutputTarget {
    enum class Kind { kMovie, kFrames };
    Kind kind = Kind::kMovie;
    std::string path;   // as the user gave it
    std::string muxer;  // a movie's: "mp4", "mov", "matroska" or "webm"
    // Frames: their folder, their names and their format.
    std::string folder;
    FramePattern pattern;
    media::ImageFormat image = media::ImageFormat::kNone;

    bool Webm() const { return kind == Kind::kMovie && muxer == "webm"; }
    bool CarriesH264() const { return kind == Kind::kMovie && muxer != "webm"; }
    bool Matroska() const { return kind == Kind::kMovie && muxer == "matroska"; }
    bool ToStandardOutput() const { return path == "-"; }
};

// Tells what `output` names; false with the reason, in one line, when it is
// nothing tavhost writes.
bool ClassifyOutput(const std::string& output, const std::string& container, OutputTarget* target,
                    std::string* error);

// The sink that writes `target`, staged; null with the reason in `error`.
std::unique_ptr<Sink> OpenSink(const OutputTarget& target, const SinkOptions& options,
                               std::string* error);
// The same for an output not yet told (options.encoding.container its --format).
std::unique_ptr<Sink> OpenSink(const std::string& output, const SinkOptions& options,
                               std::string* error);

// The containers standard output takes, as --format names them.
bool IsStreamContainer(const std::string& name);

}  // namespace tavhost

#include "sinks.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "frame_pattern.h"
#include "image_io.h"
#include "staged_output.h"
#include "user_text.h"

namespace fs = std::filesystem;

namespace tavhost {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

class MovieSink : public Sink {
  public:
    // A file, staged; or standard output ("-"), written as it is made.
    MovieSink(const std::string& path) : staged_(path, StagedOutput::Kind::kFile) {}

    bool Open(const std::string& format, const SinkOptions& o, std::string* error) {
        const bool stream = staged_.Path() == "-";
        if (stream && isatty(STDOUT_FILENO)) {
            *error =
                "standard output is a terminal: pipe the movie into a player (| ffplay -) or a "
                "file";
            return false;
        }
        if (!stream && !staged_.Prepare(error)) return false;
        media::MovieOptions options = o;
        options.encoding.container = format;
        // Messages name the user's file, never its staging name.
        options.shown = stream ? "standard output" : Quoted(staged_.Path());
        writer_ = media::MovieWriter::Open(stream ? "pipe:1" : staged_.TempPath(), options, error);
        stream_ = stream;
        return writer_ != nullptr;
    }
    bool Video(const uint32_t* pixels, int rowPixels, std::string* error) override {
        return writer_->WriteVideo(pixels, rowPixels, error);
    }
    bool TakesDecodedPictures() const override { return true; }
    bool TakesAsItIs(const AVFrame* picture) const override {
        return writer_->TakesAsItIs(picture);
    }
    bool Video(const AVFrame* picture, std::string* error) override {
        return writer_->WriteVideo(picture, error);
    }
    bool CopyVideo(const uint8_t* data, size_t size, int64_t pts, bool key,
                   std::string* error) override {
        return writer_->CopyVideo(data, size, pts, key, error);
    }
    bool CopyPacket(const uint8_t* data, size_t size, int64_t pts, int64_t dts, bool key,
                    std::string* error) override {
        return writer_->WritePacket(data, size, pts, dts, key, error);
    }
    bool Audio(const float* interleaved, int samples, std::string* error) override {
        return writer_->WriteAudio(interleaved, samples, error);
    }
    bool ClipAudio(const float* interleaved, int samples, const media::SoundOrigin& origin,
                   std::string* error) override {
        return writer_->WriteAudio(interleaved, samples, error, &origin);
    }
    bool SoundAfter(int samples, const media::SoundOrigin* origin, std::string* error) override {
        return writer_->NoteSoundAfter(samples, origin, error);
    }
    int64_t CopiedSoundPackets() const override {
        return writer_ ? writer_->CopiedSoundPackets() : copiedSound_;
    }
    bool Finish(std::string* error) override {
        const bool ok = writer_->Finish(error);
        copiedSound_ = writer_->CopiedSoundPackets();
        writer_.reset();
        return ok;
    }
    bool Commit(std::string* error) override { return stream_ || staged_.Commit(error); }

  private:
    StagedOutput staged_;
    std::unique_ptr<media::MovieWriter> writer_;
    int64_t copiedSound_ = 0;
    bool stream_ = false;
};

class ImageFolderSink : public Sink {
  public:
    // Frames named by `pattern` in `dir`, staged in a hidden folder inside it.
    ImageFolderSink(const std::string& dir, FramePattern pattern, media::ImageFormat format,
                    int width, int height)
        : staged_(dir, StagedOutput::Kind::kFolder),
          pattern_(std::move(pattern)),
          format_(format),
          width_(width),
          height_(height) {
        // Only names this pattern writes, numbered past this render's last
        // frame, are frames of an earlier render.
        staged_.ReplaceOlder([this](const std::string& name) {
            int64_t n;
            return pattern_.Match(name, &n) && n >= count_;
        });
    }

    bool Open(std::string* error) { return staged_.Prepare(error); }
    bool Video(const uint32_t* pixels, int rowPixels, std::string* error) override {
        const std::string name = pattern_.Name(count_++);
        return media::WriteImage((fs::path(staged_.TempPath()) / name).string(),
                                 Quoted((fs::path(staged_.Path()) / name).string()), format_,
                                 pixels, width_, height_, rowPixels, error);
    }
    bool Audio(const float*, int, std::string*) override { return true; }
    bool Finish(std::string*) override { return true; }
    bool Commit(std::string* error) override { return staged_.Commit(error); }

  private:
    StagedOutput staged_;
    FramePattern pattern_;
    media::ImageFormat format_;
    int width_, height_;
    int64_t count_ = 0;
};

// FFmpeg's muxer for a container as users name it, or null.
const char* Muxer(const std::string& name) {
    return name == "mp4"                         ? "mp4"
           : name == "mov"                       ? "mov"
           : name == "mkv" || name == "matroska" ? "matroska"
           : name == "webm"                      ? "webm"
                                                 : nullptr;
}

// The movie format an output asks for, or null: standard output's container,
// or a file name's extension.
const char* MovieFormat(const std::string& output, const std::string& container) {
    if (output == "-") return Muxer(container.empty() ? "mkv" : container);
    const std::string ext = Lower(fs::path(output).extension().string());
    return ext.size() > 1 ? Muxer(ext.substr(1)) : nullptr;
}

}  // namespace

bool ClassifyOutput(const std::string& output, const std::string& container, OutputTarget* target,
                    std::string* error) {
    *target = OutputTarget{};
    target->path = output;
    const std::string ext = Lower(fs::path(output).extension().string());
    if (!container.empty() && output != "-") {
        *error =
            "--format is for a movie on standard output (-o -); a file's extension says its "
            "format";
        return false;
    }
    std::error_code ec;
    if (const char* format = MovieFormat(output, container)) {
        if (fs::is_directory(output, ec)) {
            *error = "cannot write " + Quoted(output) + ": it is a folder";
            return false;
        }
        target->muxer = format;
        return true;
    }
    target->kind = OutputTarget::Kind::kFrames;
    const std::string name = fs::path(output).filename().string();
    if (name.find('%') != std::string::npos) {
        target->image = media::ImageFormatOf(output);
        if (!FramePattern::Parse(name, &target->pattern) ||
            target->image == media::ImageFormat::kNone) {
            *error = "cannot write " + Quoted(output) +
                     ": a frame pattern has one %d (or %04d) and ends in .png or .jpg";
            return false;
        }
        target->folder = fs::path(output).parent_path().string();
        if (target->folder.empty()) target->folder = ".";
        if (fs::exists(target->folder, ec) && !fs::is_directory(target->folder, ec)) {
            *error = "cannot write " + Quoted(output) + ": " + Quoted(target->folder) +
                     " is not a folder";
            return false;
        }
        return true;
    }
    if (ext.empty() || fs::is_directory(output, ec)) {
        if (fs::exists(output, ec) && !fs::is_directory(output, ec)) {
            *error = "cannot write " + Quoted(output) +
                     ": a file of that name exists and is not a folder";
            return false;
        }
        target->folder = output;
        target->image = media::ImageFormat::kPng;
        FramePattern::Parse("frame%04d.png", &target->pattern);
        return true;
    }
    *error = "cannot write " + Quoted(output) +
             ": use a .mp4, .mov, .mkv or .webm file, a folder for PNG frames, or a frame "
             "pattern such as frames/f%04d.png";
    return false;
}

bool IsStreamContainer(const std::string& name) {
    return Muxer(name) != nullptr;
}

std::unique_ptr<Sink> OpenSink(const OutputTarget& target, const SinkOptions& options,
                               std::string* error) {
    if (target.kind == OutputTarget::Kind::kMovie) {
        auto movie = std::make_unique<MovieSink>(target.path);
        if (!movie->Open(target.muxer, options, error)) return nullptr;
        return movie;
    }
    auto images = std::make_unique<ImageFolderSink>(target.folder, target.pattern, target.image,
                                                    options.format.width, options.format.height);
    if (!images->Open(error)) return nullptr;
    return images;
}

std::unique_ptr<Sink> OpenSink(const std::string& output, const SinkOptions& options,
                               std::string* error) {
    OutputTarget target;
    if (!ClassifyOutput(output, options.encoding.container, &target, error)) return nullptr;
    return OpenSink(target, options, error);
}

}  // namespace tavhost

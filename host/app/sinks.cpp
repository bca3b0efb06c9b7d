#include "sinks.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "staged_output.h"

namespace fs = std::filesystem;

namespace tavhost {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

class MovieSink : public Sink {
  public:
    MovieSink(const std::string& path) : staged_(path, StagedOutput::Kind::kFile) {}

    bool Open(const std::string& format, const SinkOptions& o, std::string* error) {
        media::MovieWriter::Options options;
        options.width = o.width;
        options.height = o.height;
        options.fps = o.fps;
        options.preset = o.preset;
        options.crf = o.crf;
        options.format = format;
        writer_ = media::MovieWriter::Open(staged_.TempPath(), options, error);
        if (!writer_) staged_.NameUserPath(error);
        return writer_ != nullptr;
    }
    bool Video(const uint32_t* pixels, int rowPixels, std::string* error) override {
        return Named(writer_->WriteVideo(pixels, rowPixels, error), error);
    }
    bool Audio(const float* interleaved, int samples, std::string* error) override {
        return Named(writer_->WriteAudio(interleaved, samples, error), error);
    }
    bool Finish(std::string* error) override {
        const bool ok = writer_->Finish(error);
        writer_.reset();
        return Named(ok, error);
    }
    bool Commit(std::string* error) override { return staged_.Commit(error); }

  private:
    bool Named(bool ok, std::string* error) {
        if (!ok) staged_.NameUserPath(error);
        return ok;
    }
    StagedOutput staged_;
    std::unique_ptr<media::MovieWriter> writer_;
};

class PngFolderSink : public Sink {
  public:
    PngFolderSink(const std::string& dir, int width, int height)
        : staged_(dir, StagedOutput::Kind::kFolder), width_(width), height_(height) {}

    bool Open(std::string* error) { return staged_.Prepare(error); }
    bool Video(const uint32_t* pixels, int rowPixels, std::string* error) override {
        char name[32];
        std::snprintf(name, sizeof name, "frame%04lld.png", static_cast<long long>(count_++));
        const bool ok = media::WritePng((fs::path(staged_.TempPath()) / name).string(), pixels,
                                        width_, height_, rowPixels, error);
        if (!ok) staged_.NameUserPath(error);
        return ok;
    }
    bool Audio(const float*, int, std::string*) override { return true; }
    bool Finish(std::string*) override { return true; }
    bool Commit(std::string* error) override { return staged_.Commit(error); }

  private:
    StagedOutput staged_;
    int width_, height_;
    int64_t count_ = 0;
};

}  // namespace

std::unique_ptr<Sink> OpenSink(const std::string& output, const SinkOptions& options,
                               std::string* error) {
    const std::string ext = Lower(fs::path(output).extension().string());
    const char* format = ext == ".mp4"   ? "mp4"
                         : ext == ".mov" ? "mov"
                         : ext == ".mkv" ? "matroska"
                                         : nullptr;
    if (format) {
        auto sink = std::make_unique<MovieSink>(output);
        if (!sink->Open(format, options, error)) return nullptr;
        return sink;
    }
    if (ext.empty() || fs::is_directory(output)) {
        auto sink = std::make_unique<PngFolderSink>(output, options.width, options.height);
        if (!sink->Open(error)) return nullptr;
        return sink;
    }
    *error =
        "cannot write '" + output + "': use a .mp4, .mov or .mkv file, or a folder for PNG frames";
    return nullptr;
}

}  // namespace tavhost

#include "render.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <random>
#include <set>

#include "bundle.h"
#include "host.h"
#include "instance.h"
#include "media.h"
#include "progress.h"
#include "tav/mac_roman.h"

using tav::Utf8ToMacRoman;

namespace fs = std::filesystem;

namespace tavhost {

std::atomic<bool> gInterrupted{false};

namespace {

constexpr int32_t kUnset = INT32_MIN;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// --- Where the frames go. ---

class Sink {
  public:
    virtual ~Sink() = default;
    virtual bool Video(const uint32_t* pixels, int rowPixels, std::string* error) = 0;
    virtual bool Audio(const float* interleaved, int samples, std::string* error) = 0;
    virtual bool Finish(std::string* error) = 0;
};

// A movie written beside its final name and renamed into place when complete.
class MovieSink : public Sink {
  public:
    static std::unique_ptr<MovieSink> Open(const std::string& path, const std::string& format,
                                           const media::MovieWriter::Options& base,
                                           std::string* error) {
        auto sink = std::unique_ptr<MovieSink>(new MovieSink(path));
        media::MovieWriter::Options options = base;
        options.format = format;
        sink->writer_ = media::MovieWriter::Open(sink->temp_, options, error);
        if (!sink->writer_) {
            // Name the file the user asked for, not the one written beside it.
            if (size_t at = error->find(sink->temp_); at != std::string::npos)
                error->replace(at, sink->temp_.size(), path);
            return nullptr;
        }
        return sink;
    }
    ~MovieSink() override {
        writer_.reset();
        if (!finished_) std::remove(temp_.c_str());
    }
    bool Video(const uint32_t* pixels, int rowPixels, std::string* error) override {
        return writer_->WriteVideo(pixels, rowPixels, error);
    }
    bool Audio(const float* interleaved, int samples, std::string* error) override {
        return writer_->WriteAudio(interleaved, samples, error);
    }
    bool Finish(std::string* error) override {
        if (!writer_->Finish(error)) return false;
        writer_.reset();
        if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
            *error = "cannot write '" + path_ + "': " + std::strerror(errno);
            return false;
        }
        finished_ = true;
        return true;
    }

  private:
    explicit MovieSink(std::string path) : path_(path), temp_(path + ".partial") {}
    std::string path_, temp_;
    std::unique_ptr<media::MovieWriter> writer_;
    bool finished_ = false;
};

// A folder of frameNNNN.png files, written into a folder beside it and moved
// in when complete (the folder's earlier frames are replaced).
class PngSink : public Sink {
  public:
    static std::unique_ptr<PngSink> Open(const std::string& dir, int width, int height,
                                         std::string* error) {
        auto sink = std::unique_ptr<PngSink>(new PngSink(dir, width, height));
        std::error_code ec;
        fs::remove_all(sink->temp_, ec);
        if (!fs::create_directories(sink->temp_, ec) || ec) {
            *error = "cannot write '" + dir + "': " + ec.message();
            return nullptr;
        }
        return sink;
    }
    ~PngSink() override {
        std::error_code ec;
        if (!finished_) fs::remove_all(temp_, ec);
    }
    bool Video(const uint32_t* pixels, int rowPixels, std::string* error) override {
        char name[32];
        std::snprintf(name, sizeof name, "frame%04lld.png", static_cast<long long>(count_++));
        return media::WritePng((fs::path(temp_) / name).string(), pixels, width_, height_,
                               rowPixels, error);
    }
    bool Audio(const float*, int, std::string*) override { return true; }
    bool Finish(std::string* error) override {
        std::error_code ec;
        fs::create_directories(dir_, ec);
        if (!fs::is_directory(dir_)) {
            *error = "cannot write '" + dir_ + "': not a folder";
            return false;
        }
        for (const auto& entry : fs::directory_iterator(dir_, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("frame", 0) == 0 && entry.path().extension() == ".png")
                fs::remove(entry.path(), ec);
        }
        for (const auto& entry : fs::directory_iterator(temp_, ec)) {
            fs::rename(entry.path(), fs::path(dir_) / entry.path().filename(), ec);
            if (ec) {
                *error = "cannot write '" + dir_ + "': " + ec.message();
                return false;
            }
        }
        fs::remove_all(temp_, ec);
        finished_ = true;
        return true;
    }

  private:
    PngSink(std::string dir, int width, int height)
        : dir_(std::move(dir)), width_(width), height_(height) {
        while (dir_.size() > 1 && dir_.back() == '/') dir_.pop_back();
        temp_ = dir_ + ".partial";
    }
    std::string dir_, temp_;
    int width_, height_;
    int64_t count_ = 0;
    bool finished_ = false;
};

std::unique_ptr<Sink> OpenSink(const std::string& output, int width, int height,
                               media::Rational fps, std::string* error) {
    const std::string ext = Lower(fs::path(output).extension().string());
    media::MovieWriter::Options options;
    options.width = width;
    options.height = height;
    options.fps = fps;
    if (ext == ".mp4") return MovieSink::Open(output, "mp4", options, error);
    if (ext == ".mov") return MovieSink::Open(output, "mov", options, error);
    if (ext == ".mkv") return MovieSink::Open(output, "matroska", options, error);
    if (ext.empty() || fs::is_directory(output)) return PngSink::Open(output, width, height, error);
    *error =
        "cannot write '" + output + "': use a .mp4, .mov or .mkv file, or a folder for PNG frames";
    return nullptr;
}

// --- Where the transition goes. ---

struct SourceRef {
    int clip = 0;
    int64_t index = 0;
};

// The edited sequence: clip A (or the single clip) and clip B, with the
// transition's N frames from output frame `start` on.
struct Placement {
    TavPluginType type = kPluginUnknownType;
    int32_t frames = 0;  // N
    int32_t before = 0;
    int32_t after = 0;
    int64_t start = 0;
    int64_t total = 0;
    int64_t bStart = 0;  // output frame where clip B starts
    int64_t cut = 0;     // where a hard cut between A and B would fall
    int64_t clipFrames[2] = {0, 0};

    bool InTransition(int64_t t) const { return t >= start && t < start + frames; }

    // What an editor shows at output frame t without the transition.
    SourceRef HardCut(int64_t t) const {
        if (type != kPluginTransitionBetweenType) return {0, t};
        return t < cut ? SourceRef{0, t} : SourceRef{1, t - bStart};
    }

    // The source frame behind a frame number the plug-in asks for.
    bool Map(int32_t number, SourceRef* ref) const {
        const int64_t r = int64_t(number) - start;
        if (r < 0) return false;
        switch (type) {
            case kPluginTransitionBetweenType:
                if (r < frames)
                    *ref = {0, clipFrames[0] - before + r};
                else if (r < 2 * int64_t(frames))
                    *ref = {1, r - frames};
                else
                    return false;
                break;
            case kPluginTransitionBeforeType:
            case kPluginTransitionAfterType:
                if (r >= frames) return false;
                *ref = {0, start + r};
                break;
            default:
                return false;
        }
        return ref->index >= 0 && ref->index < clipFrames[ref->clip];
    }
};

bool Place(const TavPluginGetInfo& info, const std::string& bundle, size_t clipCount,
           const int64_t* clipFrames, Placement* p, std::vector<std::string>* warnings,
           std::string* error) {
    p->type = info.pluginType;
    p->clipFrames[0] = clipFrames[0];
    p->clipFrames[1] = clipCount > 1 ? clipFrames[1] : 0;
    const bool between = p->type == kPluginTransitionBetweenType;
    if (!between && p->type != kPluginTransitionBeforeType &&
        p->type != kPluginTransitionAfterType) {
        *error =
            bundle + " is not a transition (plug-in type " + std::to_string(int(p->type)) + ")";
        return false;
    }
    if (between && clipCount != 2) {
        *error = bundle + " goes between two clips: give two clips";
        return false;
    }
    if (!between && clipCount != 1) {
        *error = bundle + (p->type == kPluginTransitionBeforeType ? " opens" : " closes") +
                 " one clip: give one clip";
        return false;
    }
    const int32_t wanted = info.framesToBeRendered;
    if (info.takeFromClipBefore < 0 || info.takeFromClipAfter < 0 ||
        (wanted != kUnset && wanted < 0)) {
        *error = bundle + " asked for a negative number of frames";
        return false;
    }
    int64_t n = 0;
    if (between) {
        const int64_t nA = clipFrames[0], nB = clipFrames[1];
        int64_t before = info.takeFromClipBefore, after = info.takeFromClipAfter;
        if (wanted != kUnset && wanted == before && wanted == after) {
            n = before = after = std::min<int64_t>({wanted, nA, nB});  // overlapping clips
        } else {
            before = std::min(before, nA);
            after = std::min(after, nB);
            n = wanted == kUnset ? before + after : std::min<int64_t>(wanted, before + after);
        }
        p->before = int32_t(before);
        p->after = int32_t(after);
        const int64_t overlap = std::max<int64_t>(0, before + after - n);
        p->bStart = nA - overlap;
        p->cut = nA - overlap / 2;
        p->start = nA - before;
        p->total = p->bStart + nB;
    } else {
        n = std::min<int64_t>(wanted == kUnset ? 0 : wanted, clipFrames[0]);
        p->start = p->type == kPluginTransitionBeforeType ? 0 : clipFrames[0] - n;
        p->total = clipFrames[0];
        p->before = p->type == kPluginTransitionAfterType ? int32_t(n) : 0;
        p->after = p->type == kPluginTransitionBeforeType ? int32_t(n) : 0;
    }
    if (n <= 0) {
        *error = "the clips are too short for " + bundle + ": no transition frame";
        return false;
    }
    if (wanted != kUnset && n < wanted)
        warnings->push_back("the clips are shorter than the transition: " + std::to_string(n) +
                            " frames instead of " + std::to_string(wanted));
    p->frames = int32_t(n);
    return true;
}

// --- Source frames for the plug-in. ---

class TimelineFrames : public FrameProvider {
  public:
    TimelineFrames(const Placement& placement,
                   std::vector<std::unique_ptr<media::ClipReader>>& readers)
        : placement_(placement), readers_(readers) {}

    TavPluginResult ProvideFrame(int32_t number, bool lowQuality, PixMap& picture,
                                 std::vector<float>& audio, int16_t& volume) override {
        SourceRef ref;
        if (!placement_.Map(number, &ref)) return kPluginCantGetNeededFrame;
        const media::Frame* frame = readers_[size_t(ref.clip)]->Get(ref.index, &error);
        if (!frame) return kPluginCantGetNeededFrame;
        const int w = picture.bounds.right - picture.bounds.left;
        const int h = picture.bounds.bottom - picture.bounds.top;
        if (w == frame->width && h == frame->height) {
            for (int y = 0; y < h; ++y)
                std::memcpy(TavPixelRow(picture, y), frame->pixels.data() + size_t(y) * w,
                            size_t(w) * 4);
        } else {
            media::Scale(frame->pixels.data(), frame->width, frame->height, frame->width,
                         picture.baseAddr, w, h, picture.rowBytes / 4, lowQuality);
        }
        audio.assign(frame->audio.begin(), frame->audio.end());
        volume = 255;
        return kPluginOK;
    }

    std::string error;

  private:
    const Placement& placement_;
    std::vector<std::unique_ptr<media::ClipReader>>& readers_;
};

// --- Sound: fades set on a clip, and the sound held until they are known. ---

struct Fade {
    bool in = false, out = false;
    int64_t inFrames = 0, outFrames = 0, clipFrames = 0;
};

void ApplyFade(const Fade& fade, int64_t clipIndex, media::Rational fps,
               std::vector<float>& chunk) {
    if (!fade.in && !fade.out) return;
    const int64_t first = media::FrameSampleStart(clipIndex, fps);
    const int64_t inLen = fade.in ? media::FrameSampleStart(fade.inFrames, fps) : 0;
    const int64_t end = media::FrameSampleStart(fade.clipFrames, fps);
    const int64_t outStart =
        fade.out ? media::FrameSampleStart(fade.clipFrames - fade.outFrames, fps) : end;
    for (size_t s = 0; s < chunk.size() / media::kChannels; ++s) {
        const int64_t pos = first + int64_t(s);
        double gain = 1.0;
        if (inLen > 0 && pos < inLen) gain *= double(pos) / double(inLen);
        if (fade.out && pos >= outStart && end > outStart)
            gain *= std::max(0.0, double(end - pos) / double(end - outStart));
        for (int c = 0; c < media::kChannels; ++c) chunk[s * media::kChannels + c] *= float(gain);
    }
}

struct Chunk {
    int clip;
    int64_t clipIndex;
    std::vector<float> samples;
};

void InitClipRecord(TavPluginClipInfo& clip, const std::string& path, int64_t frames) {
    std::memset(&clip, 0, sizeof clip);
    clip.volume = 255;
    const std::string name = Utf8ToMacRoman(fs::path(path).filename().string());
    std::strncpy(clip.name, name.c_str(), sizeof clip.name - 1);
    clip.ver2.frameSpeed = 100;
    clip.ver4.clipRef.clipType = kRefRegularClipType;
    std::strncpy(clip.ver4.clipRef.name, name.c_str(), sizeof clip.ver4.clipRef.name - 1);
    clip.ver4.clipRef.frameCount = int32_t(std::min<int64_t>(frames, INT32_MAX));
    clip.ver4.clipRef.out = clip.ver4.clipRef.frameCount;
}

// --- The contact sheet: frames of the transition side by side. ---

class ContactSheet {
  public:
    ContactSheet(int frameW, int frameH, int32_t transitionFrames, const std::string& title) {
        count_ = std::min<int32_t>(12, transitionFrames);
        cols_ = std::min(4, count_);
        rows_ = (count_ + cols_ - 1) / cols_;
        thumbW_ = 240;
        thumbH_ = std::max(2, thumbW_ * frameH / std::max(frameW, 1));
        const int w = kMargin + cols_ * (thumbW_ + kMargin);
        const int h = kTitle + rows_ * (thumbH_ + kLabel + kMargin) + kMargin;
        const Rect bounds = {0, 0, int16_t(h), int16_t(w)};
        NewGWorld(&world_, 32, &bounds, nullptr, nullptr, 0);
        for (int32_t i = 0; i < count_; ++i)
            picks_.push_back(count_ == 1 ? 0
                                         : int32_t(std::lround(double(i) * (transitionFrames - 1) /
                                                               (count_ - 1))));
        Draw([&] {
            const RGBColor back = {0x2000, 0x2000, 0x2000};
            RGBBackColor(&back);
            EraseRect(&bounds);
            Text(kMargin, kTitle - 10, 16, title);
        });
        total_ = transitionFrames;
    }
    ~ContactSheet() { DisposeGWorld(world_); }

    // Offers transition frame i; kept if it is one of the picks.
    void Offer(int32_t i, const PixMap& frame) {
        const auto it = std::find(picks_.begin(), picks_.end(), i);
        if (it == picks_.end() || !world_) return;
        const int slot = int(it - picks_.begin());
        const int x = kMargin + (slot % cols_) * (thumbW_ + kMargin);
        const int y = kTitle + (slot / cols_) * (thumbH_ + kLabel + kMargin);
        PixMap& sheet = **GetGWorldPixMap(world_);
        media::Scale(frame.baseAddr, frame.bounds.right - frame.bounds.left,
                     frame.bounds.bottom - frame.bounds.top, frame.rowBytes / 4,
                     TavPixelRow(sheet, y) + x, thumbW_, thumbH_, sheet.rowBytes / 4);
        Draw([&] {
            Text(x, y + thumbH_ + kLabel - 5, 12,
                 "frame " + std::to_string(i + 1) + " of " + std::to_string(total_));
        });
    }

    bool Save(const std::string& path, std::string* error) {
        if (!world_) {
            *error = "cannot make the contact sheet";
            return false;
        }
        PixMap& sheet = **GetGWorldPixMap(world_);
        return WriteBeside(
            path, ".partial.png",
            [&](const std::string& temp, std::string* e) {
                return media::WritePng(temp, sheet.baseAddr, sheet.bounds.right,
                                       sheet.bounds.bottom, sheet.rowBytes / 4, e);
            },
            error);
    }

  private:
    static constexpr int kMargin = 8, kLabel = 18, kTitle = 30;

    template <class F>
    void Draw(F f) {
        CGrafPtr port;
        GDHandle device;
        GetGWorld(&port, &device);
        SetGWorld(world_, nullptr);
        f();
        SetGWorld(port, device);
    }
    static void Text(int x, int y, short size, const std::string& utf8) {
        Str255 s;
        ToPascal(Utf8ToMacRoman(utf8), s);
        TextSize(size);
        ForeColor(whiteColor);
        MoveTo(short(x), short(y));
        DrawString(s);
    }

    GWorldPtr world_ = nullptr;
    int32_t count_ = 0, total_ = 0;
    int cols_ = 1, rows_ = 1, thumbW_ = 0, thumbH_ = 0;
    std::vector<int32_t> picks_;
};

std::string Named(const std::string& bundle, const char* what, int32_t code) {
    return bundle + ": " + what + " failed with " + ResultName(code);
}

}  // namespace

bool WriteBeside(const std::string& path, const std::string& suffix,
                 const std::function<bool(const std::string&, std::string*)>& write,
                 std::string* error) {
    const std::string temp = path + suffix;
    if (!write(temp, error)) {
        std::remove(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        *error = "cannot write '" + path + "': " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool Render(const RenderJob& job, RenderSummary* summary, std::string* error) {
    const auto started = std::chrono::steady_clock::now();
    if (!(job.speed >= 0.0f && job.speed <= 1.0f)) {
        *error = "speed must be between 0 and 1";
        return false;
    }
    if (job.clips.empty()) {
        *error = "no clip given";
        return false;
    }
    auto bundle = Bundle::Open(job.bundle, error);
    if (!bundle) return false;
    std::vector<VariantInfo> variants;
    if (!DescribeVariants(*bundle, job.speed, &variants, error)) return false;
    if (std::none_of(variants.begin(), variants.end(),
                     [&](const VariantInfo& v) { return v.which == job.variant; })) {
        *error = bundle->Name() + " has no variant " + std::to_string(job.variant) +
                 " (it has variants 1 to " +
                 std::to_string(variants.empty() ? 0 : variants.back().which) + ")";
        return false;
    }

    // The clips: their sizes and lengths at the output rate.
    std::vector<media::ClipInfo> infos(job.clips.size());
    for (size_t i = 0; i < job.clips.size(); ++i)
        if (!media::Probe(job.clips[i], &infos[i], error)) return false;
    const media::Rational fps = infos[0].fps;
    int width = job.width > 0 ? job.width : infos[0].width;
    int height = job.height > 0 ? job.height : infos[0].height;
    width = std::min(width + (width & 1), 32766);
    height = std::min(height + (height & 1), 32766);
    std::vector<std::unique_ptr<media::ClipReader>> readers;
    media::ClipReader::Options readOptions;
    readOptions.width = width;
    readOptions.height = height;
    readOptions.fps = fps;
    readOptions.fastScaling = job.preview;
    int64_t clipFrames[2] = {0, 0};
    for (size_t i = 0; i < job.clips.size() && i < 2; ++i) {
        readers.push_back(media::ClipReader::Open(job.clips[i], readOptions, error));
        if (!readers.back()) return false;
        clipFrames[i] = readers.back()->FrameCount();
    }

    // The plug-in describes the transition.
    Host host(AudioLayout{media::kSampleRate, media::kChannels,
                          int32_t(media::kSampleRate * fps.den / fps.num)});
    if (!job.caption.empty()) host.SetString(17000, 1, Utf8ToMacRoman(job.caption));
    TransitionInstance inst(*bundle, host, job.variant);
    inst.Params().getInfo.pluginType = kPluginUnknownType;
    inst.Params().getInfo.framesToBeRendered = kUnset;
    if (int32_t code = inst.GetInfo(job.speed); code != kPluginOK) {
        *error = Named(bundle->Name(), "GetInfo", code);
        return false;
    }
    Placement place;
    if (!Place(inst.Params().getInfo, bundle->Name(), job.clips.size(), clipFrames, &place,
               &summary->warnings, error)) {
        inst.Terminate(0);  // the instance ends as it began: the plug-in frees its record
        return false;
    }
    InitClipRecord(host.Clip(), job.clips[0], clipFrames[0]);
    if (int32_t code = inst.Initialize(); code != kPluginOK) {
        *error = Named(bundle->Name(), "Initialize", code);
        inst.Terminate(place.frames);
        return false;
    }

    TimelineFrames frames(place, readers);
    host.SetProvider(&frames);
    GWorldPtr out = host.OutputWorld(width, height);
    if (!out) {
        *error = "out of memory for a " + std::to_string(width) + "x" + std::to_string(height) +
                 " frame";
        return false;
    }
    PixMap& outMap = **GetGWorldPixMap(out);
    const Rect frameRect = {0, 0, int16_t(height), int16_t(width)};

    auto sink = OpenSink(job.output, width, height, fps, error);
    if (!sink) return false;
    std::unique_ptr<ContactSheet> sheet;
    if (!job.contactSheet.empty())
        sheet = std::make_unique<ContactSheet>(width, height, place.frames,
                                               bundle->Name() + "  variant " +
                                                   std::to_string(job.variant) + "  speed " +
                                                   std::to_string(job.speed).substr(0, 4) + "  " +
                                                   std::to_string(place.frames) + " frames");

    summary->seed = job.seed ? *job.seed : std::random_device{}();
    std::srand(summary->seed);

    Progress progress(place.total, job.quiet);
    Fade fades[2];
    std::deque<Chunk> held;
    bool holding = false, terminated = false;
    std::set<std::string> problemsSeen;
    auto finishInstance = [&] {
        if (terminated) return;
        terminated = true;
        inst.Terminate(place.frames);
        const TavPluginClipInfo& clip = host.Clip();
        Fade& f = fades[0];
        f.clipFrames = clipFrames[0];
        f.in = clip.fadeIn != 0 && clip.ver2.fadeInFrames > 0;
        f.inFrames = std::min<int64_t>(clip.ver2.fadeInFrames, clipFrames[0]);
        f.out = clip.fadeOut != 0 && clip.ver2.fadeOutFrames > 0;
        f.outFrames = std::min<int64_t>(clip.ver2.fadeOutFrames, clipFrames[0]);
    };
    auto emitAudio = [&](Chunk& chunk) {
        ApplyFade(fades[chunk.clip], chunk.clipIndex, fps, chunk.samples);
        return sink->Audio(chunk.samples.data(), int(chunk.samples.size() / media::kChannels),
                           error);
    };

    for (int64_t t = 0; t < place.total; ++t) {
        if (gInterrupted) {
            *error = "interrupted";
            finishInstance();
            return false;
        }
        const SourceRef cutRef = place.HardCut(t);
        std::string readError;
        const media::Frame* cutFrame = readers[size_t(cutRef.clip)]->Get(cutRef.index, &readError);
        if (!cutFrame) {
            *error = "cannot read frame " + std::to_string(cutRef.index) + " of '" +
                     job.clips[size_t(cutRef.clip)] + "'" +
                     (readError.empty() ? "" : ": " + readError);
            finishInstance();
            return false;
        }
        for (int y = 0; y < height; ++y)
            std::memcpy(TavPixelRow(outMap, y), cutFrame->pixels.data() + size_t(y) * width,
                        size_t(width) * 4);
        const size_t floats =
            size_t(media::FrameSampleStart(t + 1, fps) - media::FrameSampleStart(t, fps)) *
            media::kChannels;
        Chunk chunk{cutRef.clip, cutRef.index, cutFrame->audio};
        chunk.samples.resize(floats, chunk.samples.empty() ? 0.0f : chunk.samples.back());

        if (place.InTransition(t)) {
            holding = true;
            const int32_t i = int32_t(t - place.start);
            host.ClearOutputAudio(floats);
            const int32_t code =
                inst.DoFrame(int32_t(place.start), i, place.frames, frameRect, job.preview);
            if (code != kPluginOK) {
                *error = bundle->Name() + ": DoFrame failed at transition frame " +
                         std::to_string(i + 1) + " of " + std::to_string(place.frames) + " with " +
                         ResultName(code) + (frames.error.empty() ? "" : " (" + frames.error + ")");
                finishInstance();
                return false;
            }
            for (const std::string& problem : host.Problems())
                if (problemsSeen.insert(problem).second)
                    summary->warnings.push_back(bundle->Name() + ": " + problem);
            host.ClearProblems();
            // A frame the plug-in mixed no sound into keeps the cut's sound.
            if (host.MixCount() > 0) chunk.samples = host.OutputAudio();
            if (place.type != kPluginTransitionBetweenType) chunk.clip = 0;
            if (sheet) sheet->Offer(i, outMap);
        }
        if (!sink->Video(outMap.baseAddr, outMap.rowBytes / 4, error)) {
            finishInstance();
            return false;
        }
        if (holding)
            held.push_back(std::move(chunk));
        else if (!emitAudio(chunk))
            return false;
        if (t == place.start + place.frames - 1) {
            // The transition is complete: its clip fades are known now.
            finishInstance();
            for (Chunk& c : held)
                if (!emitAudio(c)) return false;
            held.clear();
            holding = false;
        }
        progress.Update(t + 1);
    }
    finishInstance();
    progress.Done();
    if (!sink->Finish(error)) return false;
    if (sheet && !sheet->Save(job.contactSheet, error)) return false;

    summary->frames = place.total;
    summary->transitionFrames = place.frames;
    summary->transitionStart = place.start;
    summary->seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return true;
}

bool DescribeVariants(const Bundle& bundle, float speed, std::vector<VariantInfo>* variants,
                      std::string* error) {
    for (int16_t which = 1; which <= 5; ++which) {
        Host host;
        TransitionInstance inst(bundle, host, which);
        inst.Params().getInfo.pluginType = kPluginUnknownType;
        inst.Params().getInfo.framesToBeRendered = kUnset;
        const int32_t code = inst.GetInfo(speed);
        const TavPluginGetInfo info = inst.Params().getInfo;
        inst.Terminate(0);
        if (code != kPluginOK) {
            *error = Named(bundle.Name(), "GetInfo", code);
            return false;
        }
        if (info.pluginType == kPluginUnknownType) continue;
        variants->push_back({which, int(info.pluginType),
                             info.framesToBeRendered == kUnset ? -1 : info.framesToBeRendered,
                             info.takeFromClipBefore, info.takeFromClipAfter});
    }
    return true;
}

bool RenderPlaceholder(const std::string& bundleName, int width, int height,
                       const std::string& caption, const std::string& output, std::string* error) {
    auto bundle = Bundle::Open(bundleName, error);
    if (!bundle) return false;
    Host host;
    if (!caption.empty()) host.SetString(17000, 1, Utf8ToMacRoman(caption));
    GWorldPtr world = host.OutputWorld(width, height);
    if (!world) {
        *error = "cannot make a " + std::to_string(width) + "x" + std::to_string(height) + " frame";
        return false;
    }
    TransitionInstance inst(*bundle, host, 1);
    const Rect rect = {0, 0, int16_t(height), int16_t(width)};
    if (int32_t code = inst.Placeholder(rect); code != kPluginOK) {
        *error = Named(bundle->Name(), "the placeholder", code);
        return false;
    }
    PixMap& pm = **GetGWorldPixMap(world);
    return WriteBeside(
        output, ".partial.png",
        [&](const std::string& temp, std::string* e) {
            return media::WritePng(temp, pm.baseAddr, width, height, pm.rowBytes / 4, e);
        },
        error);
}

}  // namespace tavhost

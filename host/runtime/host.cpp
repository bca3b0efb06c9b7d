// The host's state and the checks around every plug-in call.
#include "host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tav/quickdraw.h"

namespace tavhost {

namespace {

thread_local Host* tCurrentHost = nullptr;

// Makes a host current for the length of one plug-in call, and puts back the
// one that was current before (calls may nest) on every way out.
class CurrentHostScope {
  public:
    explicit CurrentHostScope(Host* host) : outer_(tCurrentHost) { tCurrentHost = host; }
    ~CurrentHostScope() { tCurrentHost = outer_; }
    CurrentHostScope(const CurrentHostScope&) = delete;
    CurrentHostScope& operator=(const CurrentHostScope&) = delete;

  private:
    Host* outer_;
};

GWorldPtr NewWorld(int32_t width, int32_t height) {
    GWorldPtr world = nullptr;
    const Rect bounds = {0, 0, int16_t(height), int16_t(width)};
    if (NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0) != noErr) return nullptr;
    return world;
}

}  // namespace

Drawing DrawingFromEnvironment() {
    const char* drawing = std::getenv("TAV_DRAW");
    return drawing && std::string_view(drawing) == "direct" ? Drawing::kDirect : Drawing::kRecorded;
}

Host::Host(OutputFormat format) : format_(format) {
    transition_.speed = 0.5f;
    outputAudio_.assign(format_.FloatsPerFrame(), 0.0f);
}

Host::~Host() {
    for (auto& frame : frames_) DisposeGWorld(frame->world);
    DisposeGWorld(output_);
    for (Ptr block : blocks_) std::free(block);
}

Host* Host::Current() {
    return tCurrentHost;
}

void Host::SetString(int16_t list, int16_t index, std::string_view text) {
    strings_[{list, index}] = std::string(text);
}

GWorldPtr Host::EnsureOutputWorld(int32_t width, int32_t height) {
    if (output_) {
        Rect bounds;
        GetPortBounds(output_, &bounds);
        if (bounds.right == width && bounds.bottom == height) return output_;
        recorder_.WorldGone(**GetGWorldPixMap(output_));
        DisposeGWorld(output_);
        output_ = nullptr;
    }
    if (width <= 0 || height <= 0 || width > kTavMaxWorldSide || height > kTavMaxWorldSide)
        return nullptr;
    output_ = NewWorld(width, height);
    return output_;
}

Composed Host::Compose(ComposeTarget* target) {
    return recorder_.Compose(target);
}

void Host::ClearOutputAudio(size_t floats) {
    outputAudio_.assign(floats, 0.0f);
    mixCount_ = 0;
}

int Host::LentFrameCount() const {
    return int(std::count_if(frames_.begin(), frames_.end(), [](auto& f) { return f->lent; }));
}

int32_t Host::Call(TavPluginMainProc main, int32_t which, TavPluginParams& params) {
    CGrafPtr portBefore;
    GDHandle deviceBefore;
    GetGWorld(&portBefore, &deviceBefore);
    PixMapHandle outputMap = params.frame ? GetGWorldPixMap(params.frame) : nullptr;
    const SInt8 handleBefore = outputMap ? HGetState(reinterpret_cast<Handle>(outputMap)) : 0;
    const GWorldFlags pixelsBefore = outputMap ? GetPixelsState(outputMap) : 0;

    if (uint8_t(params.selector) == kPlugInitialize) {
        gains_.clear();
        previousGains_.clear();
    } else if (uint8_t(params.selector) == kPlugDoFrame) {
        previousGains_ = std::move(gains_);
        gains_.clear();
    }
    const bool recording =
        drawing_ == Drawing::kRecorded && uint8_t(params.selector) == kPlugDoFrame && params.frame;
    if (recording) recorder_.Begin(params.frame, params.frameRect);
    int32_t result;
    {
        CurrentHostScope current(this);
        result = main(which, &params);
    }

    const auto selector = uint8_t(params.selector);
    TakeBackLentFrames(selector);
    if (recording) {
        recorder_.EndCall();
        if (!composeLater_ && Compose(nullptr) == Composed::kFailed) recorder_.NotePictureFailed();
        // A picture that could not be drawn after its frame was lent.
        if (recorder_.PictureFailed() && result == kPluginOK) result = kPluginCantGetNeededFrame;
    }
    if (heldTransitions_ > 0) {
        Problem("transition record not released");
        heldTransitions_ = 0;
    }
    if (outputMap) {
        if (HGetState(reinterpret_cast<Handle>(outputMap)) != handleBefore)
            Problem("output pixel map handle state not restored");
        if (GetPixelsState(outputMap) != pixelsBefore) Problem("output pixels state not restored");
    }
    // The placeholder leaves the output world current by design; the host
    // takes its own port back.
    CGrafPtr portAfter;
    GDHandle deviceAfter;
    GetGWorld(&portAfter, &deviceAfter);
    if (selector == kPlugFilePlaceHolder)
        SetGWorld(portBefore, deviceBefore);
    else if (portAfter != portBefore || deviceAfter != deviceBefore)
        Problem("current port not restored");
    return result;
}

void Host::TakeBackLentFrames(uint8_t selector) {
    bool kept = false;
    for (auto& frame : frames_) {
        if (!frame->lent) continue;
        kept = true;
        frame->lent = false;
        PixMapHandle pm = GetGWorldPixMap(frame->world);
        HSetState(reinterpret_cast<Handle>(pm), frame->handleStateAtLoan);
        SetPixelsState(pm, frame->pixelsStateAtLoan);
    }
    if (kept) Problem("source frames not released after selector " + std::to_string(selector));
}

Ptr Host::NewBlock(int32_t byteCount, bool clear) {
    if (byteCount < 0) return nullptr;
    Ptr block = static_cast<Ptr>(clear ? std::calloc(1, size_t(byteCount) + 1)
                                       : std::malloc(size_t(byteCount) + 1));
    if (!block) return nullptr;
    try {
        blocks_.insert(block);
    } catch (...) {
        std::free(block);
        throw;
    }
    return block;
}

void Host::DisposeBlock(Ptr block) {
    if (!block) return;
    if (blocks_.erase(block) == 0) {
        Problem("DisposePtr of a block this host did not hand out");
        return;
    }
    std::free(block);
}

void Host::GetLocalizedString(unsigned char* str, int16_t list, int16_t index) {
    auto it = strings_.find({list, index});
    ToPascal(it == strings_.end() ? std::string_view() : std::string_view(it->second), str);
}

LentFrame* Host::FindLent(TavFrameCookie cookie) {
    for (auto& frame : frames_)
        if (frame.get() == cookie && frame->lent) return frame.get();
    return nullptr;
}

LentFrame& Host::SlotForLoan(int32_t width, int32_t height) {
    LentFrame* reuse = nullptr;
    for (auto& frame : frames_) {
        if (frame->lent) continue;
        if (frame->world && frame->width == width && frame->height == height) return *frame;
        if (!reuse) reuse = frame.get();
    }
    if (!reuse) {
        frames_.push_back(std::make_unique<LentFrame>());
        reuse = frames_.back().get();
    }
    DisposeGWorld(reuse->world);
    reuse->world = NewWorld(width, height);
    reuse->width = width;
    reuse->height = height;
    return *reuse;
}

TavPluginResult Host::GetFrame(int32_t number, GWorldPtr* world, int32_t width, int32_t height,
                               int32_t quality, int16_t* volume, TavFrameCookie* cookie) {
    if (!world || !volume || !cookie) return kPluginBadParams;
    // Beyond what a world can hold: the plug-in learns it cannot have the memory.
    if (width > kTavMaxWorldSide || height > kTavMaxWorldSide) return kPluginOutOfMemory;
    // A frame of no area is served as a single pixel, so the plug-in still
    // gets a world to lock and release.
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (!provider_) return kPluginCantGetNeededFrame;
    LentFrame& frame = SlotForLoan(width, height);
    if (!frame.world) return kPluginOutOfMemory;
    frame.audio.clear();
    int16_t frameVolume = 255;
    PixMapHandle pm = GetGWorldPixMap(frame.world);
    (*pm)->watcher = nullptr;
    frame.pending = false;
    // While the output is recorded the picture is drawn only if its pixels are used.
    const bool defer = recorder_.Recording();
    const bool lowQuality = quality == kDVLowQuality;
    const TavPluginResult code = provider_->ProvideFrame(number, lowQuality, defer ? nullptr : *pm,
                                                         frame.audio, frameVolume);
    if (code != kPluginOK) return code;
    if (defer) recorder_.Defer(frame, lowQuality);
    frame.lent = true;
    frame.number = number;
    frame.volume = frameVolume;
    frame.handleStateAtLoan = HGetState(reinterpret_cast<Handle>(pm));
    frame.pixelsStateAtLoan = GetPixelsState(pm);
    *world = frame.world;
    *volume = frameVolume;
    *cookie = &frame;
    return kPluginOK;
}

TavPluginResult Host::ReleaseFrame(TavFrameCookie cookie) {
    LentFrame* frame = FindLent(cookie);
    if (!frame) {
        Problem("ReleaseFrame of a frame that is not held");
        return kPluginBadParams;
    }
    PixMapHandle pm = GetGWorldPixMap(frame->world);
    if (HGetState(reinterpret_cast<Handle>(pm)) != frame->handleStateAtLoan ||
        GetPixelsState(pm) != frame->pixelsStateAtLoan)
        Problem("source frame " + std::to_string(frame->number) +
                " released with its pixel map still locked");
    frame->lent = false;
    return kPluginOK;
}

TavPluginResult Host::MixAudio(TavFrameCookie cookie, int32_t level) {
    LentFrame* frame = FindLent(cookie);
    if (!frame) {
        Problem("MixAudio of a frame that is not held");
        return kPluginBadParams;
    }
    ++mixCount_;
    const float gain = float(std::clamp(level, 0, 256)) / 256.0f;
    // The level moves smoothly: from the one the source's previous frame was
    // mixed at in the previous DoFrame (when it was) to this one, reached at
    // the frame's last sample, so a fade has no step at each frame's start.
    const auto previous = previousGains_.find(frame->number - 1);
    const float from = previous != previousGains_.end() ? previous->second : gain;
    gains_[frame->number] = gain;
    const std::vector<float>& in = frame->audio;
    if (in.empty() || outputAudio_.empty()) return kPluginOK;
    // A source frame a sample shorter than the output frame repeats its last
    // sample rather than leaving a gap.
    const size_t channels = size_t(std::max(1, format_.sound.channels));
    const size_t samples = outputAudio_.size() / channels;
    for (size_t i = 0; i < outputAudio_.size(); ++i) {
        const size_t s = i / channels;
        const float g = from + (gain - from) * float(s + 1) / float(samples);
        const float v = i < in.size()           ? in[i]
                        : in.size() >= channels ? in[in.size() - channels + i % channels]
                                                : 0.0f;
        outputAudio_[i] += v * g;
    }
    return kPluginOK;
}

TavPluginResult Host::GetMovieInfo(int32_t* width, int32_t* height, float* fps) {
    if (!output_) return kPluginFailed;
    Rect bounds;
    GetPortBounds(output_, &bounds);
    if (width) *width = bounds.right - bounds.left;
    if (height) *height = bounds.bottom - bounds.top;
    if (fps) *fps = format_.fps.den > 0 ? float(format_.fps.num) / float(format_.fps.den) : 0.0f;
    return kPluginOK;
}

TavPluginResult Host::GetClipInfo(int32_t which, TavPluginClipInfo* info) {
    if (which != 1 || !info) return kPluginBadParams;
    std::memcpy(info, &clip_, sizeof clip_);
    return kPluginOK;
}

TavPluginResult Host::SetClipInfo(const TavPluginClipInfo* info) {
    if (!info) return kPluginBadParams;
    std::memcpy(&clip_, info, sizeof clip_);
    return kPluginOK;
}

TavPluginResult Host::GetTransitionInfo(TavPluginTransitionInfo** info) {
    if (!info) return kPluginBadParams;
    *info = &transition_;
    ++heldTransitions_;
    return kPluginOK;
}

TavPluginResult Host::ReleaseTransitionInfo(TavPluginTransitionInfo* info) {
    if (info != &transition_ || heldTransitions_ == 0) {
        Problem("ReleaseTransitionInfo of a record that is not held");
        return kPluginBadParams;
    }
    --heldTransitions_;
    return kPluginOK;
}

void ToPascal(std::string_view text, unsigned char* out) {
    const size_t n = std::min<size_t>(text.size(), 255);
    out[0] = static_cast<unsigned char>(n);
    if (n > 0) std::memcpy(out + 1, text.data(), n);
}

const char* ResultName(int32_t code) {
    static const char* const kNames[] = {
        "kPluginOK",
        "kPluginCancel",
        "kPluginFinished",
        "kPluginBadParams",
        "kPluginOutOfMemory",
        "kPluginOutOfDiskSpace",
        "kPluginFailed",
        "kPluginCantGetNeededFrame",
        "kPluginUnimplemented",
        "kPluginTryAgainLater",
        "kPluginAppIsTooOld",
        "kPluginAppIsTooNew",
    };
    return code >= 0 && code < int32_t(std::size(kNames)) ? kNames[code] : "unknown result";
}

}  // namespace tavhost

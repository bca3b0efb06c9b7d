// The host services and the checks around every plug-in call.
#include "host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tav/quickdraw.h"

namespace tavhost {

namespace {

thread_local Host* tCurrentHost = nullptr;

// Host of an instance-less service: the one whose call is in progress.
Host* Current() {
    return tCurrentHost;
}

Ptr SvcNewPtr(int32_t byteCount) {
    return Current() ? Current()->NewBlock(byteCount, false) : nullptr;
}
Ptr SvcNewPtrClear(int32_t byteCount) {
    return Current() ? Current()->NewBlock(byteCount, true) : nullptr;
}
void SvcDisposePtr(Ptr block) {
    if (Current()) Current()->DisposeBlock(block);
}

void SvcPtoCstr(char* dst, const unsigned char* src) {
    if (!dst || !src) return;
    std::memcpy(dst, src + 1, src[0]);
    dst[src[0]] = '\0';
}

void SvcCtoPstr(unsigned char* dst, const char* src) {
    if (dst && src) ToPascal(src, dst);
}

void SvcPstrcpy(unsigned char* dst, const unsigned char* src) {
    if (dst && src) std::memmove(dst, src, size_t(src[0]) + 1);
}

char* SvcStrcpy(char* dst, const char* src) {
    return std::strcpy(dst, src);
}
uint32_t SvcStrlen(const char* s) {
    return s ? uint32_t(std::strlen(s)) : 0;
}

void SvcGetLocalizedString(unsigned char* str, int16_t list, int16_t index) {
    if (!str) return;
    if (Current())
        Current()->GetLocalizedString(str, list, index);
    else
        str[0] = 0;
}

TavPluginResult SvcGetFrame(TavPluginInstance instance, int32_t number, GWorldPtr* world,
                            int32_t width, int32_t height, int32_t quality, int16_t* volume,
                            TavFrameCookie* cookie) {
    return Host::FromInstance(instance)->GetFrame(number, world, width, height, quality, volume,
                                                  cookie);
}

TavPluginResult SvcReleaseFrame(TavPluginInstance instance, TavFrameCookie cookie) {
    return Host::FromInstance(instance)->ReleaseFrame(cookie);
}

TavPluginResult SvcGetAudioFrame(TavPluginInstance, int32_t, int16_t**, int32_t*, TavFrameCookie*) {
    return kPluginUnimplemented;
}

TavPluginResult SvcReleaseAudioFrame(TavPluginInstance, TavFrameCookie) {
    return kPluginUnimplemented;
}

TavPluginResult SvcGetMovieInfo(TavPluginInstance instance, int32_t* width, int32_t* height,
                                float* fps) {
    Host* host = Host::FromInstance(instance);
    if (!host->OutputWorld()) return kPluginFailed;
    Rect bounds;
    GetPortBounds(host->OutputWorld(), &bounds);
    if (width) *width = bounds.right - bounds.left;
    if (height) *height = bounds.bottom - bounds.top;
    if (fps) *fps = float(host->Audio().sampleRate) / float(host->Audio().samplesPerFrame);
    return kPluginOK;
}

TavPluginResult SvcGetClipInfo(TavPluginInstance instance, int32_t which, TavPluginClipInfo* info) {
    return Host::FromInstance(instance)->GetClipInfo(which, info);
}

TavPluginResult SvcSetClipInfo(TavPluginInstance instance, TavPluginClipInfo* info) {
    return Host::FromInstance(instance)->SetClipInfo(info);
}

TavPluginResult SvcBlit(PixMapPtr src, PixMapPtr dst, const Rect* srcRect, const Rect* dstRect,
                        int32_t) {
    if (!src || !dst || !srcRect || !dstRect) return kPluginBadParams;
    return BlitPixMaps(src, dst, *srcRect, *dstRect);
}

TavPluginResult SvcFillRect(PixMapPtr dst, const Rect* rect, const RGBColor* color) {
    if (!dst || !rect || !color) return kPluginBadParams;
    const int top = std::max<int>(rect->top, dst->bounds.top);
    const int bottom = std::min<int>(rect->bottom, dst->bounds.bottom);
    const int left = std::max<int>(rect->left, dst->bounds.left);
    const int right = std::min<int>(rect->right, dst->bounds.right);
    const uint32_t pixel = TavPixelFromRGB(*color);
    for (int y = top; y < bottom; ++y) {
        uint32_t* row = TavPixelRow(*dst, y - dst->bounds.top);
        std::fill(row + (left - dst->bounds.left), row + (right - dst->bounds.left), pixel);
    }
    return kPluginOK;
}

TavPluginResult SvcTextBounds(TavPluginInstance, const unsigned char*, Rect*) {
    return kPluginUnimplemented;
}
TavPluginResult SvcDrawText(TavPluginInstance, PixMapPtr, const unsigned char*, const Rect*) {
    return kPluginUnimplemented;
}
TavPluginResult SvcGetInfoRecord(TavPluginInstance, void** info) {
    if (info) *info = nullptr;
    return kPluginUnimplemented;
}
TavPluginResult SvcReleaseInfoRecord(TavPluginInstance, void*) {
    return kPluginUnimplemented;
}

TavPluginResult SvcGetTransitionInfo(TavPluginInstance instance, TavPluginTransitionInfo** info) {
    return Host::FromInstance(instance)->GetTransitionInfo(info);
}

TavPluginResult SvcReleaseTransitionInfo(TavPluginInstance instance,
                                         TavPluginTransitionInfo* info) {
    return Host::FromInstance(instance)->ReleaseTransitionInfo(info);
}

TavPluginResult SvcMixAudio(TavPluginInstance instance, TavFrameCookie cookie, int32_t level) {
    return Host::FromInstance(instance)->MixAudio(cookie, level);
}

float SvcStringWidth(const unsigned char*, int16_t, float) {
    return 0.0f;
}
TavPluginResult SvcCGDrawText(TavPluginInstance, const unsigned char*, float, float) {
    return kPluginUnimplemented;
}
float SvcCGStringWidth(const unsigned char*) {
    return 0.0f;
}

}  // namespace

const TavProcs Host::kProcs = {
    SvcNewPtr,
    SvcNewPtrClear,
    SvcDisposePtr,
    SvcPtoCstr,
    SvcCtoPstr,
    SvcPstrcpy,
    SvcStrcpy,
    SvcStrlen,
    SvcGetLocalizedString,
    SvcGetFrame,
    SvcReleaseFrame,
    SvcGetAudioFrame,
    SvcReleaseAudioFrame,
    SvcGetMovieInfo,
    SvcGetClipInfo,
    SvcSetClipInfo,
    SvcBlit,
    SvcFillRect,
    SvcTextBounds,
    SvcDrawText,
    SvcGetInfoRecord,
    SvcReleaseInfoRecord,
    SvcGetTransitionInfo,
    SvcReleaseTransitionInfo,
    SvcMixAudio,
    SvcGetInfoRecord,
    SvcReleaseInfoRecord,
    SvcStringWidth,
    SvcCGDrawText,
    SvcCGStringWidth,
};

Host::Host(AudioLayout audio) : audio_(audio) {
    transition_.speed = 0.5f;
    outputAudio_.assign(audio_.FloatsPerFrame(), 0.0f);
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

GWorldPtr Host::OutputWorld(int32_t width, int32_t height) {
    if (output_) {
        Rect bounds;
        GetPortBounds(output_, &bounds);
        if (bounds.right == width && bounds.bottom == height) return output_;
        DisposeGWorld(output_);
        output_ = nullptr;
    }
    const Rect bounds = {0, 0, int16_t(height), int16_t(width)};
    if (NewGWorld(&output_, 32, &bounds, nullptr, nullptr, 0) != noErr) output_ = nullptr;
    return output_;
}

void Host::ClearOutputAudio(size_t floats) {
    outputAudio_.assign(floats, 0.0f);
    mixCount_ = 0;
}

int Host::HeldFrameCount() const {
    return int(std::count_if(frames_.begin(), frames_.end(), [](auto& f) { return f->inUse; }));
}

int32_t Host::Call(TavPluginMainProc main, int32_t which, TavPluginParams& params) {
    CGrafPtr portBefore;
    GDHandle deviceBefore;
    GetGWorld(&portBefore, &deviceBefore);
    PixMapHandle outputMap = params.frame ? GetGWorldPixMap(params.frame) : nullptr;
    const SInt8 handleBefore = outputMap ? HGetState(reinterpret_cast<Handle>(outputMap)) : 0;
    const GWorldFlags pixelsBefore = outputMap ? GetPixelsState(outputMap) : 0;

    Host* outer = tCurrentHost;
    tCurrentHost = this;
    const int32_t result = main(which, &params);
    tCurrentHost = outer;

    const auto selector = uint8_t(params.selector);
    if (HeldFrameCount() > 0)
        Problem("source frames not released after selector " + std::to_string(selector));
    if (heldTransitions_ > 0) Problem("transition record not released");
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

Ptr Host::NewBlock(int32_t byteCount, bool clear) {
    if (byteCount < 0) return nullptr;
    Ptr block = static_cast<Ptr>(clear ? std::calloc(1, size_t(byteCount) + 1)
                                       : std::malloc(size_t(byteCount) + 1));
    if (block) blocks_.insert(block);
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

HeldFrame* Host::FindHeld(TavFrameCookie cookie) {
    for (auto& frame : frames_)
        if (frame.get() == cookie && frame->inUse) return frame.get();
    return nullptr;
}

HeldFrame& Host::FreeSlot(int32_t width, int32_t height) {
    HeldFrame* reuse = nullptr;
    for (auto& frame : frames_) {
        if (frame->inUse) continue;
        if (frame->width == width && frame->height == height) return *frame;
        if (!reuse) reuse = frame.get();
    }
    if (!reuse) {
        frames_.push_back(std::make_unique<HeldFrame>());
        reuse = frames_.back().get();
    }
    DisposeGWorld(reuse->world);
    reuse->world = nullptr;
    const Rect bounds = {0, 0, int16_t(height), int16_t(width)};
    if (NewGWorld(&reuse->world, 32, &bounds, nullptr, nullptr, 0) != noErr) reuse->world = nullptr;
    reuse->width = width;
    reuse->height = height;
    return *reuse;
}

TavPluginResult Host::GetFrame(int32_t number, GWorldPtr* world, int32_t width, int32_t height,
                               int32_t quality, int16_t* volume, TavFrameCookie* cookie) {
    if (!world || !volume || !cookie || width > 32767 || height > 32767) return kPluginBadParams;
    // A frame of no area is served as a single pixel, so the plug-in still
    // gets a world to lock and release.
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (!provider_) return kPluginCantGetNeededFrame;
    HeldFrame& frame = FreeSlot(width, height);
    if (!frame.world) return kPluginOutOfMemory;
    frame.audio.clear();
    int16_t frameVolume = 255;
    const TavPluginResult code = provider_->ProvideFrame(
        number, quality == kDVLowQuality, **GetGWorldPixMap(frame.world), frame.audio, frameVolume);
    if (code != kPluginOK) return code;
    PixMapHandle pm = GetGWorldPixMap(frame.world);
    frame.inUse = true;
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
    HeldFrame* frame = FindHeld(cookie);
    if (!frame) {
        Problem("ReleaseFrame of a frame that is not held");
        return kPluginBadParams;
    }
    PixMapHandle pm = GetGWorldPixMap(frame->world);
    if (HGetState(reinterpret_cast<Handle>(pm)) != frame->handleStateAtLoan ||
        GetPixelsState(pm) != frame->pixelsStateAtLoan)
        Problem("source frame " + std::to_string(frame->number) +
                " released with its pixel map still locked");
    frame->inUse = false;
    return kPluginOK;
}

TavPluginResult Host::MixAudio(TavFrameCookie cookie, int32_t level) {
    HeldFrame* frame = FindHeld(cookie);
    if (!frame) {
        Problem("MixAudio of a frame that is not held");
        return kPluginBadParams;
    }
    ++mixCount_;
    const float gain = float(std::clamp(level, 0, 256)) / 256.0f;
    const std::vector<float>& in = frame->audio;
    if (in.empty()) return kPluginOK;
    // A source frame a sample shorter than the output frame repeats its last
    // sample rather than leaving a gap.
    const size_t channels = size_t(audio_.channels);
    const size_t n = std::min(outputAudio_.size(), in.size());
    for (size_t i = 0; i < n; ++i) outputAudio_[i] += in[i] * gain;
    for (size_t i = n; i < outputAudio_.size() && in.size() >= channels; ++i)
        outputAudio_[i] += in[in.size() - channels + i % channels] * gain;
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

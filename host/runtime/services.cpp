// The service table handed to plug-ins. Every entry is noexcept: nothing
// thrown inside the host (a failed allocation, a provider's error) crosses
// into a bundle; it becomes kPluginOutOfMemory or kPluginFailed, or a null
// or empty answer where the service has no result code.
#include <cstring>
#include <new>

#include "host.h"
#include "tav/pixel_area.h"

namespace tavhost {

namespace {

// Runs a service that answers with a result code.
template <class F>
TavPluginResult Guarded(F&& serve) noexcept {
    try {
        return serve();
    } catch (const std::bad_alloc&) {
        return kPluginOutOfMemory;
    } catch (...) {
        return kPluginFailed;
    }
}

// Runs a service with no result code; `fallback` is its answer on failure.
template <class T, class F>
T GuardedValue(T fallback, F&& serve) noexcept {
    try {
        return serve();
    } catch (...) {
        return fallback;
    }
}

Host* Of(TavPluginInstance instance) {
    return Host::FromInstance(instance);
}

Ptr SvcNewPtr(int32_t byteCount) noexcept {
    Host* host = Host::Current();
    return GuardedValue<Ptr>(nullptr,
                             [&] { return host ? host->NewBlock(byteCount, false) : nullptr; });
}

Ptr SvcNewPtrClear(int32_t byteCount) noexcept {
    Host* host = Host::Current();
    return GuardedValue<Ptr>(nullptr,
                             [&] { return host ? host->NewBlock(byteCount, true) : nullptr; });
}

void SvcDisposePtr(Ptr block) noexcept {
    Host* host = Host::Current();
    GuardedValue(0, [&] {
        if (host) host->DisposeBlock(block);
        return 0;
    });
}

void SvcPtoCstr(char* dst, const unsigned char* src) noexcept {
    if (!dst || !src) return;
    std::memcpy(dst, src + 1, src[0]);
    dst[src[0]] = '\0';
}

void SvcCtoPstr(unsigned char* dst, const char* src) noexcept {
    if (dst && src) ToPascal(src, dst);
}

void SvcPstrcpy(unsigned char* dst, const unsigned char* src) noexcept {
    if (dst && src) std::memmove(dst, src, size_t(src[0]) + 1);
}

char* SvcStrcpy(char* dst, const char* src) noexcept {
    return dst && src ? std::strcpy(dst, src) : dst;
}

uint32_t SvcStrlen(const char* s) noexcept {
    return s ? uint32_t(std::strlen(s)) : 0;
}

void SvcGetLocalizedString(unsigned char* str, int16_t list, int16_t index) noexcept {
    if (!str) return;
    str[0] = 0;
    Host* host = Host::Current();
    GuardedValue(0, [&] {
        if (host) host->GetLocalizedString(str, list, index);
        return 0;
    });
}

TavPluginResult SvcGetFrame(TavPluginInstance instance, int32_t number, GWorldPtr* world,
                            int32_t width, int32_t height, int32_t quality, int16_t* volume,
                            TavFrameCookie* cookie) noexcept {
    return Guarded([&] {
        return Of(instance)->GetFrame(number, world, width, height, quality, volume, cookie);
    });
}

TavPluginResult SvcReleaseFrame(TavPluginInstance instance, TavFrameCookie cookie) noexcept {
    return Guarded([&] { return Of(instance)->ReleaseFrame(cookie); });
}

TavPluginResult SvcGetAudioFrame(TavPluginInstance, int32_t, int16_t**, int32_t*,
                                 TavFrameCookie*) noexcept {
    return kPluginUnimplemented;
}

TavPluginResult SvcReleaseAudioFrame(TavPluginInstance, TavFrameCookie) noexcept {
    return kPluginUnimplemented;
}

TavPluginResult SvcGetMovieInfo(TavPluginInstance instance, int32_t* width, int32_t* height,
                                float* fps) noexcept {
    return Guarded([&] { return Of(instance)->GetMovieInfo(width, height, fps); });
}

TavPluginResult SvcGetClipInfo(TavPluginInstance instance, int32_t which,
                               TavPluginClipInfo* info) noexcept {
    return Guarded([&] { return Of(instance)->GetClipInfo(which, info); });
}

TavPluginResult SvcSetClipInfo(TavPluginInstance instance, TavPluginClipInfo* info) noexcept {
    return Guarded([&] { return Of(instance)->SetClipInfo(info); });
}

TavPluginResult SvcBlit(PixMapPtr src, PixMapPtr dst, const Rect* srcRect, const Rect* dstRect,
                        int32_t) noexcept {
    if (!src || !dst || !srcRect || !dstRect) return kPluginBadParams;
    // A world a host watches (recorded drawing, a picture not drawn yet).
    if (tavdraw::WorldWatcher* watcher = dst->watcher ? dst->watcher : src->watcher)
        return static_cast<Recorder*>(watcher)->Blit(*src, *dst, *srcRect, *dstRect);
    return BlitPixMaps(src, dst, *srcRect, *dstRect);
}

TavPluginResult SvcFillRect(PixMapPtr dst, const Rect* rect, const RGBColor* color) noexcept {
    if (!dst || !rect || !color) return kPluginBadParams;
    const uint32_t pixel = TavPixelFromRGB(*color);
    if (dst->watcher && dst->watcher->TakeFill(*dst, *rect, pixel)) return kPluginOK;
    tav::FillPixels(*dst, *rect, pixel);
    return kPluginOK;
}

TavPluginResult SvcTextBounds(TavPluginInstance, const unsigned char*, Rect*) noexcept {
    return kPluginUnimplemented;
}

TavPluginResult SvcDrawText(TavPluginInstance, PixMapPtr, const unsigned char*,
                            const Rect*) noexcept {
    return kPluginUnimplemented;
}

// Title and filter records: this host makes transitions only.
TavPluginResult SvcGetInfoRecord(TavPluginInstance, void** info) noexcept {
    if (info) *info = nullptr;
    return kPluginUnimplemented;
}

TavPluginResult SvcReleaseInfoRecord(TavPluginInstance, void*) noexcept {
    return kPluginUnimplemented;
}

TavPluginResult SvcGetTransitionInfo(TavPluginInstance instance,
                                     TavPluginTransitionInfo** info) noexcept {
    return Guarded([&] { return Of(instance)->GetTransitionInfo(info); });
}

TavPluginResult SvcReleaseTransitionInfo(TavPluginInstance instance,
                                         TavPluginTransitionInfo* info) noexcept {
    return Guarded([&] { return Of(instance)->ReleaseTransitionInfo(info); });
}

TavPluginResult SvcMixAudio(TavPluginInstance instance, TavFrameCookie cookie,
                            int32_t level) noexcept {
    return Guarded([&] { return Of(instance)->MixAudio(cookie, level); });
}

float SvcStringWidth(const unsigned char*, int16_t, float) noexcept {
    return 0.0f;
}

TavPluginResult SvcCGDrawText(TavPluginInstance, const unsigned char*, float, float) noexcept {
    return kPluginUnimplemented;
}

float SvcCGStringWidth(const unsigned char*) noexcept {
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

}  // namespace tavhost

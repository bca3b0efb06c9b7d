#include "recording_host.h"

#include <cstdlib>
#include <stdexcept>

#include "scripted_rand.h"

namespace tavtest {

namespace {

RecordingHost* gRecorder = nullptr;
using tavhost::Host;

Ptr RecNewPtrClear(int32_t size) {
    TavPluginResult code;
    bool null;
    if (!RecordingHost::Current().Record({Svc::NewPtrClear, size}, &code, &null) || null)
        return nullptr;
    return Host::kProcs.NewPtrClear(size);
}

void RecDisposePtr(Ptr block) {
    ServiceCall call{Svc::DisposePtr};
    call.ptr = block;
    TavPluginResult code;
    bool null;
    RecordingHost::Current().Record(call, &code, &null);
    Host::kProcs.DisposePtr(block);
}

void RecGetLocalizedString(unsigned char* str, int16_t list, int16_t index) {
    TavPluginResult code;
    bool null;
    RecordingHost::Current().Record({Svc::GetLocalizedString, list, index}, &code, &null);
    Host::kProcs.GetLocalizedString(str, list, index);
}

void RecPstrcpy(unsigned char* dst, const unsigned char* src) {
    ServiceCall call{Svc::pstrcpy};
    call.ptr = src;
    TavPluginResult code;
    bool null;
    RecordingHost::Current().Record(call, &code, &null);
    Host::kProcs.pstrcpy(dst, src);
}

TavPluginResult Finish(TavPluginResult result) {
    RecordingHost::Current().SetLastResult(result);
    return result;
}

TavPluginResult RecGetTransitionInfo(TavPluginInstance instance, TavPluginTransitionInfo** info) {
    TavPluginResult code;
    bool null;
    if (!RecordingHost::Current().Record({Svc::GetTransitionInfo}, &code, &null))
        return Finish(code);
    if (null) {
        *info = nullptr;
        return Finish(kPluginOK);
    }
    return Finish(Host::kProcs.GetTransitionInfo(instance, info));
}

TavPluginResult RecReleaseTransitionInfo(TavPluginInstance instance,
                                         TavPluginTransitionInfo* info) {
    ServiceCall call{Svc::ReleaseTransitionInfo};
    call.ptr = info;
    TavPluginResult code;
    bool null;
    const bool pass = RecordingHost::Current().Record(call, &code, &null);
    const TavPluginResult real = Host::kProcs.ReleaseTransitionInfo(instance, info);
    return Finish(pass ? real : code);
}

TavPluginResult RecGetFrame(TavPluginInstance instance, int32_t number, GWorldPtr* world,
                            int32_t width, int32_t height, int32_t quality, int16_t* volume,
                            TavFrameCookie* cookie) {
    TavPluginResult code;
    bool null;
    if (!RecordingHost::Current().Record({Svc::GetFrame, number, width, height, quality}, &code,
                                         &null))
        return Finish(code);
    const TavPluginResult real =
        Host::kProcs.GetFrame(instance, number, world, width, height, quality, volume, cookie);
    if (real == kPluginOK && null) *world = nullptr;
    return Finish(real);
}

TavPluginResult RecReleaseFrame(TavPluginInstance instance, TavFrameCookie cookie) {
    ServiceCall call{Svc::ReleaseFrame};
    call.ptr = cookie;
    TavPluginResult code;
    bool null;
    const bool pass = RecordingHost::Current().Record(call, &code, &null);
    const TavPluginResult real = Host::kProcs.ReleaseFrame(instance, cookie);
    return Finish(pass ? real : code);
}

TavPluginResult RecMixAudio(TavPluginInstance instance, TavFrameCookie cookie, int32_t level) {
    ServiceCall call{Svc::MixAudio, level};
    call.ptr = cookie;
    TavPluginResult code;
    bool null;
    if (!RecordingHost::Current().Record(call, &code, &null)) return Finish(code);
    return Finish(Host::kProcs.MixAudio(instance, cookie, level));
}

TavPluginResult RecBlit(PixMapPtr src, PixMapPtr dst, const Rect* srcRect, const Rect* dstRect,
                        int32_t mode) {
    ServiceCall call{Svc::Blit};
    call.d = mode;
    call.src = *srcRect;
    call.dst = *dstRect;
    TavPluginResult code;
    bool null;
    if (!RecordingHost::Current().Record(call, &code, &null)) return Finish(code);
    return Finish(Host::kProcs.Blit(src, dst, srcRect, dstRect, mode));
}

TavPluginResult RecGetClipInfo(TavPluginInstance instance, int32_t which, TavPluginClipInfo* info) {
    ServiceCall call{Svc::GetClipInfo, which};
    call.ptr = info;
    TavPluginResult code;
    bool null;
    if (!RecordingHost::Current().Record(call, &code, &null)) return Finish(code);
    return Finish(Host::kProcs.GetClipInfo(instance, which, info));
}

TavPluginResult RecSetClipInfo(TavPluginInstance instance, TavPluginClipInfo* info) {
    ServiceCall call{Svc::SetClipInfo};
    call.ptr = info;
    TavPluginResult code;
    bool null;
    if (!RecordingHost::Current().Record(call, &code, &null)) return Finish(code);
    return Finish(Host::kProcs.SetClipInfo(instance, info));
}

}  // namespace

const char* SvcName(Svc svc) {
    static const char* const kNames[] = {
        "NewPtrClear",        "DisposePtr",
        "GetLocalizedString", "pstrcpy",
        "GetTransitionInfo",  "ReleaseTransitionInfo",
        "GetFrame",           "Blit",
        "MixAudio",           "ReleaseFrame",
        "GetClipInfo",        "SetClipInfo",
    };
    return kNames[int(svc)];
}

RecordingHost::RecordingHost(tavhost::Host& host) : host_(host), procs_(Host::kProcs) {
    if (gRecorder) throw std::logic_error("one RecordingHost at a time");
    gRecorder = this;
    procs_.NewPtrClear = RecNewPtrClear;
    procs_.DisposePtr = RecDisposePtr;
    procs_.GetLocalizedString = RecGetLocalizedString;
    procs_.pstrcpy = RecPstrcpy;
    procs_.GetTransitionInfo = RecGetTransitionInfo;
    procs_.ReleaseTransitionInfo = RecReleaseTransitionInfo;
    procs_.GetFrame = RecGetFrame;
    procs_.ReleaseFrame = RecReleaseFrame;
    procs_.MixAudio = RecMixAudio;
    procs_.Blit = RecBlit;
    procs_.GetClipInfo = RecGetClipInfo;
    procs_.SetClipInfo = RecSetClipInfo;
}

RecordingHost::~RecordingHost() {
    gRecorder = nullptr;
}

RecordingHost& RecordingHost::Current() {
    if (!gRecorder) std::abort();
    return *gRecorder;
}

void RecordingHost::Fail(Svc svc, int nth, TavPluginResult code) {
    injections_.push_back({svc, nth, false, code});
}

void RecordingHost::ReturnNull(Svc svc, int nth) {
    injections_.push_back({svc, nth, true, kPluginOK});
}

bool RecordingHost::Record(ServiceCall call, TavPluginResult* injected, bool* returnNull) {
    const int n = ++counts_[int(call.svc)];
    call.rands = RandCalls();
    calls_.push_back(call);
    *returnNull = false;
    for (const Injection& inj : injections_) {
        if (inj.svc != call.svc || inj.nth != n) continue;
        if (inj.returnNull) {
            *returnNull = true;
            return true;
        }
        *injected = inj.code;
        calls_.back().result = inj.code;
        return false;
    }
    return true;
}

void RecordingHost::Clear() {
    calls_.clear();
    for (int& n : counts_) n = 0;
}

std::vector<ServiceCall> RecordingHost::CallsOf(Svc svc) const {
    std::vector<ServiceCall> out;
    for (const ServiceCall& call : calls_)
        if (call.svc == svc) out.push_back(call);
    return out;
}

int RecordingHost::Count(Svc svc) const {
    int n = 0;
    for (const ServiceCall& call : calls_) n += call.svc == svc;
    return n;
}

}  // namespace tavtest

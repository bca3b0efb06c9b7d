// A layer around the real host runtime: records every service call a plug-in
// makes, with its arguments, and can make the k-th call of a service fail.
#pragma once

#include <vector>

#include "host.h"

namespace tavtest {

enum class Svc {
    NewPtrClear,
    DisposePtr,
    GetLocalizedString,
    pstrcpy,
    GetTransitionInfo,
    ReleaseTransitionInfo,
    GetFrame,
    Blit,
    MixAudio,
    ReleaseFrame,
    GetClipInfo,
    SetClipInfo,
    kCount,
};

const char* SvcName(Svc svc);

struct ServiceCall {
    Svc svc;
    int32_t a = 0;  // GetFrame: number; MixAudio: level; NewPtrClear: size; GetClipInfo: which;
                    // GetLocalizedString: list
    int32_t b = 0;  // GetFrame: width; GetLocalizedString: index
    int32_t c = 0;  // GetFrame: height
    int32_t d = 0;  // GetFrame: quality; Blit: mode
    Rect src{};     // Blit
    Rect dst{};     // Blit
    const void* ptr = nullptr;  // cookie, block, record
    TavPluginResult result = kPluginOK;
    int rands = 0;  // rand() calls made before this call
};

class RecordingHost {
  public:
    explicit RecordingHost(tavhost::Host& host);
    ~RecordingHost();

    const TavProcs& Procs() const { return procs_; }
    tavhost::Host& Host() { return host_; }

    // The `nth` call (from 1) of `svc` fails with `code`. A failed release
    // still gives the frame or record back; other failed services do nothing.
    void Fail(Svc svc, int nth, TavPluginResult code);
    // The `nth` call of `svc` hands back null: NewPtrClear returns null;
    // GetTransitionInfo and GetFrame succeed with a null record or world.
    void ReturnNull(Svc svc, int nth);

    const std::vector<ServiceCall>& Calls() const { return calls_; }
    std::vector<ServiceCall> CallsOf(Svc svc) const;
    int Count(Svc svc) const;
    // Forgets the calls so far; injections count calls from here on.
    void Clear();

    // Used by the service trampolines.
    static RecordingHost& Current();
    bool Record(ServiceCall call, TavPluginResult* injected, bool* returnNull);
    void SetLastResult(TavPluginResult result) { calls_.back().result = result; }

  private:
    struct Injection {
        Svc svc;
        int nth;
        bool returnNull;
        TavPluginResult code;
    };
    tavhost::Host& host_;
    TavProcs procs_;
    std::vector<ServiceCall> calls_;
    std::vector<Injection> injections_;
    int counts_[int(Svc::kCount)] = {};
};

}  // namespace tavtest

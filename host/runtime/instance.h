// One transition instance driven in the host's call order: GetInfo,
// Initialize, DoFrame per output frame, Terminate; the placeholder at any time.
//
// The instance owns the plug-in's side of the lifecycle: once it has sent
// GetInfo or Initialize and the plug-in holds a record, it sends Terminate
// exactly once, when asked to or, at the latest, when it goes away, whatever
// path (error, interrupt, success) ends its use.
#pragma once

#include <cstdint>

#include "host.h"
#include "loaded_bundle.h"

namespace tavhost {

// GetInfo's answer. `frames` is kUnsetFrames when the plug-in wrote none.
struct TransitionTiming {
    static constexpr int32_t kUnsetFrames = INT32_MIN;
    TavPluginType type = kPluginUnknownType;
    int32_t frames = kUnsetFrames;
    int32_t takeBefore = 0;
    int32_t takeAfter = 0;
};

class TransitionInstance {
  public:
    // `procs` is the service table handed to the plug-in: the host's own, or
    // a layer around it.
    TransitionInstance(const Bundle& bundle, Host& host, int16_t which,
                       const TavProcs& procs = Host::kProcs);
    TransitionInstance(TavPluginMainProc main, Host& host, int16_t which,
                       const TavProcs& procs = Host::kProcs);
    ~TransitionInstance();
    TransitionInstance(const TransitionInstance&) = delete;
    TransitionInstance& operator=(const TransitionInstance&) = delete;

    // The parameter block this instance hands to the plug-in; `clientData`
    // carries over from call to call.
    TavPluginParams& Params() { return params_; }
    int16_t Which() const { return which_; }

    // Sends `selector` with the block as it stands.
    int32_t Send(TavPluginSelector selector);

    int32_t GetInfo(float speed);
    // GetInfo on a block primed so that fields the plug-in leaves alone read
    // as unknown type and unset length.
    int32_t Describe(float speed, TransitionTiming* timing);
    int32_t Initialize();
    // Renders output frame `renderFrame` of `frameCount` into the host's
    // output world at `frameRect`.
    int32_t DoFrame(int32_t startFrame, int32_t renderFrame, int32_t frameCount,
                    const Rect& frameRect, bool proxyOnly = false);
    int32_t Placeholder(const Rect& frameRect);
    // Terminate for a transition of `frameCount` frames. The destructor sends
    // it with the length last given here or to SetLength if it is still owed.
    int32_t Terminate(int32_t frameCount);
    void SetLength(int32_t frameCount) { length_ = frameCount; }
    // True while the plug-in holds a record that Terminate has not ended.
    bool TerminateOwed() const { return started_ && params_.clientData != nullptr; }

  private:
    TavPluginMainProc main_;
    Host& host_;
    int16_t which_;
    TavProcs procs_;
    TavPluginParams params_;
    bool started_ = false;  // GetInfo or Initialize sent since the last Terminate
    int32_t length_ = 0;
};

}  // namespace tavhost

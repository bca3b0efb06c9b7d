// One transition instance driven in the host's call order: GetInfo,
// Initialize, DoFrame per output frame, Terminate; the placeholder at any time.
#pragma once

#include <cstdint>

#include "bundle.h"
#include "host.h"

namespace tavhost {

class TransitionInstance {
  public:
    // `procs` is the service table handed to the plug-in: the host's own, or
    // a layer around it.
    TransitionInstance(const Bundle& bundle, Host& host, int16_t which,
                       const TavProcs& procs = Host::kProcs);
    TransitionInstance(TavPluginMainProc main, Host& host, int16_t which,
                       const TavProcs& procs = Host::kProcs);

    // The parameter block this instance hands to the plug-in; `clientData`
    // carries over from call to call.
    TavPluginParams& Params() { return params_; }
    int16_t Which() const { return which_; }

    // Sends `selector` with the block as it stands.
    int32_t Send(TavPluginSelector selector);

    int32_t GetInfo(float speed);
    int32_t Initialize();
    // Renders output frame `renderFrame` of `frameCount` into the host's
    // output world at `frameRect`.
    int32_t DoFrame(int32_t startFrame, int32_t renderFrame, int32_t frameCount,
                    const Rect& frameRect, bool proxyOnly = false);
    int32_t Placeholder(const Rect& frameRect);
    int32_t Terminate(int32_t frameCount);

  private:
    TavPluginMainProc main_;
    Host& host_;
    int16_t which_;
    TavProcs procs_;
    TavPluginParams params_;
};

}  // namespace tavhost

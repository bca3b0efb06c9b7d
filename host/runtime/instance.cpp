#include "instance.h"

#include <cstring>

namespace tavhost {

TransitionInstance::TransitionInstance(const Bundle& bundle, Host& host, int16_t which,
                                       const TavProcs& procs)
    : TransitionInstance(bundle.Main(), host, which, procs) {}

TransitionInstance::TransitionInstance(TavPluginMainProc main, Host& host, int16_t which,
                                       const TavProcs& procs)
    : main_(main), host_(host), which_(which), procs_(procs) {
    std::memset(&params_, 0, sizeof params_);
    params_.interfaceVersion = kHostInterfaceVersion;
    params_.instance = host.Instance();
    params_.procs = &procs_;
}

TransitionInstance::~TransitionInstance() {
    if (TerminateOwed()) Terminate(length_);
}

int32_t TransitionInstance::Send(TavPluginSelector selector) {
    params_.selector = selector;
    if (selector == kPlugGetInfo || selector == kPlugInitialize) started_ = true;
    const int32_t result = host_.Call(main_, which_, params_);
    if (selector == kPlugTerminate) started_ = false;
    return result;
}

int32_t TransitionInstance::GetInfo(float speed) {
    host_.Transition().speed = speed;
    return Send(kPlugGetInfo);
}

int32_t TransitionInstance::Describe(float speed, TransitionTiming* timing) {
    params_.getInfo.pluginType = kPluginUnknownType;
    params_.getInfo.framesToBeRendered = TransitionTiming::kUnsetFrames;
    const int32_t code = GetInfo(speed);
    const TavPluginGetInfo& info = params_.getInfo;
    *timing = {info.pluginType, info.framesToBeRendered, info.takeFromClipBefore,
               info.takeFromClipAfter};
    return code;
}

int32_t TransitionInstance::Initialize() {
    return Send(kPlugInitialize);
}

int32_t TransitionInstance::DoFrame(int32_t startFrame, int32_t renderFrame, int32_t frameCount,
                                    const Rect& frameRect, bool proxyOnly) {
    params_.startFrame = startFrame;
    params_.renderFrame = renderFrame;
    params_.frameCount = frameCount;
    params_.proxyOnly = proxyOnly ? 1 : 0;
    params_.frameRect = frameRect;
    params_.frame = host_.OutputWorld();
    return Send(kPlugDoFrame);
}

int32_t TransitionInstance::Placeholder(const Rect& frameRect) {
    params_.frameRect = frameRect;
    params_.frame = host_.OutputWorld();
    return Send(kPlugFilePlaceHolder);
}

int32_t TransitionInstance::Terminate(int32_t frameCount) {
    length_ = frameCount;
    params_.frameCount = frameCount;
    return Send(kPlugTerminate);
}

}  // namespace tavhost

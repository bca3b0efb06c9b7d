#include "variants.h"

#include "instance.h"

namespace tavhost {

std::string BundleFailure(const std::string& bundle, const char* what, int32_t code) {
    return bundle + ": " + what + " failed with " + ResultName(code);
}

bool DescribeVariants(const Bundle& bundle, float speed, std::vector<VariantInfo>* variants,
                      std::string* error) {
    for (int16_t which = 1; which <= 5; ++which) {
        Host host;
        TransitionInstance inst(bundle, host, which);
        TransitionTiming timing;
        if (int32_t code = inst.Describe(speed, &timing); code != kPluginOK) {
            *error = BundleFailure(bundle.Name(), "GetInfo", code);
            return false;
        }
        if (timing.type == kPluginUnknownType) continue;
        variants->push_back({which, int(timing.type),
                             timing.frames == TransitionTiming::kUnsetFrames ? -1 : timing.frames,
                             timing.takeBefore, timing.takeAfter});
    }
    return true;
}

}  // namespace tavhost

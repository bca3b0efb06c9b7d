// What a bundle offers: its variants, asked through GetInfo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "loaded_bundle.h"

namespace tavhost {

// A variant a bundle answers to (GetInfo writes a type for it), 1 to 5.
struct VariantInfo {
    int16_t which = 0;
    int type = 0;
    int32_t frames = 0;  // -1: not set by the bundle
    int32_t takeBefore = 0;
    int32_t takeAfter = 0;
};

bool DescribeVariants(const Bundle& bundle, float speed, std::vector<VariantInfo>* variants,
                      std::string* error);

// "boxscatter: GetInfo failed with kPluginOutOfMemory".
std::string BundleFailure(const std::string& bundle, const char* what, int32_t code);

}  // namespace tavhost

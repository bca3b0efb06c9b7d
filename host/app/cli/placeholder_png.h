// A bundle's progress placeholder drawn into a PNG file.
#pragma once

#include <string>

namespace tavhost {

// Draws the bundle's placeholder at width x height, with the host's caption
// if one is given, into the PNG file `output`.
bool RenderPlaceholder(const std::string& bundle, int width, int height, const std::string& caption,
                       const std::string& output, std::string* error);

}  // namespace tavhost

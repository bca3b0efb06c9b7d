// A frame-numbering pattern such as "frame%04d.png": text, one %d (with an
// optional zero-padded width) and more text; %% stands for itself.
#pragma once

#include <cstdint>
#include <string>

namespace tavhost {

struct FramePattern {
    std::string before, after;
    int width = 0;

    // False unless `pattern` has exactly one %d or %0Nd (N up to 99).
    static bool Parse(const std::string& pattern, FramePattern* out);
    // The name of frame `n`.
    std::string Name(int64_t n) const;
    // Whether `name` is exactly the name of some frame, and which.
    bool Match(const std::string& name, int64_t* n) const;
};

}  // namespace tavhost

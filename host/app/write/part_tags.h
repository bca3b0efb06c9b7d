// A part of a render (--part K/N) says in its tags which piece of which
// render it is, so that the join takes only a whole set of one render's
// parts and puts each in its place.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "media_format.h"

namespace tavhost::media {

// The highest sample rate a part's sound may have.
constexpr int kMostSampleRate = 768000;

struct PartTags {
    int index = 0;  // 1-based
    int count = 0;
    int64_t first = 0;  // the output frames it holds: first to end - 1
    int64_t end = 0;
    int64_t total = 0;  // the whole render's frames
    Rational rate;      // its frame rate
    std::string plan;   // what the whole render is made of, as a fingerprint

    std::vector<std::pair<std::string, std::string>> Tags() const;
    // From a file's tags (`get` gives a tag's value or null); false unless
    // every tag is there and the numbers agree with each other.
    static bool Read(const std::function<const char*(const char*)>& get, PartTags* out);
};

}  // namespace tavhost::media

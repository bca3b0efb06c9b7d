#include "copy_plan.h"

#include <algorithm>

namespace tavhost {

int64_t CopyPlan::CopiedFrames() const {
    int64_t n = 0;
    for (const CopySegment& s : segments) n += s.frames;
    return n;
}

bool CopyPlan::CopiesFrame(int64_t t) const {
    return std::any_of(segments.begin(), segments.end(), [t](const CopySegment& s) {
        return t >= s.start && t < s.start + s.frames;
    });
}

CopiedPictures::CopiedPictures(const CopyPlan& plan, int clip, int64_t clipStart, int lengthSize)
    : lengthSize_(lengthSize) {
    for (const CopySegment& s : plan.segments)
        if (s.clip == clip && s.frames > 0)
            spans_.push_back({s.start - clipStart, s.start - clipStart + s.frames});
    std::sort(spans_.begin(), spans_.end());
}

bool CopiedPictures::Frame(int64_t index) const {
    auto it = std::upper_bound(spans_.begin(), spans_.end(), std::pair{index, INT64_MAX});
    return it != spans_.begin() && index < std::prev(it)->second;
}

bool CopiedPictures::Frames(int64_t first, int64_t end) const {
    auto it = std::upper_bound(spans_.begin(), spans_.end(), std::pair{first, INT64_MAX});
    return it != spans_.begin() && end <= std::prev(it)->second;
}

}  // namespace tavhost

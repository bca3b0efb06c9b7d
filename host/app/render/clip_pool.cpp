#include "clip_pool.h"

#include <algorithm>

namespace tavhost {

ClipPool::ClipPool(const std::vector<PlannedClip>& clips, const Timeline& timeline,
                   const std::atomic<bool>* cancel, int64_t lead, Pixels pixels,
                   const CopyPlan& copy)
    : clips_(clips),
      cancel_(cancel),
      lead_(lead),
      transitionFrames_(clips.size()),
      pixels_(pixels),
      readers_(clips.size()),
      damage_(clips.size()) {
    for (size_t j = 0; j < clips.size(); ++j) {
        firstUse_.push_back(timeline.FirstUse(j));
        lastUse_.push_back(timeline.LastUse(j));
        copied_.emplace_back(copy, int(j), timeline.clipStart[j],
                             clips[j].packets ? clips[j].packets->sets.lengthSize : 0);
    }
    // The frames a transition draws on: the hard cut under it and those the
    // plug-in asks for.
    for (const Placement& p : timeline.transitions) {
        std::vector<SourceRef> refs;
        for (int64_t t = p.start; t < p.start + p.frames; ++t) refs.push_back(timeline.HardCut(t));
        for (int64_t n = 0; n < 2 * int64_t(p.frames); ++n)
            if (SourceRef ref; p.Map(int32_t(p.start + n), &ref)) refs.push_back(ref);
        for (const SourceRef& ref : refs) {
            auto& spans = transitionFrames_[size_t(ref.clip)];
            if (!spans.empty() && ref.index >= spans.back().first - 1 &&
                ref.index <= spans.back().second + 1) {
                spans.back().first = std::min(spans.back().first, ref.index);
                spans.back().second = std::max(spans.back().second, ref.index);
            } else {
                spans.push_back({ref.index, ref.index});
            }
        }
    }
}

bool ClipPool::Open(size_t clip, std::string* error) {
    media::ClipReader::Options options = clips_[clip].options;
    options.cancel = cancel_;
    if (pixels_ == Pixels::kNone) {
        options.pixelsFor = [](int64_t) { return false; };
    } else if (pixels_ == Pixels::kTransitions) {
        const auto* spans = &transitionFrames_[clip];
        options.pixelsFor = [spans](int64_t index) {
            return std::any_of(spans->begin(), spans->end(), [&](const auto& span) {
                return index >= span.first && index <= span.second;
            });
        };
    }
    options.copied = copied_[clip];
    readers_[clip] = media::ClipReader::Open(clips_[clip].path, clips_[clip].info, options, error);
    return readers_[clip] != nullptr;
}

void ClipPool::Close(size_t clip) {
    if (!readers_[clip]) return;
    damage_[clip] = readers_[clip]->DamageFound();
    readers_[clip].reset();
}

bool ClipPool::Advance(int64_t t, std::string* error) {
    // Clips come in output order: those before `closed_` are done, those
    // from `opened_` on not yet reached.
    // A render that starts later (a piece) never opens the clips it is past.
    while (opened_ < readers_.size() && firstUse_[opened_] <= t + lead_) {
        if (!readers_[opened_] && lastUse_[opened_] >= t && !Open(opened_, error)) return false;
        ++opened_;
    }
    for (size_t j = closed_; j < opened_; ++j)
        if (lastUse_[j] < t) Close(j);
    while (closed_ < opened_ && !readers_[closed_] && lastUse_[closed_] < t) ++closed_;
    return true;
}

const media::Frame* ClipPool::Frame(int clip, int64_t index, std::string* error) {
    const size_t j = size_t(clip);
    if (j >= readers_.size()) return nullptr;
    if (!readers_[j] && !Open(j, error)) return nullptr;
    return readers_[j]->Get(index, error);
}

void ClipPool::CloseAll(int64_t end) {
    for (size_t j = 0; j < readers_.size(); ++j) {
        if (readers_[j] && lastUse_[j] >= end) {
            damage_[j] = readers_[j]->DamageUntilNow();
            readers_[j].reset();
        }
        Close(j);
    }
}

int ClipPool::OpenCount() const {
    return int(std::count_if(readers_.begin(), readers_.end(), [](const auto& r) { return !!r; }));
}

}  // namespace tavhost

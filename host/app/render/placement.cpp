#include "placement.h"

#include <algorithm>

namespace tavhost {

namespace {

constexpr int32_t kUnset = TransitionTiming::kUnsetFrames;

const char* Role(TavPluginType type) {
    switch (type) {
        case kPluginTransitionBetweenType:
            return "goes between two clips";
        case kPluginTransitionBeforeType:
            return "opens a clip";
        case kPluginTransitionAfterType:
            return "closes a clip";
        default:
            return nullptr;
    }
}

// A request fits its place and asks for no negative number of frames.
bool Check(const TransitionRequest& r, TavPluginType place, std::string* error) {
    const TavPluginType type = r.timing.type;
    if (!Role(type)) {
        *error = r.name + " is not a transition (plug-in type " + std::to_string(int(type)) + ")";
        return false;
    }
    if (type != place) {
        *error = r.name + " " + Role(type) + ": it cannot go " +
                 (place == kPluginTransitionBetweenType  ? "between two clips"
                  : place == kPluginTransitionBeforeType ? "at the start"
                                                         : "at the end");
        return false;
    }
    if (r.timing.takeBefore < 0 || r.timing.takeAfter < 0 ||
        (r.timing.frames != kUnset && r.timing.frames < 0) || r.length < 0) {
        *error = r.name + " asked for a negative number of frames";
        return false;
    }
    return true;
}

// The plug-in mixes N frames of A with N frames of B.
bool Mixes(const TransitionTiming& t) {
    return t.frames != kUnset && t.frames == t.takeBefore && t.frames == t.takeAfter;
}

// The length a request aims at: GetInfo's (for an unset length between
// clips, all it takes), cut to the user's length.
int64_t Target(const TransitionRequest& r) {
    const TransitionTiming& t = r.timing;
    int64_t n = t.frames != kUnset                       ? t.frames
                : t.type == kPluginTransitionBetweenType ? int64_t(t.takeBefore) + t.takeAfter
                                                         : 0;
    if (r.length > 0) n = std::min<int64_t>(n, r.length);
    return n;
}

// Whether falling short of the target deserves a word: the plug-in or the
// user named a length.
bool Named(const TransitionRequest& r) {
    return r.timing.frames != kUnset || r.length > 0;
}

}  // namespace

bool Placement::Map(int32_t number, SourceRef* ref) const {
    const int64_t r = int64_t(number) - start;
    if (r < 0) return false;
    int64_t length = clipFrames[0];
    switch (type) {
        case kPluginTransitionBetweenType:
            if (r < frames) {
                *ref = {clip, clipFrames[0] - before + r};
            } else if (r < 2 * int64_t(frames)) {
                *ref = {clip + 1, r - frames};
                length = clipFrames[1];
            } else {
                return false;
            }
            break;
        case kPluginTransitionBeforeType:
        case kPluginTransitionAfterType:
            if (r >= frames) return false;
            *ref = {clip, start + r - clipStart};
            break;
        default:
            return false;
    }
    return ref->index >= 0 && ref->index < length;
}

SourceRef Timeline::HardCut(int64_t t) const {
    const size_t j = size_t(std::upper_bound(cut.begin(), cut.end(), t) - cut.begin());
    return {int(j), t - clipStart[j]};
}

int64_t Timeline::FirstUse(size_t clip) const {
    int64_t first = clipStart[clip];
    for (const Placement& p : transitions)
        if (p.Between() && size_t(p.clip) + 1 == clip) first = std::min(first, p.start);
    return first;
}

int64_t Timeline::LastUse(size_t clip) const {
    int64_t last = clipStart[clip] + clipFrames[clip] - 1;
    for (const Placement& p : transitions)
        if (size_t(p.clip) == clip) last = std::max(last, p.start + p.frames - 1);
    return last;
}

bool LayOut(const std::vector<int64_t>& clipFrames, const TransitionRequests& requests,
            Timeline* timeline, std::vector<std::string>* warnings, std::string* error) {
    *timeline = Timeline{};
    const size_t count = clipFrames.size();
    if (count == 0 || requests.joins.size() + 1 != count) {
        *error = "a sequence needs a clip and one join between each two clips";
        return false;
    }
    if (requests.open && !Check(*requests.open, kPluginTransitionBeforeType, error)) return false;
    if (requests.close && !Check(*requests.close, kPluginTransitionAfterType, error)) return false;
    for (const auto& join : requests.joins)
        if (join && !Check(*join, kPluginTransitionBetweenType, error)) return false;

    // What the transitions want from each clip's head and tail, and what
    // they get: a clip too short for both is split between them.
    std::vector<int64_t> head(count, 0), tail(count, 0);
    if (requests.open) head[0] = Target(*requests.open);
    if (requests.close) tail[count - 1] = Target(*requests.close);
    for (size_t j = 0; j + 1 < count; ++j) {
        const auto& join = requests.joins[j];
        if (!join) continue;
        const bool mixes = Mixes(join->timing);
        tail[j] = mixes ? Target(*join) : join->timing.takeBefore;
        head[j + 1] = mixes ? Target(*join) : join->timing.takeAfter;
    }
    for (size_t j = 0; j < count; ++j) {
        const int64_t n = clipFrames[j];
        if (head[j] + tail[j] <= n) continue;
        head[j] = std::min(head[j], std::max(n / 2, n - tail[j]));
        tail[j] = std::min(tail[j], n - head[j]);
    }

    Timeline& tl = *timeline;
    tl.clipFrames = clipFrames;
    tl.clipStart.assign(count, 0);
    auto settle = [&](Placement& p, const TransitionRequest& r, int slot) {
        const int64_t target = Target(r);
        if (p.frames <= 0) {
            *error = r.name + ": the clips are too short: no transition frame";
            return false;
        }
        if (Named(r) && p.frames < target) {
            const std::string what =
                r.name + " is longer than its clips allow: " + std::to_string(p.frames) +
                " frames instead of " + std::to_string(target);
            if (r.exact) {
                *error = what;
                return false;
            }
            warnings->push_back(what);
        }
        tl.transitions.push_back(p);
        tl.slots.push_back(slot);
        return true;
    };

    if (requests.open) {
        Placement p;
        p.type = kPluginTransitionBeforeType;
        p.frames = int32_t(std::min(Target(*requests.open), head[0]));
        p.after = p.frames;
        p.clipFrames[0] = clipFrames[0];
        if (!settle(p, *requests.open, -1)) return false;
    }
    for (size_t j = 0; j < count; ++j) {
        const int64_t end = tl.clipStart[j] + clipFrames[j];
        if (j + 1 == count) {
            tl.total = end;
            break;
        }
        const auto& join = requests.joins[j];
        if (!join) {
            tl.clipStart[j + 1] = end;
            tl.cut.push_back(end);
            continue;
        }
        Placement p;
        p.type = kPluginTransitionBetweenType;
        p.clip = int(j);
        p.clipStart = tl.clipStart[j];
        p.clipFrames[0] = clipFrames[j];
        p.clipFrames[1] = clipFrames[j + 1];
        int64_t n = 0;
        if (Mixes(join->timing)) {
            // The clips overlap by N, shortened to what both clips can give.
            n = std::min({Target(*join), tail[j], head[j + 1]});
            p.before = p.after = int32_t(n);
        } else {
            // Its frames come one after the other: no overlap beyond what it
            // renders fewer than it takes.
            p.before = int32_t(std::min<int64_t>(join->timing.takeBefore, tail[j]));
            p.after = int32_t(std::min<int64_t>(join->timing.takeAfter, head[j + 1]));
            n = std::min<int64_t>(Target(*join), int64_t(p.before) + p.after);
        }
        p.frames = int32_t(n);
        p.start = end - p.before;
        const int64_t overlap = std::max<int64_t>(0, p.Overlap());
        tl.clipStart[j + 1] = end - overlap;
        tl.cut.push_back(end - overlap / 2);
        if (!settle(p, *join, int(j))) return false;
    }
    if (requests.close) {
        Placement p;
        p.type = kPluginTransitionAfterType;
        p.clip = int(count - 1);
        p.clipStart = tl.clipStart[count - 1];
        p.clipFrames[0] = clipFrames[count - 1];
        p.frames = int32_t(std::min(Target(*requests.close), tail[count - 1]));
        p.before = p.frames;
        p.start = tl.total - p.frames;
        if (!settle(p, *requests.close, int(requests.joins.size()))) return false;
    }
    return true;
}

}  // namespace tavhost

// The sequence's clips as the render reaches them: a clip's reader opens a
// little before its first frame is needed and closes after its last, so only
// the clips around the current frame are open and decoding, however long the
// sequence.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "clip_reader.h"
#include "copy_plan.h"
#include "placement.h"
#include "planned_clip.h"

namespace tavhost {

class ClipPool {
  public:
    // Which frames are made into pixels as they are decoded (the others
    // when first asked for): none (transitions composed in YUV), those the
    // transitions use, or all (an output that takes pixels only).
    enum class Pixels { kNone, kTransitions, kEverywhere };
    // Readers open `lead` output frames before a clip's first use. The
    // pictures `copy` copies are not decoded at all.
    ClipPool(const std::vector<PlannedClip>& clips, const Timeline& timeline,
             const std::atomic<bool>* cancel, int64_t lead, Pixels pixels, const CopyPlan& copy);

    // Opens the readers needed from output frame t on and closes those no
    // longer needed, noting what decoding found wrong in each.
    bool Advance(int64_t t, std::string* error);
    // Frame `index` of clip `clip` (opening its reader if it is not open).
    const media::Frame* Frame(int clip, int64_t index, std::string* error);
    // Closes every reader; Damage() is then complete. A clip still used at
    // frame `end` (a piece that stops within it) is stopped where it is, its
    // damage what was found so far.
    void CloseAll(int64_t end);
    // What decoding found wrong, per clip, in clips closed so far.
    const std::vector<media::Damage>& Damage() const { return damage_; }
    // Readers open now.
    int OpenCount() const;

  private:
    bool Open(size_t clip, std::string* error);
    void Close(size_t clip);

    const std::vector<PlannedClip>& clips_;
    const std::atomic<bool>* cancel_;
    int64_t lead_;
    std::vector<int64_t> firstUse_, lastUse_;  // output frames over which each clip is read
    // Per clip, the spans of its frames [first, last] that transitions use.
    std::vector<std::vector<std::pair<int64_t, int64_t>>> transitionFrames_;
    std::vector<CopiedPictures> copied_;  // per clip: its pictures copied as packets
    Pixels pixels_;
    std::vector<std::unique_ptr<media::ClipReader>> readers_;
    std::vector<media::Damage> damage_;
    size_t opened_ = 0, closed_ = 0;
};

}  // namespace tavhost

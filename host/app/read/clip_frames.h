// A clip's frames at the output rate, made one after another on the
// caller's thread: frame k is the clip's picture at time k / fps (the last
// out of its filter graph at or before k) with its sound for that frame.
// ClipReader runs one on a thread of its own, a few frames ahead; a test or
// a host that wants no threads uses it as it is.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "av_util.h"
#include "clip_reader.h"

namespace tavhost::media {

class ClipDecoder;

class ClipFrames {
  public:
    // Clip `path`, probed as `info`, read with `options`. Null with the
    // reason, naming the clip, in `error`.
    static std::unique_ptr<ClipFrames> Open(const std::string& path, const ClipInfo& info,
                                            const ClipReader::Options& options, std::string* error);
    ~ClipFrames();

    enum class Made { kFrame, kEnd, kStopped, kFailed };
    // The next frame into `frame`; kEnd past the last, kStopped when
    // `stopping` says so while it waits on the file, kFailed with the reason
    // in `error`.
    Made Next(Frame* frame, const std::function<bool()>& stopping, std::string* error);
    // The rest of the file, so damage after the last frame made is counted
    // too; a clip trimmed short of its end stops at its out point.
    void ReadToEnd(const std::function<bool()>& stopping);
    // What decoding found wrong so far.
    const Damage& DamageFound() const;

  private:
    ClipFrames(std::string shown, const ClipInfo& info, const ClipReader::Options& options);

    std::string shown_;  // how messages name the clip
    const ClipInfo& info_;
    const ClipReader::Options& options_;
    std::unique_ptr<ClipDecoder> dec_;
    int64_t next_ = 0;
    int64_t count_ = 0;
    // Pictures out of the graph carry their output frame number as pts: the
    // one shown last, and the one after it.
    AvFramePtr last_, ahead_;
    bool videoEnded_ = false;
};

}  // namespace tavhost::media

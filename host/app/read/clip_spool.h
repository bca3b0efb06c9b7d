// Clips that can be read only once (a pipe, a FIFO, process substitution,
// standard input as "-") are copied whole to a temporary file first, so the
// probe and the reader can each open them; the copy is
// removed however the run ends.
#pragma once

#include <string>

namespace tavhost {

class SpooledClip {
  public:
    // Whether `path` must be spooled: "-" or a FIFO, socket or pipe.
    static bool NeedsSpool(const std::string& path);

    SpooledClip() = default;
    ~SpooledClip();
    SpooledClip(const SpooledClip&) = delete;
    SpooledClip& operator=(const SpooledClip&) = delete;

    // Reads `path` to its end into a temporary file. Stops when a signal
    // raises the stop flag. False with the reason (naming `path`) otherwise.
    bool Spool(const std::string& path, std::string* error);
    // The temporary file, once spooled.
    const std::string& Path() const { return temp_; }

  private:
    std::string temp_;
};

}  // namespace tavhost

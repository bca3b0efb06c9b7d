// Opening a clip and its decoders: shared by the probe and the reader.
#pragma once

#include <string>

#include "av_util.h"

namespace tavhost::media {

// Opens `path` and reads its stream information; the error names the file
// as `what` ("clip", "part") and `shown` (its path quoted when empty: a
// file of ours that stands for the user's says the user's name).
bool OpenInput(const std::string& path, InputPtr* out, std::string* error,
               const char* what = "clip", const std::string& shown = "");
// A decoder for `stream`, multithreaded; for a preview, `fast` skips the
// deblocking filter and takes the codec's shortcuts.
CodecPtr OpenDecoder(AVStream* stream, std::string* error, bool fast = false);

inline double Seconds(int64_t ts, AVRational tb) {
    return double(ts) * av_q2d(tb);
}

}  // namespace tavhost::media

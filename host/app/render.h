// Rendering an edited sequence with one transition: the clips placed as an
// editor places them, the transition's frames drawn by the bundle, the whole
// sequence written as a movie or a PNG sequence.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media.h"

namespace tavhost {

struct RenderJob {
    std::string bundle;
    int16_t variant = 3;
    float speed = 0.5f;
    std::optional<uint32_t> seed;
    bool preview = false;
    int width = 0;  // 0: the first clip's size
    int height = 0;
    std::string caption;
    std::string contactSheet;  // PNG of frames of the transition, if set
    std::vector<std::string> clips;
    std::string output;
    std::string preset = "veryfast";  // H.264 encoder preset
    int crf = 20;
    media::Fit fit = media::Fit::kPad;  // clips of another shape than the output
    double stillSeconds = 5.0;          // how long a still image is shown
    bool strict = false;                // a damaged clip is an error
    bool quiet = false;
};

struct RenderSummary {
    int64_t frames = 0;
    int32_t transitionFrames = 0;
    int64_t transitionStart = 0;
    double seconds = 0.0;
    uint32_t seed = 0;
    std::vector<std::string> warnings;
    bool usageMistake = false;  // the failure was a bad value given by the user
};

// Set from a signal handler; a render in progress stops, leaving no output.
extern std::atomic<bool> gInterrupted;

// Renders `job`. Returns true on success; otherwise `error` is one line saying why.
bool Render(const RenderJob& job, RenderSummary* summary, std::string* error);

}  // namespace tavhost

// Rendering an edited sequence with one transition: the clips placed as an
// editor places them, the transition's frames drawn by the bundle, the whole
// sequence written as a movie or a PNG sequence.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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
    bool quiet = false;
};

struct RenderSummary {
    int64_t frames = 0;
    int32_t transitionFrames = 0;
    int64_t transitionStart = 0;
    double seconds = 0.0;
    uint32_t seed = 0;
    std::vector<std::string> warnings;
};

// Set from a signal handler; a render in progress stops, leaving no output.
extern std::atomic<bool> gInterrupted;

// Renders `job`. Returns true on success; otherwise `error` is one line saying why.
bool Render(const RenderJob& job, RenderSummary* summary, std::string* error);

// Variants a bundle offers (GetInfo writes a type for them), 1 to 5.
struct VariantInfo {
    int16_t which = 0;
    int type = 0;
    int32_t frames = 0;  // -1: not set by the bundle
    int32_t takeBefore = 0;
    int32_t takeAfter = 0;
};
class Bundle;
bool DescribeVariants(const Bundle& bundle, float speed, std::vector<VariantInfo>* variants,
                      std::string* error);

// Draws the bundle's placeholder at width x height into a PNG file.
bool RenderPlaceholder(const std::string& bundle, int width, int height, const std::string& caption,
                       const std::string& output, std::string* error);

// Writes `path` through a temporary file beside it, renamed into place when
// `write` succeeds and removed when it fails.
bool WriteBeside(const std::string& path, const std::string& suffix,
                 const std::function<bool(const std::string&, std::string*)>& write,
                 std::string* error);

}  // namespace tavhost

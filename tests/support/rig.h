// One bundle loaded as the host loads it, driven through the real host
// runtime wrapped in the recording layer, with synthetic clips as its frames.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bundle.h"
#include "host.h"
#include "instance.h"
#include "recording_host.h"
#include "scripted_rand.h"

namespace tavtest {

inline const std::vector<std::string> kAllBundles = {
    "boxscatter", "boxrevealwhite", "boxrevealblack", "boxconcealwhite", "boxconcealblack"};
inline const std::vector<std::string> kSingleClipBundles = {"boxrevealwhite", "boxrevealblack",
                                                            "boxconcealwhite", "boxconcealblack"};

// The plug-ins' per-instance record as the tests peek at it.
struct EffectDataView {
    int32_t frameCount;
    int16_t boxSize;
};

// Source frames whose every pixel tells its frame number and position; the
// blue channel stays within 0x40..0xBF, so no clip pixel is pure white or black.
class PatternClips : public tavhost::FrameProvider {
  public:
    static uint32_t Pixel(int32_t number, int x, int y);
    static float Sample(int32_t number) { return 0.001f * float(number % 500 + 1); }

    TavPluginResult ProvideFrame(int32_t number, bool lowQuality, PixMap& picture,
                                 std::span<float> audio, int16_t& volume) override;

    int16_t volume = 255;
    int32_t limit = 1 << 30;  // frames from this number on do not exist
    int provided = 0;
};

// The loaded bundle's entry point, loaded once per process.
const tavhost::Bundle& LoadBundle(const std::string& name);

class Rig {
  public:
    explicit Rig(const std::string& bundle, int16_t which = 3, int width = 64, int height = 48);

    tavhost::Host host;
    RecordingHost rec{host};
    PatternClips clips;
    tavhost::TransitionInstance inst;
    TavPluginParams& P() { return inst.Params(); }

    // GetInfo and Initialize as a host starts an instance, then forgets the calls.
    void Start(float speed = 0.5f);
    // DoFrame at `frameRect` (the whole output world by default).
    int32_t Frame(int32_t renderFrame, int32_t frameCount, int32_t startFrame = 0);
    Rect frameRect;

    // Output pixel at (x, y) of the output world.
    uint32_t Out(int x, int y);
    // Problems the host found after the calls so far (none expected).
    void ExpectClean() { EXPECT_EQ(host.Problems(), std::vector<std::string>{}); }
};

}  // namespace tavtest

// One bundle loaded as the host loads it, driven through the real host
// runtime wrapped in the recording layer, with synthetic clips as its frames.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host.h"
#include "instance.h"
#include "loaded_bundle.h"
#include "recording_host.h"
#include "scripted_rand.h"

inline bool operator==(const RGBColor& a, const RGBColor& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}
inline std::ostream& operator<<(std::ostream& os, const RGBColor& c) {
    return os << "rgb(" << c.red << "," << c.green << "," << c.blue << ")";
}
inline bool operator==(const Rect& a, const Rect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}
inline std::ostream& operator<<(std::ostream& os, const Rect& r) {
    return os << "{" << r.top << "," << r.left << "," << r.bottom << "," << r.right << "}";
}

namespace tavtest {

constexpr RGBColor kRed = {0xFFFF, 0, 0};
constexpr RGBColor kGreen = {0, 0xFFFF, 0};
constexpr RGBColor kWhiteRGB = {0xFFFF, 0xFFFF, 0xFFFF};
constexpr RGBColor kBlackRGB = {0, 0, 0};
constexpr uint32_t kWhitePixel = 0xFFFFFFFFu;
constexpr uint32_t kBlackPixel = 0xFF000000u;

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

    TavPluginResult ProvideFrame(int32_t number, bool lowQuality, PixMap* picture,
                                 std::vector<float>& audio, int16_t& volume) override;

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

    // Output pixel at (x, y) of the output world, and all of them row by row.
    uint32_t Out(int x, int y);
    std::vector<uint32_t> OutPixels();
    // The output port's colours.
    void SetPortColours(const RGBColor& fore, const RGBColor& back);
    RGBColor Fore();
    RGBColor Back();
    // Problems the host found after the calls so far (none expected).
    void ExpectClean() { EXPECT_EQ(host.Problems(), std::vector<std::string>{}); }
};

}  // namespace tavtest

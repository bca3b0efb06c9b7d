// Recorded drawing gives the same pixels as drawing directly: every bundle
// and variant at the first, middle and last frames, on frames of every shape
// (1x1, odd, not a multiple of the box) placed anywhere in the world; and
// scripts of every kind of drawing, where the recording must step aside.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "box_pattern.h"
#include "support/drawing_script.h"
#include "support/rig.h"

namespace tavtest {
namespace {

using tavhost::Composed;
using tavhost::Drawing;

// The pictures in a plain buffer of 32-bit pixels, as an editor hands them over.
class BufferTarget : public tavhost::ComposeTarget {
  public:
    BufferTarget(int w, int h) : width_(w), height_(h), out_(size_t(w) * size_t(h)) {}
    tavhost::PlaneLayout Layout() const override { return tavhost::PlaneLayout::Pixels(); }
    tavhost::PlaneImage Image() override {
        tavhost::PlaneImage image;
        image.data[0] = reinterpret_cast<uint8_t*>(out_.data());
        image.stride[0] = width_ * 4;
        return image;
    }
    bool Source(int32_t number, bool, int32_t w, int32_t h, tavhost::PlaneImage* image) override {
        if (w != width_ || h != height_) return false;
        std::vector<uint32_t>& pixels = sources_[number];
        pixels.resize(out_.size());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels[size_t(y) * w + x] = PatternClips::Pixel(number, x, y);
        image->data[0] = reinterpret_cast<uint8_t*>(pixels.data());
        image->stride[0] = w * 4;
        return true;
    }
    void FillSamples(uint32_t pixel, uint32_t samples[3]) override { samples[0] = pixel; }
    const std::vector<uint32_t>& Out() const { return out_; }

  private:
    int width_, height_;
    std::vector<uint32_t> out_;
    std::map<int32_t, std::vector<uint32_t>> sources_;
};

struct Shape {
    const char* name;
    int worldW, worldH;
    Rect frame;
};

const Shape kShapes[] = {
    {"1x1", 1, 1, {0, 0, 1, 1}},
    {"3x2", 3, 2, {0, 0, 2, 3}},
    {"64x48", 64, 48, {0, 0, 48, 64}},
    {"37x29", 37, 29, {0, 0, 29, 37}},
    {"33x17_inside_a_larger_world", 45, 26, {5, 7, 22, 40}},
    {"30x20_partly_outside", 24, 18, {-3, -5, 17, 25}},
};

using Case = std::tuple<std::string, int, int>;  // bundle, variant, shape

class RecordedBundles : public ::testing::TestWithParam<Case> {};

// One frame as drawn: the world's pixels, DoFrame's result, and the target's
// pixels when the recording was composed into one.
struct Drawn {
    int32_t result = 0;
    std::vector<uint32_t> world;
    std::vector<uint32_t> target;
    bool recordedSomething = false;
};

std::vector<Drawn> DrawFrames(const Case& c, Drawing drawing, const std::vector<int>& frames) {
    const auto& [bundle, which, shapeIndex] = c;
    const Shape& shape = kShapes[shapeIndex];
    const int w = shape.frame.right - shape.frame.left, h = shape.frame.bottom - shape.frame.top;
    Rig rig(bundle, int16_t(which), shape.worldW, shape.worldH);
    rig.host.SetDrawing(drawing);
    rig.host.ComposeLater(true);
    rig.frameRect = shape.frame;
    rig.Start();
    std::vector<Drawn> drawn;
    for (const int frame : frames) {
        Drawn d;
        PaintPattern(rig.host.OutputWorld(), uint32_t(frame));
        ResetRand(uint64_t(frame) + 7);
        d.result = rig.Frame(frame, 10);
        d.recordedSomething = !rig.host.Recorded().Empty();
        if (drawing == Drawing::kRecorded) {
            BufferTarget target(w, h);
            if (rig.host.Compose(&target) == Composed::kTarget) d.target = target.Out();
            EXPECT_NE(rig.host.Compose(nullptr), Composed::kFailed);
        }
        d.world = rig.OutPixels();
        drawn.push_back(std::move(d));
    }
    rig.ExpectClean();
    return drawn;
}

TEST_P(RecordedBundles, SamePixelsAsDrawingDirectly) {
    const Shape& shape = kShapes[std::get<2>(GetParam())];
    const int w = shape.frame.right - shape.frame.left, h = shape.frame.bottom - shape.frame.top;
    const bool inside = shape.frame.top >= 0 && shape.frame.left >= 0 &&
                        shape.frame.right <= shape.worldW && shape.frame.bottom <= shape.worldH;
    const std::vector<int> frames = {0, 1, 4, 5, 8, 9};
    const std::vector<Drawn> direct = DrawFrames(GetParam(), Drawing::kDirect, frames);
    const std::vector<Drawn> recorded = DrawFrames(GetParam(), Drawing::kRecorded, frames);
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(frames[i]));
        ASSERT_EQ(recorded[i].result, direct[i].result);
        ASSERT_EQ(recorded[i].world, direct[i].world);
        if (!recorded[i].target.empty()) {
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(recorded[i].target[size_t(y) * w + x],
                              direct[i].world[size_t(shape.frame.top + y) * shape.worldW +
                                              size_t(shape.frame.left + x)])
                        << "target pixel " << x << "," << y;
        } else {
            EXPECT_FALSE(inside && recorded[i].recordedSomething)
                << "a frame drawn inside its world was not composed into its target";
        }
    }
}

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (const std::string& bundle : kAllBundles)
        for (int which = 1; which <= 5; ++which)
            for (int shape = 0; shape < int(std::size(kShapes)); ++shape)
                cases.emplace_back(bundle, which, shape);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllBundles, RecordedBundles, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::get<0>(info.param) + "_variant" +
                                    std::to_string(std::get<1>(info.param)) + "_" +
                                    kShapes[std::get<2>(info.param)].name;
                         });

// The box grid is kept as a map, one byte a box, and the frame is composed
// in one pass: the recording of a scatter frame holds one operation.
TEST(RecordedBundles, ABoxFrameIsOneOperationAndAMap) {
    Rig rig("boxscatter", 1, 64, 48);
    rig.host.SetDrawing(Drawing::kRecorded);
    rig.Start();
    ASSERT_EQ(rig.Frame(4, 10), kPluginOK);
    const tavhost::FrameRecording& r = rig.host.Recorded();
    EXPECT_EQ(r.Operations().size(), 1u);
    EXPECT_EQ(r.Step(), 2);
    EXPECT_EQ(r.Columns(), 32);
    EXPECT_EQ(r.Rows(), 24);
    EXPECT_EQ(r.Layers().size(), 2u);
}

// Scripts of drawing a bundle might do, run directly and recorded on worlds
// whose origin is anywhere; each holds operations the recording cannot
// express (text, scaling, copying the output onto itself, drawing into a
// source) somewhere among those it can.
class RecordedScripts : public ::testing::TestWithParam<int> {};

TEST_P(RecordedScripts, SamePixelsAsDrawingDirectly) {
    std::mt19937 random{uint32_t(GetParam())};
    std::vector<uint8_t> script(size_t(8 + random() % 120));
    for (uint8_t& b : script) b = uint8_t(random());
    const int16_t top = int16_t(int(random() % 41) - 20), left = int16_t(int(random() % 41) - 20);
    const int16_t w = int16_t(1 + random() % 40), h = int16_t(1 + random() % 30);
    const Rect bounds = {top, left, int16_t(top + h), int16_t(left + w)};
    const int16_t fl = int16_t(left + int(random() % 7) - 2),
                  ft = int16_t(top + int(random() % 7) - 2);
    const Rect frame = {ft, fl, int16_t(ft + 1 + random() % h), int16_t(fl + 1 + random() % w)};

    std::vector<uint32_t> pixels[2];
    for (const Drawing drawing : {Drawing::kDirect, Drawing::kRecorded}) {
        tavhost::Host host;
        PatternClips clips;
        host.SetProvider(&clips);
        host.SetDrawing(drawing);
        GWorldPtr world = nullptr;
        ASSERT_EQ(NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0), noErr);
        PaintPattern(world, 99);
        RunDrawingScript(host, world, frame, script);
        pixels[drawing == Drawing::kRecorded] = WorldPixels(world);
        EXPECT_EQ(host.Problems(), std::vector<std::string>{});
        DisposeGWorld(world);
    }
    ASSERT_EQ(pixels[1], pixels[0]);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RecordedScripts, ::testing::Range(0, 300));

// The pattern alone, drawn with no pixels: every pixel the bundle draws
// directly is the picture (or colour) the map gives its box, for every bundle
// and box size, at the start, the middle and the end, on frames of odd size.
using PatternCase = std::tuple<std::string, int>;

class BoxPatterns : public ::testing::TestWithParam<PatternCase> {};

TEST_P(BoxPatterns, EveryPixelIsWhatItsBoxShows) {
    const auto& [bundle, which] = GetParam();
    constexpr int kW = 37, kH = 29;
    tavhost::BoxPattern pattern(LoadBundle(bundle), int16_t(which), kW, kH);
    ASSERT_TRUE(pattern.Ready());
    Rig direct(bundle, int16_t(which), kW, kH);
    direct.host.SetDrawing(Drawing::kDirect);
    direct.Start();
    constexpr int32_t kSteps = tavhost::BoxPattern::kSteps;
    for (const double progress : {0.00001, 0.3, 0.5, 0.77, 1.0}) {
        SCOPED_TRACE("progress " + std::to_string(progress));
        const int32_t frame = int32_t(std::lround(progress * kSteps)) - 1;
        tavhost::BoxMap map;
        ResetRand(uint64_t(frame) + 3);
        ASSERT_TRUE(pattern.Draw(progress, 5, &map));
        ResetRand(uint64_t(frame) + 3);
        ASSERT_EQ(direct.Frame(frame, kSteps, 1), kPluginOK);
        ASSERT_EQ(map.cells.size(), size_t(map.columns) * size_t(map.rows));
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const uint8_t shows = map.cells[size_t(y / map.step) * map.columns + x / map.step];
                const uint32_t want =
                    shows == tavhost::BoxMap::kColour
                        ? map.colour
                        : PatternClips::Pixel(
                              1 + frame + (shows == tavhost::BoxMap::kSecond ? kSteps : 0), x, y);
                ASSERT_EQ(direct.Out(x, y), want) << "at " << x << "," << y;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(AllBundles, BoxPatterns,
                         ::testing::Combine(::testing::ValuesIn(kAllBundles),
                                            ::testing::Values(1, 2, 3, 4)),
                         [](const ::testing::TestParamInfo<PatternCase>& info) {
                             return std::get<0>(info.param) + "_variant" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace tavtest

// DoFrame draws inside frameRect and nowhere else, wherever the output world
// lies and whatever the rectangle: offset, cut by the world's edge, empty,
// inverted, or spanning more than 16-bit sizes hold.
#include <gtest/gtest.h>

#include "support/rig.h"
#include "support/world.h"

namespace tavtest {
namespace {

struct RectCase {
    const char* name;
    Rect world;
    Rect frameRect;
};

void PrintTo(const RectCase& c, std::ostream* os) {
    *os << c.name;
}

class FrameRectBounds
    : public ::testing::TestWithParam<std::tuple<std::string, RectCase, int32_t>> {};

TEST_P(FrameRectBounds, NoPixelChangesOutsideFrameRect) {
    const auto& [bundle, c, renderFrame] = GetParam();
    Rig rig(bundle, 1, 8, 8);
    rig.Start();
    World out(c.world);
    out.Fill(0xFF0000FFu);
    TavPluginParams& p = rig.P();
    p.startFrame = 0;
    p.renderFrame = renderFrame;
    p.frameCount = 10;
    p.frameRect = c.frameRect;
    p.frame = out.world;
    EXPECT_EQ(rig.inst.Send(kPlugDoFrame), kPluginOK);
    p.frame = nullptr;  // the world goes before the instance's Terminate
    const Rect& r = c.frameRect;
    int changedInside = 0;
    for (int y = c.world.top; y < c.world.bottom; ++y)
        for (int x = c.world.left; x < c.world.right; ++x) {
            const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
            if (!inside) {
                ASSERT_EQ(out.At(x, y), 0xFF0000FFu) << "at " << x << "," << y;
            } else {
                changedInside += out.At(x, y) != 0xFF0000FFu;
            }
        }
    // A frame with room to draw in does draw.
    const bool drawable = r.right > r.left && r.bottom > r.top && r.right > c.world.left &&
                          r.left < c.world.right && r.bottom > c.world.top &&
                          r.top < c.world.bottom;
    EXPECT_EQ(changedInside > 0, drawable);
    rig.ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameRectBounds,
    ::testing::Combine(
        ::testing::ValuesIn(kAllBundles),
        ::testing::Values(
            RectCase{"offset", {0, 0, 40, 50}, {5, 7, 30, 33}},
            RectCase{"cutByTheEdge", {-10, -10, 30, 30}, {-20, 12, 25, 60}},
            RectCase{"empty", {0, 0, 20, 20}, {5, 5, 5, 15}},
            RectCase{"inverted", {0, 0, 20, 20}, {15, 15, 5, 5}},
            // An inverted span of more than 32767: its 16-bit width and
            // height wrap to positive sizes.
            RectCase{
                "wrappingSpan", {-32768, -32768, -32700, -32700}, {32744, 32763, -32527, -32541}},
            RectCase{"nearTheTop", {32700, 32700, 32767, 32767}, {32710, 32705, 32767, 32767}}),
        ::testing::Values(0, 4, 9)),
    [](const auto& info) {
        return std::get<0>(info.param) + "_" + std::get<1>(info.param).name + "_" +
               std::to_string(std::get<2>(info.param));
    });

}  // namespace
}  // namespace tavtest

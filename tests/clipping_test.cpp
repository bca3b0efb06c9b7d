// One clipping rule for every fill and copy: the host's FillRect and Blit and
// the drawing layer's PaintRect and EraseRect change exactly the pixels of
// the rectangle that lie inside the world, and nothing for an empty or
// inverted rectangle. Also the size limits of worlds and lent frames, and the
// service table's firewall.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "host.h"
#include "scoped_port.h"
#include "support/rig.h"
#include "support/world.h"

namespace tavtest {
namespace {

constexpr uint32_t kPaint = 0xFF123456u;
constexpr RGBColor kPaintRGB = {0x1212, 0x3434, 0x5656};

struct ClipCase {
    const char* name;
    Rect bounds;
    Rect rect;
};

void PrintTo(const ClipCase& c, std::ostream* os) {
    *os << c.name;
}

bool Inside(const Rect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// Fills `rect` of a world of `bounds` with kPaint through one of the paths.
enum class Path { kFillRectService, kPaintRect, kEraseRect, kBlit };

void Fill(Path path, World& w, const Rect& rect) {
    switch (path) {
        case Path::kFillRectService:
            ASSERT_EQ(tavhost::Host::kProcs.FillRect(&w.Map(), &rect, &kPaintRGB), kPluginOK);
            break;
        case Path::kPaintRect:
        case Path::kEraseRect: {
            tavhost::ScopedPort port(w.world);
            RGBForeColor(&kPaintRGB);
            RGBBackColor(&kPaintRGB);
            path == Path::kPaintRect ? PaintRect(&rect) : EraseRect(&rect);
            break;
        }
        case Path::kBlit: {
            // From a source that covers the rectangle wherever it lies.
            World src({-32768, -32768, -32767, -32767});
            src.Fill(kPaint);
            const Rect one = {-32768, -32768, -32767, -32767};
            // A one-pixel source scaled over the rectangle: every pixel kPaint.
            ASSERT_EQ(tavhost::Host::kProcs.Blit(&src.Map(), &w.Map(), &one, &rect, 255),
                      kPluginOK);
            break;
        }
    }
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Path, ClipCase>>& info) {
    static const char* const kPaths[] = {"FillRect", "PaintRect", "EraseRect", "Blit"};
    return std::string(kPaths[int(std::get<0>(info.param))]) + "_" + std::get<1>(info.param).name;
}

class SharedClipping : public ::testing::TestWithParam<std::tuple<Path, ClipCase>> {};

TEST_P(SharedClipping, OnlyTheClippedRectangleChanges) {
    const auto [path, c] = GetParam();
    World w(c.bounds);
    w.Fill(kWhitePixel);
    Fill(path, w, c.rect);
    for (int y = c.bounds.top; y < c.bounds.bottom; ++y)
        for (int x = c.bounds.left; x < c.bounds.right; ++x)
            ASSERT_EQ(w.At(x, y), Inside(c.rect, x, y) ? kPaint : kWhitePixel)
                << "at " << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SharedClipping,
    ::testing::Combine(
        ::testing::Values(Path::kFillRectService, Path::kPaintRect, Path::kEraseRect, Path::kBlit),
        ::testing::Values(ClipCase{"inside", {0, 0, 20, 30}, {2, 3, 9, 11}},
                          ClipCase{"overlapsEveryEdge", {-4, -6, 10, 12}, {-9, -9, 15, 20}},
                          ClipCase{"invertedAcross", {0, 0, 100, 100}, {10, 60, 20, 50}},
                          ClipCase{"rightOfANarrowWorld", {0, 0, 10, 4}, {2, 8, 6, 12}},
                          ClipCase{"invertedBothWays", {0, 0, 10, 10}, {8, 8, 2, 2}},
                          ClipCase{"empty", {0, 0, 10, 10}, {3, 3, 3, 9}},
                          ClipCase{"wrappingSpan", {0, 0, 40, 40}, {32744, 32763, -32527, -32541}},
                          ClipCase{"fullRange", {5, 5, 25, 25}, {-32768, -32768, 32767, 32767}})),
    CaseName);

TEST(WorldLimits, NewGWorldRefusesWorldsBeyondItsLimits) {
    GWorldPtr world = nullptr;
    const Rect longest = {0, 0, 1, 32767};
    EXPECT_EQ(NewGWorld(&world, 32, &longest, nullptr, nullptr, 0), noErr);
    DisposeGWorld(world);
    for (const Rect r :
         {Rect{0, 0, 32767, 32767}, Rect{0, 0, 16385, 16384}, Rect{-32768, -32768, 32767, 32767}}) {
        world = reinterpret_cast<GWorldPtr>(1);
        EXPECT_EQ(NewGWorld(&world, 32, &r, nullptr, nullptr, 0), paramErr) << r;
        EXPECT_EQ(world, nullptr);
    }
}

TEST(WorldLimits, GetFrameRefusesFramesBeyondTheLimit) {
    Rig rig("boxrevealwhite", 1, 8, 8);
    GWorldPtr world = nullptr;
    int16_t volume = 0;
    TavFrameCookie cookie = nullptr;
    EXPECT_EQ(rig.host.GetFrame(0, &world, 40000, 2, 1, &volume, &cookie), kPluginOutOfMemory);
    EXPECT_EQ(rig.host.GetFrame(0, &world, 32767, 32767, 1, &volume, &cookie), kPluginOutOfMemory);
    EXPECT_EQ(rig.host.LentFrameCount(), 0);
}

// A provider that throws what a real one may throw.
class ThrowingClips : public tavhost::FrameProvider {
  public:
    explicit ThrowingClips(bool outOfMemory) : outOfMemory_(outOfMemory) {}
    TavPluginResult ProvideFrame(int32_t, bool, PixMap*, std::vector<float>&, int16_t&) override {
        if (outOfMemory_) throw std::bad_alloc();
        throw std::runtime_error("decoder gone");
    }

  private:
    bool outOfMemory_;
};

TEST(ServiceFirewall, ExceptionsBecomeResultCodes) {
    for (const bool outOfMemory : {true, false}) {
        Rig rig("boxconcealblack", 2, 16, 16);
        ThrowingClips clips(outOfMemory);
        rig.host.SetProvider(&clips);
        rig.Start();
        EXPECT_EQ(rig.Frame(3, 10), outOfMemory ? kPluginOutOfMemory : kPluginFailed);
        EXPECT_EQ(rig.host.LentFrameCount(), 0);
        rig.ExpectClean();
    }
}

}  // namespace
}  // namespace tavtest

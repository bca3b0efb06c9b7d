// The progress placeholder of every bundle, drawn with real text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/rig.h"

namespace tavtest {
namespace {

constexpr uint32_t kGrey = 0xFF2F2F2Fu;

// Width of `text` at size 64 in the drawing layer's font, measured in a scratch world.
int16_t WidthAt64(const std::string& text) {
    GWorldPtr world;
    const Rect bounds = {0, 0, 4, 4};
    EXPECT_EQ(NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0), noErr);
    CGrafPtr port;
    GDHandle device;
    GetGWorld(&port, &device);
    SetGWorld(world, nullptr);
    TextSize(64);
    Str255 s;
    tavhost::ToPascal(text, s);
    const int16_t width = StringWidth(s);
    SetGWorld(port, device);
    DisposeGWorld(world);
    return width;
}

struct Extent {
    int left = INT32_MAX, right = INT32_MIN, top = INT32_MAX, bottom = INT32_MIN, count = 0;
    void Add(int x, int y) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        ++count;
    }
};

class Placeholder : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (std::string(TavFontPath()).empty()) GTEST_SKIP() << "no font in this build";
    }

    // Draws into a world of `w` x `h` at `frameRect`; returns the extents of
    // pure white and pure black pixels.
    std::pair<Extent, Extent> Draw(Rig& rig) {
        EXPECT_EQ(rig.inst.Placeholder(rig.frameRect), kPluginOK);
        rig.ExpectClean();
        Extent white, black;
        PixMap& pm = **GetGWorldPixMap(rig.host.OutputWorld());
        for (int y = 0; y < pm.bounds.bottom; ++y)
            for (int x = 0; x < pm.bounds.right; ++x) {
                const uint32_t p = rig.Out(x, y);
                if (p == kWhitePixel) white.Add(x, y);
                if (p == kBlackPixel) black.Add(x, y);
            }
        return {white, black};
    }
};

// What holds with or without a font.
class PlaceholderAnyFont : public ::testing::TestWithParam<std::string> {};

TEST_P(Placeholder, FallbackCaptionCentredAtOneThird) {
    Rig rig(GetParam(), 1, 640, 240);
    rig.SetPortColours(kRed, kGreen);
    auto [white, black] = Draw(rig);
    EXPECT_EQ(rig.rec.CallsOf(Svc::GetLocalizedString).size(), 1u);
    EXPECT_EQ(rig.rec.CallsOf(Svc::GetLocalizedString)[0].a, kTavPlaceholderStringList);
    EXPECT_EQ(rig.rec.CallsOf(Svc::GetLocalizedString)[0].b, 1);
    EXPECT_EQ(rig.rec.Count(Svc::pstrcpy), 1);
    EXPECT_EQ(rig.P().clientData, nullptr);

    const int width = WidthAt64("In Progress...");
    ASSERT_GT(width, 200);
    const int locX = (640 - width) / 2, locY = 80;
    // White caption at (locX - 2, locY - 2); its letters rise from the baseline.
    ASSERT_GT(white.count, 500);
    EXPECT_GE(white.left, locX - 2);
    EXPECT_LE(white.left, locX - 2 + 10);
    EXPECT_LE(white.right, locX - 2 + width);
    EXPECT_GE(white.top, locY - 2 - 64);
    EXPECT_GT(white.bottom, locY - 2 - 1);  // "g" descends below the baseline
    // The black shadow sits 2 pixels right of and below the white.
    ASSERT_GT(black.count, 50);
    EXPECT_GE(black.right, white.right + 1);
    EXPECT_GE(black.bottom, white.bottom + 1);
    // Grey everywhere away from the caption; the background colour ends white.
    EXPECT_EQ(rig.Out(0, 0), kGrey);
    EXPECT_EQ(rig.Out(639, 239), kGrey);
    EXPECT_EQ(rig.Out(5, 80), kGrey);
    EXPECT_EQ(rig.Back(), kWhiteRGB);
    EXPECT_EQ(rig.Fore(), kWhiteRGB);
}

TEST_P(Placeholder, HostCaptionReplacesFallback) {
    Rig rig(GetParam(), 1, 320, 240);
    rig.host.SetString(kTavPlaceholderStringList, 1, "Hi");
    auto [white, black] = Draw(rig);
    EXPECT_EQ(rig.rec.Count(Svc::pstrcpy), 0);
    const int width = WidthAt64("Hi");
    const int locX = (320 - width) / 2;
    EXPECT_GE(white.left, locX - 2);
    EXPECT_LE(white.right, locX - 2 + width);
    EXPECT_GT(white.count, 100);
}

TEST_P(Placeholder, GreyCoversExactlyTheFrameRect) {
    Rig rig(GetParam(), 1, 300, 200);
    rig.frameRect = {120, 20, 190, 220};
    rig.host.SetString(kTavPlaceholderStringList, 1, " ");  // a caption that leaves no pixel
    Draw(rig);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) {
            const bool inside = y >= 120 && y < 190 && x >= 20 && x < 220;
            if (inside) {
                ASSERT_EQ(rig.Out(x, y), kGrey) << x << "," << y;
            } else {
                ASSERT_NE(rig.Out(x, y), kGrey) << x << "," << y;
            }
        }
}

TEST_P(Placeholder, CaptionWiderThanFrameIsClipped) {
    Rig rig(GetParam(), 1, 100, 120);
    rig.host.SetString(kTavPlaceholderStringList, 1, std::string(255, 'W'));
    auto [white, black] = Draw(rig);
    EXPECT_EQ(white.left, 0) << "the caption starts left of the frame";
    EXPECT_EQ(white.right, 99);
}

TEST_P(Placeholder, ShortFrames) {
    for (auto [height, locY] : {std::pair{100, 33}, std::pair{2, 0}}) {
        Rig rig(GetParam(), 1, 320, height);
        auto [white, black] = Draw(rig);
        if (height == 100) {
            EXPECT_GT(white.bottom, locY - 3);
            EXPECT_LT(white.top, locY - 2);
        }
        EXPECT_TRUE(rig.Out(319, height - 1) == kGrey);
    }
}

TEST_P(PlaceholderAnyFont, PixelsStateComesBack) {
    Rig rig(GetParam(), 1, 64, 64);
    PixMapHandle pm = GetGWorldPixMap(rig.host.OutputWorld());
    for (GWorldFlags state : {GWorldFlags(0), pixelsLocked, pixelsLocked | pixelsPurgeable}) {
        SetPixelsState(pm, state);
        EXPECT_EQ(rig.inst.Placeholder(rig.frameRect), kPluginOK);
        EXPECT_EQ(GetPixelsState(pm), state);
    }
    rig.ExpectClean();
}

TEST_P(PlaceholderAnyFont, NullFrameIsRefused) {
    Rig rig(GetParam(), 1, 64, 64);
    rig.P().frame = nullptr;
    rig.P().frameRect = rig.frameRect;
    EXPECT_EQ(rig.inst.Send(kPlugFilePlaceHolder), kPluginBadParams);
    EXPECT_TRUE(rig.rec.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(AllBundles, Placeholder, ::testing::ValuesIn(kAllBundles));
INSTANTIATE_TEST_SUITE_P(AllBundles, PlaceholderAnyFont, ::testing::ValuesIn(kAllBundles));

// Run with TAV_FONT pointing nowhere: text measures 0 and draws nothing.
TEST(NoFont, OnlyTheGreyIsDrawn) {
    if (!std::string(TavFontPath()).empty()) GTEST_SKIP() << "a font is loaded";
    Rig rig("boxscatter", 1, 80, 40);
    EXPECT_EQ(rig.inst.Placeholder(rig.frameRect), kPluginOK);
    EXPECT_EQ(WidthAt64("In Progress..."), 0);
    for (uint32_t p : rig.OutPixels()) ASSERT_EQ(p, kGrey);
}

}  // namespace
}  // namespace tavtest

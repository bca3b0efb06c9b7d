// The drawing layer and the host's Blit: real pixels, clipping, lock state,
// per-thread ports, colours and text.
#include <gtest/gtest.h>

#include <thread>

#include "support/rig.h"
#include "support/world.h"

namespace tavtest {
namespace {

class DrawingLayer : public ::testing::Test {
  protected:
    void SetUp() override { GetGWorld(&savedPort_, &savedDevice_); }
    void TearDown() override { SetGWorld(savedPort_, savedDevice_); }
    CGrafPtr savedPort_;
    GDHandle savedDevice_;
};

TEST_F(DrawingLayer, NewWorldChecksItsArguments) {
    GWorldPtr world = reinterpret_cast<GWorldPtr>(1);
    const Rect good = {0, 0, 2, 2}, empty = {5, 5, 5, 9};
    EXPECT_EQ(NewGWorld(&world, 16, &good, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(world, nullptr);
    EXPECT_EQ(NewGWorld(&world, 32, &empty, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(NewGWorld(nullptr, 32, &good, nullptr, nullptr, 0), paramErr);
    const int32_t live = TavLiveGWorldCount();
    {
        World w({-3, -4, 5, 6});
        EXPECT_EQ(TavLiveGWorldCount(), live + 1);
        EXPECT_EQ(w.At(-4, -3), kWhitePixel);
        EXPECT_EQ(w.At(5, 4), kWhitePixel);
        Rect bounds;
        GetPortBounds(w.world, &bounds);
        EXPECT_EQ(bounds, (Rect{-3, -4, 5, 6}));
    }
    EXPECT_EQ(TavLiveGWorldCount(), live);
}

TEST_F(DrawingLayer, PaintAndEraseFillOnlyInsideThePort) {
    World w({10, 20, 30, 60});
    SetGWorld(w.world, nullptr);
    const RGBColor fore = {0x1200, 0x3400, 0x5600}, back = {0xAB00, 0xCD00, 0xEF00};
    RGBForeColor(&fore);
    RGBBackColor(&back);
    const Rect paint = {0, 50, 15, 100};  // overlaps the top-right corner only
    PaintRect(&paint);
    const Rect erase = {25, 0, 40, 22};  // overlaps the bottom-left corner only
    EraseRect(&erase);
    for (int y = 10; y < 30; ++y)
        for (int x = 20; x < 60; ++x) {
            const uint32_t expected = (y < 15 && x >= 50)   ? 0xFF123456u
                                      : (y >= 25 && x < 22) ? 0xFFABCDEFu
                                                            : kWhitePixel;
            ASSERT_EQ(w.At(x, y), expected) << x << "," << y;
        }
    RGBColor c;
    GetForeColor(&c);
    EXPECT_EQ(c, fore);
    GetBackColor(&c);
    EXPECT_EQ(c, back);
}

TEST_F(DrawingLayer, ClassicIndexedColours) {
    World w({0, 0, 1, 1});
    SetGWorld(w.world, nullptr);
    const std::pair<int32_t, RGBColor> table[] = {{33, {0, 0, 0}},
                                                  {30, {0xFFFF, 0xFFFF, 0xFFFF}},
                                                  {205, {0xDD6B, 0x08C2, 0x06A2}},
                                                  {341, {0x0000, 0x8000, 0x11B0}},
                                                  {409, {0x0000, 0x0000, 0xD400}},
                                                  {273, {0x0241, 0xAB54, 0xEAFF}},
                                                  {137, {0xF2D7, 0x0856, 0x84EC}},
                                                  {69, {0xFC00, 0xF37D, 0x052F}}};
    RGBColor c;
    for (auto [index, rgb] : table) {
        ForeColor(index);
        GetForeColor(&c);
        EXPECT_EQ(c, rgb) << index;
        BackColor(index);
        GetBackColor(&c);
        EXPECT_EQ(c, rgb) << index;
    }
    ForeColor(12345);  // not a classic colour: unchanged
    GetForeColor(&c);
    EXPECT_EQ(c, (RGBColor{0xFC00, 0xF37D, 0x052F}));
}

TEST_F(DrawingLayer, LockStateIsRealAndRestorable) {
    World w({0, 0, 2, 2});
    PixMapHandle pm = GetGWorldPixMap(w.world);
    const Handle h = reinterpret_cast<Handle>(pm);
    EXPECT_EQ(GetPixelsState(pm), 0u);
    EXPECT_TRUE(LockPixels(pm));
    EXPECT_EQ(GetPixelsState(pm), pixelsLocked);
    SetPixelsState(pm, pixelsPurgeable);
    EXPECT_EQ(GetPixelsState(pm), pixelsPurgeable);
    UnlockPixels(pm);
    EXPECT_EQ(GetPixelsState(pm), pixelsPurgeable);

    EXPECT_EQ(HGetState(h), 0);
    const SInt8 saved = HGetState(h);
    MoveHHi(h);
    HLock(h);
    EXPECT_EQ(HGetState(h) & (1 << kHandleLockedBit), 1 << kHandleLockedBit);
    EXPECT_EQ(*pm, &w.Map()) << "a locked handle still reaches its pixel map";
    HSetState(h, saved);
    EXPECT_EQ(HGetState(h), saved);
    HSetState(h, SInt8(0xA0));
    HUnlock(h);
    EXPECT_EQ(uint8_t(HGetState(h)), 0x20);
}

TEST_F(DrawingLayer, CurrentPortIsPerThreadAndDisposalClearsIt) {
    auto* w = new World({0, 0, 4, 4});
    SetGWorld(w->world, nullptr);
    CGrafPtr port;
    GDHandle device;
    GetGWorld(&port, &device);
    EXPECT_EQ(port, w->world);
    EXPECT_EQ(device, GetGWorldDevice(w->world));
    std::thread([] {
        CGrafPtr p;
        GDHandle d;
        GetGWorld(&p, &d);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(d, nullptr);
    }).join();
    delete w;
    GetGWorld(&port, &device);
    EXPECT_EQ(port, nullptr);
    EXPECT_EQ(device, nullptr);
}

TEST_F(DrawingLayer, TextAdvancesThePenByItsWidth) {
    if (std::string(TavFontPath()).empty()) GTEST_SKIP() << "no font in this build";
    World w({0, 0, 100, 400});
    SetGWorld(w.world, nullptr);
    Str255 text;
    tavhost::ToPascal("Box \xC9", text);  // Mac Roman ellipsis
    TextSize(20);
    const short small = StringWidth(text);
    TextSize(40);
    const short large = StringWidth(text);
    EXPECT_GT(small, 20);
    EXPECT_NEAR(large, 2 * small, 4);
    MoveTo(10, 60);
    ForeColor(redColor);
    DrawString(text);
    Point pen;
    GetPortPenLocation(w.world, &pen);
    EXPECT_EQ(pen.h, 10 + large);
    EXPECT_EQ(pen.v, 60);
    int red = 0, outside = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 400; ++x) {
            if (w.At(x, y) == 0xFFDD0806u) ++red;
            if (w.At(x, y) != kWhitePixel && (x < 10 || x > 10 + large + 2 || y > 75)) ++outside;
        }
    EXPECT_GT(red, 50);
    EXPECT_EQ(outside, 0);
    // Drawn partly outside the world: clipped, nothing else touched.
    MoveTo(-15, 5);
    DrawString(text);
    MoveTo(390, 120);
    DrawString(text);
}

// --- The host's Blit. ---

TEST(Blit, CopiesClippedToBothWorlds) {
    World src({0, 0, 8, 8}), dst({0, 0, 10, 10});
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) src.Set(x, y, 0xFF000000u | uint32_t(y * 8 + x));
    // Source rect reaches past the source; destination past the destination.
    const Rect from = {4, 4, 12, 12}, to = {6, 6, 14, 14};
    EXPECT_EQ(tavhost::BlitPixMaps(&src.Map(), &dst.Map(), from, to), kPluginOK);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool copied = x >= 6 && y >= 6 && x - 2 < 8 && y - 2 < 8;
            ASSERT_EQ(dst.At(x, y),
                      copied ? 0xFF000000u | uint32_t((y - 2) * 8 + (x - 2)) : kWhitePixel)
                << x << "," << y;
        }
    // Entirely outside: nothing happens.
    const Rect far = {-40, -40, -30, -30};
    EXPECT_EQ(tavhost::BlitPixMaps(&src.Map(), &dst.Map(), far, far), kPluginOK);
}

TEST(Blit, ScalesWithTheNearestPixel) {
    World src({0, 0, 2, 2}), dst({0, 0, 4, 4});
    src.Set(0, 0, 1);
    src.Set(1, 0, 2);
    src.Set(0, 1, 3);
    src.Set(1, 1, 4);
    EXPECT_EQ(tavhost::BlitPixMaps(&src.Map(), &dst.Map(), {0, 0, 2, 2}, {0, 0, 4, 4}), kPluginOK);
    EXPECT_EQ(dst.At(0, 0), 1u);
    EXPECT_EQ(dst.At(3, 0), 2u);
    EXPECT_EQ(dst.At(1, 3), 3u);
    EXPECT_EQ(dst.At(2, 2), 4u);
    // Down-scaling clipped at the destination's edge.
    World big({0, 0, 6, 6});
    big.Fill(7);
    EXPECT_EQ(tavhost::BlitPixMaps(&big.Map(), &dst.Map(), {0, 0, 6, 6}, {2, 2, 5, 5}), kPluginOK);
    EXPECT_EQ(dst.At(3, 3), 7u);
    EXPECT_EQ(dst.At(1, 1), 1u);
}

TEST(Blit, ServiceRefusesNullArguments) {
    World a({0, 0, 2, 2});
    const Rect r = {0, 0, 2, 2};
    EXPECT_EQ(tavhost::Host::kProcs.Blit(nullptr, &a.Map(), &r, &r, 255), kPluginBadParams);
    EXPECT_EQ(tavhost::Host::kProcs.Blit(&a.Map(), &a.Map(), nullptr, &r, 255), kPluginBadParams);
}

}  // namespace
}  // namespace tavtest

// A graphics world owned by a test, with its pixels read and written in the
// world's own coordinates.
#pragma once

#include <gtest/gtest.h>

#include "tav/draw_host.h"

namespace tavtest {

class World {
  public:
    explicit World(Rect bounds) {
        EXPECT_EQ(NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0), noErr);
    }
    ~World() { DisposeGWorld(world); }
    PixMap& Map() { return **GetGWorldPixMap(world); }
    uint32_t At(int x, int y) {
        return TavPixelRow(Map(), y - Map().bounds.top)[x - Map().bounds.left];
    }
    void Fill(uint32_t pixel) {
        for (int y = Map().bounds.top; y < Map().bounds.bottom; ++y)
            for (int x = Map().bounds.left; x < Map().bounds.right; ++x) Set(x, y, pixel);
    }
    void Set(int x, int y, uint32_t p) {
        TavPixelRow(Map(), y - Map().bounds.top)[x - Map().bounds.left] = p;
    }
    GWorldPtr world = nullptr;
};

}  // namespace tavtest

// A transition's frame as its pattern alone: which boxes show the first
// picture, which the second, which the fill colour, one byte a box. The real
// bundle draws it through the runtime with recording on and no pixels at
// all, so a host whose pictures live elsewhere (a GPU) can compose the frame
// itself from the map.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host.h"
#include "instance.h"
#include "loaded_bundle.h"

namespace tavhost {

struct BoxMap {
    enum : uint8_t { kFirst = 0, kSecond = 1, kColour = 2 };
    int32_t width = 0, height = 0;  // the frame
    int32_t step = 0;               // box side in pixels: boxes from the top-left, cut at the edges
    int32_t columns = 0, rows = 0;
    std::vector<uint8_t> cells;  // rows x columns, each kFirst, kSecond or kColour
    uint32_t colour = 0;         // the fill colour, 0xAARRGGBB
};

class BoxPattern {
  public:
    // `bundle`'s `variant` drawing frames of `width` x `height`, with all it
    // needs set up (one frame is drawn). A bundle that cannot start leaves
    // Ready() false.
    BoxPattern(const Bundle& bundle, int16_t variant, int32_t width, int32_t height);
    ~BoxPattern();
    BoxPattern(const BoxPattern&) = delete;
    BoxPattern& operator=(const BoxPattern&) = delete;

    bool Ready() const { return ready_; }
    // The frame at `progress` (0: the first picture whole, 1: the transition
    // complete) with `seed`: the same seed and progress give the same map.
    // False when the bundle's drawing is not a box pattern (the map is then
    // not to be used).
    bool Draw(double progress, uint32_t seed, BoxMap* map);

    // Frames in the transition: progress p is frame round(p * kSteps) - 1.
    static constexpr int32_t kSteps = 100000;

  private:
    // Serves frame numbers with their sound only: the pictures are never drawn.
    class NoPictures : public FrameProvider {
      public:
        TavPluginResult ProvideFrame(int32_t, bool, PixMap* picture, std::vector<float>& audio,
                                     int16_t& volume) override;
        bool asked = false;  // a picture was asked for: the pattern is not boxes alone
    };

    NoPictures pictures_;
    Host host_;
    std::unique_ptr<TransitionInstance> instance_;
    int32_t width_, height_;
    bool ready_ = false;
};

}  // namespace tavhost

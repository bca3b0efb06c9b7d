// Fuzzes recorded drawing against direct drawing: a world anywhere in the
// coordinate plane, a frame rectangle anywhere near it, and a script of
// drawing (source frames fetched and released, copies box by box, whole,
// scaled, onto the output itself, fills, text, drawing into a source) run on
// one host that draws directly and one that records. Their worlds must hold
// the same pixels, and where the recording is composed into a buffer of the
// frame instead, that buffer must hold the direct world's frame.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "host.h"
#include "support/drawing_script.h"

namespace {

[[noreturn]] void Broken(const char* contract) {
    std::fprintf(stderr, "contract broken: %s\n", contract);
    std::abort();
}

uint32_t Pixel(int32_t number, int x, int y) {
    return 0xFF000000u | (uint32_t(number) * 0x3F1D57u ^ uint32_t(x * 131 + y * 7919));
}

class Pictures : public tavhost::FrameProvider {
  public:
    TavPluginResult ProvideFrame(int32_t number, bool, PixMap* picture, std::vector<float>& audio,
                                 int16_t& volume) override {
        audio.clear();
        volume = 255;
        if (!picture) return kPluginOK;
        const int w = picture->bounds.right - picture->bounds.left;
        const int h = picture->bounds.bottom - picture->bounds.top;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) TavPixelRow(*picture, y)[x] = Pixel(number, x, y);
        return kPluginOK;
    }
};

// The frame as a plain buffer, its sources made from the same pictures.
class Buffer : public tavhost::ComposeTarget {
  public:
    Buffer(int w, int h) : w_(w), out_(size_t(w) * size_t(h)) {}
    tavhost::PlaneLayout Layout() const override { return tavhost::PlaneLayout::Pixels(); }
    tavhost::PlaneImage Image() override {
        tavhost::PlaneImage image;
        image.data[0] = reinterpret_cast<uint8_t*>(out_.data());
        image.stride[0] = w_ * 4;
        return image;
    }
    bool Source(int32_t number, bool, int32_t w, int32_t h, tavhost::PlaneImage* image) override {
        auto& pixels = sources_.emplace_back(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels[size_t(y) * size_t(w) + size_t(x)] = Pixel(number, x, y);
        image->data[0] = reinterpret_cast<uint8_t*>(pixels.data());
        image->stride[0] = w * 4;
        return true;
    }
    void FillSamples(uint32_t pixel, uint32_t samples[3]) override { samples[0] = pixel; }
    uint32_t At(int x, int y) const { return out_[size_t(y) * size_t(w_) + size_t(x)]; }

  private:
    int w_;
    std::vector<uint32_t> out_;
    std::vector<std::vector<uint32_t>> sources_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int16_t w = int16_t(in.ConsumeIntegralInRange(1, 40));
    const int16_t h = int16_t(in.ConsumeIntegralInRange(1, 40));
    const int16_t top = int16_t(in.ConsumeIntegralInRange(-300, 300));
    const int16_t left = int16_t(in.ConsumeIntegralInRange(-300, 300));
    const Rect bounds = {top, left, int16_t(top + h), int16_t(left + w)};
    const int16_t ft = int16_t(top + in.ConsumeIntegralInRange(-3, 3));
    const int16_t fl = int16_t(left + in.ConsumeIntegralInRange(-3, 3));
    const Rect frame = {ft, fl, int16_t(ft + in.ConsumeIntegralInRange(0, 44)),
                        int16_t(fl + in.ConsumeIntegralInRange(0, 44))};
    const std::vector<uint8_t> script = in.ConsumeRemainingBytes<uint8_t>();

    Pictures pictures;
    std::vector<uint32_t> pixels[2];
    bool inTarget = false;
    Buffer buffer(std::max(1, frame.right - frame.left), std::max(1, frame.bottom - frame.top));
    for (const tavhost::Drawing drawing :
         {tavhost::Drawing::kDirect, tavhost::Drawing::kRecorded}) {
        tavhost::Host host;
        host.SetProvider(&pictures);
        host.SetDrawing(drawing);
        host.ComposeLater(true);
        GWorldPtr world = nullptr;
        if (NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0) != noErr) Broken("NewGWorld");
        tavtest::PaintPattern(world, 5);
        tavtest::RunDrawingScript(host, world, frame, script);
        if (drawing == tavhost::Drawing::kRecorded) {
            inTarget = host.Compose(&buffer) == tavhost::Composed::kTarget;
            if (host.Compose(nullptr) == tavhost::Composed::kFailed) Broken("composing the world");
        }
        pixels[drawing == tavhost::Drawing::kRecorded] = tavtest::WorldPixels(world);
        if (!host.Problems().empty()) Broken("the host found problems");
        DisposeGWorld(world);
    }
    if (pixels[0] != pixels[1]) Broken("recorded and direct drawing differ");
    if (inTarget)
        for (int y = frame.top; y < frame.bottom; ++y)
            for (int x = frame.left; x < frame.right; ++x)
                if (buffer.At(x - frame.left, y - frame.top) !=
                    pixels[0][size_t(y - top) * size_t(w) + size_t(x - left)])
                    Broken("the frame composed into a buffer differs from the world's");
    return 0;
}

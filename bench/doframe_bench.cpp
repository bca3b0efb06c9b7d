// DoFrame of every bundle through the real host runtime, three ways: recorded
// and composed into a buffer of the frame (as the frei0r plug-ins do),
// recorded and composed into the output world, and drawn directly; beside
// the physical floor: copying one frame once with memcpy.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "box_pattern.h"
#include "bundle_random.h"
#include "host.h"
#include "instance.h"
#include "loaded_bundle.h"

namespace {

// Serves frames that were drawn once: the host reuses its worlds, so after the
// first call of each size GetFrame costs only the host's own bookkeeping.
class StillFrames : public tavhost::FrameProvider {
  public:
    TavPluginResult ProvideFrame(int32_t number, bool, PixMap* picture, std::vector<float>& audio,
                                 int16_t& volume) override {
        if (picture && filled_.insert(picture->baseAddr).second) {
            const int w = picture->bounds.right - picture->bounds.left;
            const int h = picture->bounds.bottom - picture->bounds.top;
            for (int y = 0; y < h; ++y) {
                uint32_t* row = TavPixelRow(*picture, y);
                for (int x = 0; x < w; ++x) row[x] = 0xFF000000u | uint32_t(x * 7 + y * 3 + number);
            }
        }
        audio.assign(tavhost::OutputFormat{}.FloatsPerFrame(), 0.1f);
        volume = 255;
        return kPluginOK;
    }

  private:
    std::set<uint32_t*> filled_;
};

// A buffer of the frame that recorded frames are composed into, its sources
// buffers drawn once, as an editor's plug-in composes into the editor's
// buffer; rows start on cache lines, as the worlds' rows do.
class FrameBuffer : public tavhost::ComposeTarget {
  public:
    FrameBuffer(int w, int h) : w_(w), h_(h), out_(Pixels(w, h)) {}
    tavhost::PlaneLayout Layout() const override { return tavhost::PlaneLayout::Pixels(); }
    tavhost::PlaneImage Image() override {
        tavhost::PlaneImage image;
        image.data[0] = reinterpret_cast<uint8_t*>(out_.get());
        image.stride[0] = ptrdiff_t(w_) * 4;
        return image;
    }
    bool Source(int32_t number, bool, int32_t w, int32_t h, tavhost::PlaneImage* image) override {
        if (w != w_ || h != h_) return false;
        Buffer& pixels = sources_[number];
        if (!pixels) {
            pixels = Pixels(w, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    pixels[size_t(y) * size_t(w) + size_t(x)] =
                        0xFF000000u | uint32_t(x * 7 + y * 3 + number);
        }
        image->data[0] = reinterpret_cast<uint8_t*>(pixels.get());
        image->stride[0] = ptrdiff_t(w) * 4;
        return true;
    }
    void FillSamples(uint32_t pixel, uint32_t samples[3]) override { samples[0] = pixel; }

  private:
    struct Free {
        void operator()(uint32_t* p) const { std::free(p); }
    };
    using Buffer = std::unique_ptr<uint32_t[], Free>;
    static Buffer Pixels(int w, int h) {
        const size_t bytes = (size_t(w) * size_t(h) * 4 + 63) / 64 * 64;
        return Buffer(static_cast<uint32_t*>(std::aligned_alloc(64, bytes)));
    }
    int w_, h_;
    Buffer out_;
    std::map<int32_t, Buffer> sources_;
};

// How a DoFrame's drawing reaches pixels.
enum class Way { kDirect, kRecordedWorld, kRecordedBuffer };

const tavhost::Bundle& Load(const std::string& name) {
    static std::map<std::string, std::unique_ptr<tavhost::Bundle>> bundles;
    auto& b = bundles[name];
    if (!b) {
        std::string error;
        b = tavhost::Bundle::Open(name, &error);
        if (!b) throw std::runtime_error(error);
    }
    return *b;
}

void DoFrameBench(benchmark::State& state, std::string name, int w, int h, int16_t which,
                  int32_t renderFrame, Way way) {
    tavhost::Host host;
    StillFrames frames;
    FrameBuffer buffer(w, h);
    host.SetProvider(&frames);
    host.SetDrawing(way == Way::kDirect ? tavhost::Drawing::kDirect : tavhost::Drawing::kRecorded);
    host.ComposeLater(way == Way::kRecordedBuffer);
    host.EnsureOutputWorld(w, h);
    tavhost::TransitionInstance inst(Load(name), host, which);
    inst.GetInfo(0.5f);
    inst.Initialize();
    tavhost::SeedBundleRandom(1);  // as the host seeds each transition
    const Rect rect = {0, 0, int16_t(h), int16_t(w)};
    for (auto _ : state) {
        if (inst.DoFrame(0, renderFrame, 100, rect) != kPluginOK)
            state.SkipWithError("DoFrame failed");
        if (way == Way::kRecordedBuffer && host.Compose(&buffer) != tavhost::Composed::kTarget)
            state.SkipWithError("not composed into the buffer");
    }
    inst.Terminate(100);
    state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}

// A frame's pattern alone (BoxPattern): what a host that composes on the GPU
// spends on the CPU for each frame.
void PatternBench(benchmark::State& state, std::string name, int w, int h, int16_t which) {
    tavhost::BoxPattern pattern(Load(name), which, w, h);
    tavhost::BoxMap map;
    double progress = 0.0;
    for (auto _ : state) {
        progress = progress >= 0.99 ? 0.01 : progress + 0.01;
        if (!pattern.Draw(progress, 7, &map)) state.SkipWithError("no box pattern");
        benchmark::DoNotOptimize(map.cells.data());
    }
}

void MemcpyFloor(benchmark::State& state, int w, int h) {
    std::vector<uint32_t> a(size_t(w) * h, 0xFF123456u), b(size_t(w) * h);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size() * 4);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}

int Register() {
    const std::pair<int, int> sizes[] = {{720, 480}, {1920, 1080}, {3840, 2160}};
    const char* bundles[] = {"boxscatter", "boxrevealwhite", "boxrevealblack", "boxconcealwhite",
                             "boxconcealblack"};
    for (auto [w, h] : sizes) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        benchmark::RegisterBenchmark(("memcpy_floor/" + size).c_str(), MemcpyFloor, w, h)
            ->Unit(benchmark::kMicrosecond);
        for (const char* name : bundles)
            for (auto [which, box] : {std::pair{int16_t(1), 2}, std::pair{int16_t(4), 16}})
                for (auto [frame, pct] : {std::pair{24, 25}, std::pair{74, 75}})
                    for (auto [way, how] : {std::pair{Way::kRecordedBuffer, "composed"},
                                            std::pair{Way::kRecordedWorld, "recorded"},
                                            std::pair{Way::kDirect, "direct"}})
                        benchmark::RegisterBenchmark(
                            (std::string(name) + "/" + size + "/box" + std::to_string(box) + "/" +
                             std::to_string(pct) + "%/" + how)
                                .c_str(),
                            DoFrameBench, name, w, h, which, frame, way)
                            ->Unit(benchmark::kMicrosecond);
    }
    for (const char* name : {"boxscatter", "boxconcealwhite"})
        for (auto [which, box] : {std::pair{int16_t(1), 2}, std::pair{int16_t(2), 4},
                                  std::pair{int16_t(3), 8}, std::pair{int16_t(4), 16}})
            benchmark::RegisterBenchmark(
                (std::string("pattern/") + name + "/1920x1080/box" + std::to_string(box)).c_str(),
                PatternBench, name, 1920, 1080, which)
                ->Unit(benchmark::kMicrosecond);
    return 0;
}

const int registered = Register();

}  // namespace

BENCHMARK_MAIN();

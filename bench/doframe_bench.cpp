// DoFrame of every bundle through the real host runtime, beside the physical
// floor: copying one frame once with memcpy.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

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
                  int32_t renderFrame, tavhost::Drawing drawing) {
    tavhost::Host host;
    StillFrames frames;
    host.SetProvider(&frames);
    host.SetDrawing(drawing);
    host.EnsureOutputWorld(w, h);
    tavhost::TransitionInstance inst(Load(name), host, which);
    inst.GetInfo(0.5f);
    inst.Initialize();
    std::srand(1);  // as the host seeds each transition
    const Rect rect = {0, 0, int16_t(h), int16_t(w)};
    for (auto _ : state) {
        if (inst.DoFrame(0, renderFrame, 100, rect) != kPluginOK)
            state.SkipWithError("DoFrame failed");
    }
    inst.Terminate(100);
    state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
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
                    for (auto [drawing, how] : {std::pair{tavhost::Drawing::kRecorded, "recorded"},
                                                std::pair{tavhost::Drawing::kDirect, "direct"}})
                        benchmark::RegisterBenchmark(
                            (std::string(name) + "/" + size + "/box" + std::to_string(box) + "/" +
                             std::to_string(pct) + "%/" + how)
                                .c_str(),
                            DoFrameBench, name, w, h, which, frame, drawing)
                            ->Unit(benchmark::kMicrosecond);
    }
    return 0;
}

const int registered = Register();

}  // namespace

BENCHMARK_MAIN();

// The frei0r plug-ins as an editor calls them: f0r_update2 (Box Scatter) and
// f0r_update (a reveal) at 1080p and 4K, box 2, 8 (the default) and 16, composed straight
// into the output buffer beside drawing directly into the host's worlds
// (TAV_DRAW=direct).
#include <benchmark/benchmark.h>
#include <dlfcn.h>

extern "C" {
#include <frei0r.h>
}

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Plugin {
    void* handle = nullptr;
    decltype(&f0r_construct) construct = nullptr;
    decltype(&f0r_destruct) destruct = nullptr;
    decltype(&f0r_set_param_value) set = nullptr;
    decltype(&f0r_update) update = nullptr;
    decltype(&f0r_update2) update2 = nullptr;

    explicit Plugin(const std::string& name) {
        handle = dlopen((std::string(TAV_FREI0R_DIR) + "/" + name + ".so").c_str(),
                        RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        construct = reinterpret_cast<decltype(construct)>(dlsym(handle, "f0r_construct"));
        destruct = reinterpret_cast<decltype(destruct)>(dlsym(handle, "f0r_destruct"));
        set = reinterpret_cast<decltype(set)>(dlsym(handle, "f0r_set_param_value"));
        update = reinterpret_cast<decltype(update)>(dlsym(handle, "f0r_update"));
        update2 = reinterpret_cast<decltype(update2)>(dlsym(handle, "f0r_update2"));
        reinterpret_cast<decltype(&f0r_init)>(dlsym(handle, "f0r_init"))();
    }
};

Plugin& Loaded(const std::string& name) {
    static Plugin scatter("boxscatter"), reveal("boxrevealblack");
    return name == "boxscatter" ? scatter : reveal;
}

void Update(benchmark::State& state, std::string name, unsigned w, unsigned h, double box,
            bool direct) {
    Plugin& p = Loaded(name);
    if (!p.construct) {
        state.SkipWithError("plug-in not loaded");
        return;
    }
    if (direct) ::setenv("TAV_DRAW", "direct", 1);
    f0r_instance_t inst = p.construct(w, h);
    ::unsetenv("TAV_DRAW");
    std::vector<uint32_t> a(size_t(w) * h, 0xFF336699u), b(size_t(w) * h, 0xFF996633u),
        out(size_t(w) * h);
    double progress = 0.4, seed = 7;
    p.set(inst, &progress, 0);
    p.set(inst, &box, 1);
    p.set(inst, &seed, 2);
    double time = 0;
    auto frame = [&] {
        time += 0.04;  // a new pattern every frame, as in playback
        if (name == "boxscatter")
            p.update2(inst, time, a.data(), b.data(), nullptr, out.data());
        else
            p.update(inst, time, a.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    };
    frame();  // the host's worlds are made on the first frame
    for (auto _ : state) frame();
    p.destruct(inst);
    state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}

int Register() {
    for (const char* name : {"boxscatter", "boxrevealblack"})
        for (auto [w, h] : {std::pair{1920u, 1080u}, std::pair{3840u, 2160u}})
            for (auto [box, label] :
                 {std::pair{0.0, "box2"}, std::pair{0.667, "box8"}, std::pair{1.0, "box16"}})
                for (bool direct : {false, true})
                    benchmark::RegisterBenchmark(
                        (std::string(name) + "/" + std::to_string(w) + "x" + std::to_string(h) +
                         "/" + label + (direct ? "/direct" : "/composed"))
                            .c_str(),
                        Update, name, w, h, box, direct)
                        ->Unit(benchmark::kMillisecond);
    return 0;
}

const int registered = Register();

}  // namespace

BENCHMARK_MAIN();

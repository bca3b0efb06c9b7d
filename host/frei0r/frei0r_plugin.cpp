// A frei0r plug-in that hosts one transition bundle: MLT (Kdenlive, melt) and
// GStreamer load it, and it drives the real bundle through the host runtime:
// GetInfo and Initialize when made, DoFrame for every frame, Terminate when
// destroyed. boxscatter is a two-input mixer; the reveals and conceals are
// one-input filters. Built once per bundle with TAV_F0R_BUNDLE set.
#include <dlfcn.h>

extern "C" {
#include <frei0r.h>
}

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "bundle_random.h"
#include "frame_buffers.h"
#include "host.h"
#include "instance.h"
#include "loaded_bundle.h"
#include "user_text.h"

#ifndef TAV_F0R_BUNDLE
#error "TAV_F0R_BUNDLE names the bundle this plug-in hosts"
#endif

namespace {

namespace fs = std::filesystem;
using tavf0r::Inputs;
using tavf0r::OutputBuffer;
using tavf0r::SwapRedBlue;
using tavhost::Host;
using tavhost::TransitionInstance;

constexpr const char* kBundle = TAV_F0R_BUNDLE;
const bool kMixer = std::strcmp(kBundle, "boxscatter") == 0;

// The transition's length in DoFrame's numbering: progress p is frame
// round(p * kSteps) - 1 of kSteps, so p = 1 is exactly the last frame.
constexpr int32_t kSteps = 100000;

std::unique_ptr<tavhost::Bundle> gBundle;
// A frame's pattern is seeded from its own time on the thread that draws it
// (bundle_random.h), so instances draw on the editor's threads at once. Only
// where the bundle calls the C library's rand(), one sequence for the whole
// process, does each frame wait for the others.
std::mutex gRandMutex;

// The bundle: in a folder of TAV_PLUGIN_PATH, or installed with this
// plug-in, found from the plug-in's real path (a plug-in folder reached
// through a symbolic link, as ~/.frei0r-1/lib often is, still finds it).
// Hosts load every plug-in to list it, so only an instance asked for says,
// once, why the bundle cannot be loaded; the host is then refused the
// instance and leaves the effect out, which the line explains.
std::mutex gLoadMutex;
bool gSaid = false;

bool LoadBundle(bool say) {
    std::lock_guard<std::mutex> lock(gLoadMutex);
    if (gBundle) return true;
    std::vector<std::string> folders = tavhost::EnvironmentFolders();
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&gBundle), &self) && self.dli_fname) {
        std::error_code ec;
        const fs::path real = fs::canonical(self.dli_fname, ec);
        if (!ec)
            folders.push_back(
                (real.parent_path() / TAV_BUNDLES_FROM_FREI0R).lexically_normal().string());
    }
    const std::string file = std::string(kBundle) + ".so";
    std::string error, looked;
    for (const std::string& folder : folders) {
        std::error_code ec;
        const fs::path candidate = fs::path(folder) / file;
        if (fs::exists(candidate, ec)) {
            gBundle = tavhost::Bundle::Open(candidate.string(), &error);
            break;
        }
        looked += (looked.empty() ? "" : ", ") + tavhost::Quoted(folder);
    }
    if (!gBundle && error.empty())
        error = "no " + file + " in " + (looked.empty() ? std::string("any folder") : looked) +
                " (install the whole package, or name its folder in TAV_PLUGIN_PATH)";
    if (!gBundle && say && !gSaid) {
        gSaid = true;
        std::fprintf(stderr, "frei0r plug-in %s is left out: %s\n", kBundle, error.c_str());
    }
    return gBundle != nullptr;
}

// Box sizes 2, 4, 8, 16 are variants 1 to 4. The parameter is a frei0r
// double: 0..1 spread over the four sizes, or the size itself in pixels.
int16_t VariantOf(double boxSize) {
    if (boxSize > 1.0) {
        const double log2 = std::log2(std::clamp(boxSize, 2.0, 16.0));
        return int16_t(std::lround(log2));
    }
    return int16_t(1 + std::lround(std::clamp(boxSize, 0.0, 1.0) * 3.0));
}

// The seed: a frei0r double, 0..1 spread over the 32-bit seeds, or a whole
// number above 1 taken as it is.
uint32_t SeedOf(double seed) {
    if (seed > 1.0) return uint32_t(std::min(seed, 4294967295.0));
    return uint32_t(std::clamp(seed, 0.0, 1.0) * 4294967295.0);
}

// MLT's "threads" property cuts each picture into horizontal slices and
// calls one instance for all of them at once, each call given its slice as a
// whole picture. Nothing tells a plug-in where its slice lies, so the box
// pattern starts again in every slice: said once, so the user can leave the
// property unset.
void SaySliced(unsigned width, unsigned height) {
    static std::atomic<bool> said{false};
    if (said.exchange(true)) return;
    std::fprintf(stderr,
                 "frei0r plug-in %s: the host draws each picture in slices %ux%u (MLT's "
                 "\"threads\" property), so the box pattern starts again in every slice; leave "
                 "\"threads\" unset for this effect\n",
                 kBundle, width, height);
}

struct Plugin {
    unsigned width, height;
    // One call at a time: the instance's worlds and inputs are one frame's.
    std::mutex busy;
    double lastTime = -1.0;
    uintptr_t lastInput = 0, lastOutput = 0;
    double progress = 0.0;
    double boxSize = 0.667;  // 8 px, the bundles' default variant 3
    double seed = 0.0;
    Host host;
    Inputs inputs;
    std::unique_ptr<TransitionInstance> inst;
    int16_t variant = 0;

    Plugin(unsigned w, unsigned h) : width(w), height(h) {
        host.SetProvider(&inputs);
        host.ComposeLater(true);
        inputs.width = w;
        inputs.height = h;
    }
    ~Plugin() { inst.reset(); }  // Terminate while the host is still here

    // An instance of the variant the box size asks for, started.
    bool Ready() {
        const int16_t wanted = VariantOf(boxSize);
        if (inst && variant == wanted) return true;
        inst.reset();
        inst = std::make_unique<TransitionInstance>(*gBundle, host, wanted);
        tavhost::TransitionTiming timing;
        if (inst->Describe(0.5f, &timing) != kPluginOK || inst->Initialize() != kPluginOK) {
            inst.reset();
            return false;
        }
        inst->SetLength(kSteps);
        variant = wanted;
        return true;
    }

    // Update, and when it cannot finish, the first input as it is.
    void SafeUpdate(double time, const uint32_t* in1, const uint32_t* in2, uint32_t* out) noexcept {
        try {
            std::lock_guard lock(busy);
            NoteSlices(time, in1, out);
            Update(time, in1, in2, out);
        } catch (...) {
            if (out && in1) std::memcpy(out, in1, size_t(width) * height * 4);
        }
    }

    // One time asked again with the input and the output both a whole
    // number of slices away in memory is another slice of the same picture.
    void NoteSlices(double time, const uint32_t* in, const uint32_t* out) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(in);
        const uintptr_t to = reinterpret_cast<uintptr_t>(out);
        const uintptr_t slice = uintptr_t(width) * height * 4;
        if (time == lastTime && at && lastInput && at != lastInput &&
            at - lastInput == to - lastOutput &&
            (at > lastInput ? at - lastInput : lastInput - at) % slice == 0)
            SaySliced(width, height);
        lastTime = time;
        lastInput = at;
        lastOutput = to;
    }

    void Update(double time, const uint32_t* in1, const uint32_t* in2, uint32_t* out) {
        const size_t pixels = size_t(width) * height;
        const uint32_t* from = in1;
        const uint32_t* to = kMixer ? in2 : in1;
        if (!out || !from || !to) return;
        const double p = std::clamp(progress, 0.0, 1.0);
        // Before the transition begins the mix is its first input as it is.
        if (kMixer && p <= 0.0) {
            std::memcpy(out, from, pixels * 4);
            return;
        }
        GWorldPtr world = host.EnsureOutputWorld(int32_t(width), int32_t(height));
        if (!world || !Ready()) {
            std::memcpy(out, kMixer && p >= 0.5 ? to : from, pixels * 4);
            return;
        }
        const int32_t renderFrame = int32_t(std::lround(p * kSteps)) - 1;
        const int32_t startFrame = 1;
        inputs.first = from;
        inputs.second = to;
        inputs.firstNumber = startFrame + renderFrame;
        inputs.secondNumber = startFrame + renderFrame + kSteps;
        const Rect frameRect = {0, 0, int16_t(height), int16_t(width)};
        {
            std::unique_lock lock(gRandMutex, std::defer_lock);
            if (!tavhost::BundlesHaveOwnRandom()) lock.lock();
            tavhost::SeedBundleRandom(SeedOf(seed) * 2654435761u ^
                                      uint32_t(std::llround(time * 1000.0)) * 40503u);
            host.ClearOutputAudio(0);
            inst->DoFrame(startFrame, renderFrame, kSteps, frameRect, true);
        }
        host.ClearProblems();
        OutputBuffer target(inputs, out);
        if (host.GetDrawing() == tavhost::Drawing::kRecorded &&
            host.Compose(&target) == tavhost::Composed::kTarget)
            return;
        PixMap& pm = **GetGWorldPixMap(world);
        for (unsigned y = 0; y < height; ++y) {
            const uint32_t* row = TavPixelRow(pm, int(y));
            uint32_t* dst = out + size_t(y) * width;
            for (unsigned x = 0; x < width; ++x) dst[x] = SwapRedBlue(row[x]);
        }
    }
};

struct ParamInfo {
    const char* name;
    const char* explanation;
};
constexpr ParamInfo kParams[] = {
    {"progress", "How far the transition has gone, 0 (not begun) to 1 (complete)"},
    {"box size", "Side of the boxes: 0 is 2 pixels, 0.33 is 4, 0.67 is 8, 1 is 16"},
    {"seed", "Seed of the box pattern: the same seed and time give the same frame"},
};

// Nothing thrown may leave a frei0r entry point into the editor that called
// it: a failure there gives the call's empty answer instead.
template <typename Result, typename Body>
Result Guarded(Result failed, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return failed;
    }
}

template <typename Body>
void Guarded(Body body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int f0r_init(void) {
    return Guarded(0, [] { return LoadBundle(false) ? 1 : 0; });
}

__attribute__((visibility("default"))) void f0r_deinit(void) {
    Guarded([] { gBundle.reset(); });
}

__attribute__((visibility("default"))) void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    info->name = kBundle;
    info->author = "tav";
    info->plugin_type = kMixer ? F0R_PLUGIN_TYPE_MIXER2 : F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 1;
    info->minor_version = 0;
    info->num_params = 3;
    info->explanation =
        kMixer ? "Boxes of the second clip replace boxes of the first, at random"
        : std::strstr(kBundle, "reveal")
            ? (std::strstr(kBundle, "white") ? "The clip is revealed box by box out of white"
                                             : "The clip is revealed box by box out of black")
            : (std::strstr(kBundle, "white") ? "The clip is covered box by box with white"
                                             : "The clip is covered box by box with black");
}

__attribute__((visibility("default"))) void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (index < 0 || index >= 3) return;
    info->name = kParams[index].name;
    info->type = F0R_PARAM_DOUBLE;
    info->explanation = kParams[index].explanation;
}

__attribute__((visibility("default"))) f0r_instance_t f0r_construct(unsigned int width,
                                                                    unsigned int height) {
    if (width == 0 || height == 0 || width > 16384 || height > 16384) return nullptr;
    return Guarded<f0r_instance_t>(nullptr, [&]() -> f0r_instance_t {
        if (!LoadBundle(true)) return nullptr;
        return new Plugin(width, height);
    });
}

__attribute__((visibility("default"))) void f0r_destruct(f0r_instance_t instance) {
    Guarded([&] { delete static_cast<Plugin*>(instance); });
}

__attribute__((visibility("default"))) void f0r_set_param_value(f0r_instance_t instance,
                                                                f0r_param_t param, int index) {
    auto* p = static_cast<Plugin*>(instance);
    if (!p || !param) return;
    const double v = *static_cast<const f0r_param_double*>(param);
    if (!std::isfinite(v)) return;
    if (index == 0) p->progress = v;
    if (index == 1) p->boxSize = v;
    if (index == 2) p->seed = v;
}

__attribute__((visibility("default"))) void f0r_get_param_value(f0r_instance_t instance,
                                                                f0r_param_t param, int index) {
    auto* p = static_cast<Plugin*>(instance);
    if (!p || !param) return;
    auto* out = static_cast<f0r_param_double*>(param);
    if (index == 0) *out = p->progress;
    if (index == 1) *out = p->boxSize;
    if (index == 2) *out = p->seed;
}

__attribute__((visibility("default"))) void f0r_update(f0r_instance_t instance, double time,
                                                       const uint32_t* inframe,
                                                       uint32_t* outframe) {
    if (auto* p = static_cast<Plugin*>(instance)) p->SafeUpdate(time, inframe, inframe, outframe);
}

__attribute__((visibility("default"))) void f0r_update2(f0r_instance_t instance, double time,
                                                        const uint32_t* in1, const uint32_t* in2,
                                                        const uint32_t*, uint32_t* outframe) {
    if (auto* p = static_cast<Plugin*>(instance)) p->SafeUpdate(time, in1, in2, outframe);
}

}  // extern "C"

// OBS Studio scene transitions drawn by the box bundles: Box Scatter (scene
// A to scene B) and Box via White / Black (A concealed box by box into the
// colour, then B revealed out of it, as OBS's fade to colour does). Each
// frame's pattern is drawn by the real bundle through the host runtime with
// no pixels at all (BoxPattern); only the map, one byte a box, goes to the
// GPU, which composes A, B and the colour in one pass.
#include <dlfcn.h>
#include <obs-module.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "box_pattern.h"
#include "loaded_bundle.h"

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE("tav-box-transitions", "en-US")

namespace {

namespace fs = std::filesystem;

// The bundles, loaded once for the process: from TAV_PLUGIN_PATH, then
// installed beside this module.
std::mutex gBundlesMutex;
std::map<std::string, std::unique_ptr<tavhost::Bundle>> gBundles;

const tavhost::Bundle* BundleNamed(const std::string& name) {
    std::lock_guard lock(gBundlesMutex);
    std::unique_ptr<tavhost::Bundle>& slot = gBundles[name];
    if (slot) return slot.get();
    std::vector<std::string> folders = tavhost::EnvironmentFolders();
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&BundleNamed), &self) && self.dli_fname) {
        std::error_code ec;
        const fs::path real = fs::canonical(self.dli_fname, ec);
        if (!ec) folders.push_back((real.parent_path() / TAV_BUNDLES_FROM_OBS).lexically_normal());
    }
    std::string error = "not found";
    for (const std::string& folder : folders) {
        std::error_code ec;
        const fs::path file = fs::path(folder) / (name + ".so");
        if (!fs::exists(file, ec)) continue;
        slot = tavhost::Bundle::Open(file.string(), &error);
        if (slot) return slot.get();
    }
    blog(LOG_WARNING, "[tav-box-transitions] bundle %s: %s", name.c_str(), error.c_str());
    return nullptr;
}

enum class Kind { kScatter, kViaWhite, kViaBlack };

constexpr const char* kBoxSize = "box_size";
constexpr const char* kSeed = "seed";
constexpr const char* kColor = "color";
constexpr const char* kSwitchPoint = "switch_point";

// CPU time of the calling thread: what a frame's work costs, apart from the
// time the thread waits while OBS's other threads (and a software renderer's)
// have the cores.
uint64_t ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

float Smoothstep(float from, float to, float x) {
    if (to <= from) return x < from ? 0.0f : 1.0f;
    x = std::clamp((x - from) / (to - from), 0.0f, 1.0f);
    return x * x * (3.0f - 2.0f * x);
}

class BoxTransition {
  public:
    BoxTransition(obs_source_t* source, Kind kind) : source_(source), kind_(kind) {
        char* file = obs_module_file("box_transition.effect");
        obs_enter_graphics();
        effect_ = file ? gs_effect_create_from_file(file, nullptr) : nullptr;
        obs_leave_graphics();
        bfree(file);
        if (!effect_) {
            blog(LOG_ERROR, "[tav-box-transitions] box_transition.effect could not be loaded");
            return;
        }
        texA_ = gs_effect_get_param_by_name(effect_, "tex_a");
        texB_ = gs_effect_get_param_by_name(effect_, "tex_b");
        map_ = gs_effect_get_param_by_name(effect_, "box_map");
        mapScale_ = gs_effect_get_param_by_name(effect_, "map_scale");
        color_ = gs_effect_get_param_by_name(effect_, "color");
    }

    ~BoxTransition() {
        obs_enter_graphics();
        if (mapTexture_) gs_texture_destroy(mapTexture_);
        if (effect_) gs_effect_destroy(effect_);
        obs_leave_graphics();
    }

    bool Ready() const { return effect_ != nullptr; }
    obs_source_t* Source() const { return source_; }

    void Update(obs_data_t* settings) {
        const int box = int(obs_data_get_int(settings, kBoxSize));
        variant_ = box >= 16 ? 4 : box >= 8 ? 3 : box >= 4 ? 2 : 1;
        seed_ = uint32_t(obs_data_get_int(settings, kSeed));
        if (kind_ != Kind::kScatter) {
            vec4_from_rgba_srgb(&colour_,
                                uint32_t(obs_data_get_int(settings, kColor)) | 0xFF000000u);
            switchPoint_ = float(obs_data_get_int(settings, kSwitchPoint)) / 100.0f;
        }
    }

    void Render(gs_texture_t* a, gs_texture_t* b, float t, uint32_t cx, uint32_t cy) {
        const uint64_t start = ThreadCpuNs();
        gs_texture_t* shownA = a;
        if (!Pattern(t, cx, cy, &shownA, a, b)) {
            // No pattern: a plain cut at the switch point.
            boxes_.step = int32_t(std::max(cx, cy));
            boxes_.columns = boxes_.rows = 1;
            boxes_.cells.assign(1, tavhost::BoxMap::kFirst);
            shownA = t < (kind_ == Kind::kScatter ? 0.5f : switchPoint_) ? a : b;
        }
        const uint64_t drawn = ThreadCpuNs();
        Upload();
        patternCosts_.push_back(drawn - start);
        uploadCosts_.push_back(ThreadCpuNs() - drawn);

        const bool previous = gs_framebuffer_srgb_enabled();
        gs_enable_framebuffer_srgb(true);
        gs_effect_set_texture_srgb(texA_, shownA);
        gs_effect_set_texture_srgb(texB_, b);
        gs_effect_set_texture(map_, mapTexture_);
        vec2 scale;
        vec2_set(&scale, float(cx) / float(boxes_.step * boxes_.columns),
                 float(cy) / float(boxes_.step * boxes_.rows));
        gs_effect_set_vec2(mapScale_, &scale);
        vec4 colour = colour_;
        if (kind_ == Kind::kScatter) vec4_zero(&colour);
        gs_effect_set_vec4(color_, &colour);
        while (gs_effect_loop(effect_, "Boxes")) gs_draw_sprite(nullptr, 0, cx, cy);
        gs_enable_framebuffer_srgb(previous);
    }

    // A transition has ended: what its frames cost in CPU time, in OBS's
    // log: the pattern drawn, and its map handed to the graphics driver. The
    // first frame also loads the bundles and sets the patterns up, so it is
    // said apart from the others' median and slowest.
    void Stopped() {
        if (!patternCosts_.empty())
            blog(LOG_INFO,
                 "[tav-box-transitions] %ux%u, box %d: %zu frames; CPU time a frame: pattern %s, "
                 "map upload %s",
                 width_, height_, 1 << patternVariant_, patternCosts_.size(),
                 Summary(patternCosts_).c_str(), Summary(uploadCosts_).c_str());
        patternCosts_.clear();
        uploadCosts_.clear();
    }

    // "median M ms, at most X ms (frame K), first F ms" of frame costs in ns.
    static std::string Summary(const std::vector<uint64_t>& costs) {
        std::vector<uint64_t> rest(costs.begin() + 1, costs.end());
        const auto slowest = std::max_element(rest.begin(), rest.end());
        const double most = slowest == rest.end() ? 0.0 : double(*slowest) / 1e6;
        const long mostFrame = long(slowest - rest.begin()) + 2;
        std::sort(rest.begin(), rest.end());
        const double first = double(costs.front()) / 1e6;
        const double median = rest.empty() ? first : double(rest[rest.size() / 2]) / 1e6;
        char text[112];
        std::snprintf(text, sizeof text,
                      "median %.3f ms, at most %.3f ms (frame %ld), first %.3f ms", median, most,
                      mostFrame, first);
        return text;
    }

    float MixA(float t) const {
        if (kind_ == Kind::kScatter) return 1.0f - t;
        return (1.0f - t) * (1.0f - Smoothstep(0.0f, switchPoint_, t));
    }
    float MixB(float t) const {
        if (kind_ == Kind::kScatter) return t;
        return t * Smoothstep(switchPoint_, 1.0f, t);
    }

  private:
    // The map of frame `t` into boxes_, and the scene its first picture is.
    bool Pattern(float t, uint32_t cx, uint32_t cy, gs_texture_t** shownA, gs_texture_t* a,
                 gs_texture_t* b) {
        if (!Patterns(cx, cy)) return false;
        if (kind_ == Kind::kScatter) return first_->Draw(t, seed_, &boxes_);
        if (t < switchPoint_) {
            *shownA = a;
            return first_->Draw(double(t) / double(switchPoint_), seed_, &boxes_);
        }
        *shownA = b;
        const float rest = 1.0f - switchPoint_;
        return second_->Draw(rest > 0 ? double(t - switchPoint_) / double(rest) : 1.0, seed_ + 1,
                             &boxes_);
    }

    // The bundles' patterns at the canvas size and box size.
    bool Patterns(uint32_t cx, uint32_t cy) {
        if (first_ && cx == width_ && cy == height_ && variant_ == patternVariant_) return true;
        first_.reset();
        second_.reset();
        const char* one = kind_ == Kind::kScatter    ? "boxscatter"
                          : kind_ == Kind::kViaWhite ? "boxconcealwhite"
                                                     : "boxconcealblack";
        const char* two = kind_ == Kind::kViaWhite ? "boxrevealwhite" : "boxrevealblack";
        const tavhost::Bundle* bundle = BundleNamed(one);
        if (!bundle || cx == 0 || cy == 0 || cx > 32767 || cy > 32767) return false;
        first_ = std::make_unique<tavhost::BoxPattern>(*bundle, variant_, int32_t(cx), int32_t(cy));
        if (kind_ != Kind::kScatter) {
            const tavhost::Bundle* reveal = BundleNamed(two);
            if (!reveal) return false;
            second_ =
                std::make_unique<tavhost::BoxPattern>(*reveal, variant_, int32_t(cx), int32_t(cy));
        }
        width_ = cx;
        height_ = cy;
        patternVariant_ = variant_;
        return first_->Ready() && (!second_ || second_->Ready());
    }

    void Upload() {
        const uint32_t w = uint32_t(boxes_.columns), h = uint32_t(boxes_.rows);
        if (!mapTexture_ || w != mapWidth_ || h != mapHeight_) {
            if (mapTexture_) gs_texture_destroy(mapTexture_);
            mapTexture_ = gs_texture_create(w, h, GS_R8, 1, nullptr, GS_DYNAMIC);
            mapWidth_ = w;
            mapHeight_ = h;
        }
        if (mapTexture_) gs_texture_set_image(mapTexture_, boxes_.cells.data(), w, false);
    }

    obs_source_t* source_;
    Kind kind_;
    gs_effect_t* effect_ = nullptr;
    gs_eparam_t *texA_ = nullptr, *texB_ = nullptr, *map_ = nullptr, *mapScale_ = nullptr,
                *color_ = nullptr;
    gs_texture_t* mapTexture_ = nullptr;
    uint32_t mapWidth_ = 0, mapHeight_ = 0;
    int16_t variant_ = 3, patternVariant_ = 0;
    uint32_t seed_ = 0;
    vec4 colour_{};
    float switchPoint_ = 0.5f;
    std::unique_ptr<tavhost::BoxPattern> first_, second_;
    uint32_t width_ = 0, height_ = 0;
    tavhost::BoxMap boxes_;
    // Each frame's CPU time in this transition, in ns.
    std::vector<uint64_t> patternCosts_, uploadCosts_;
};

// Nothing thrown may leave a callback into OBS.
template <typename F>
void Guarded(F&& f) noexcept {
    try {
        f();
    } catch (...) {
    }
}

template <Kind K>
const char* Name(void*) {
    return obs_module_text(K == Kind::kScatter    ? "BoxScatter"
                           : K == Kind::kViaWhite ? "BoxViaWhite"
                                                  : "BoxViaBlack");
}

template <Kind K>
void* Create(obs_data_t* settings, obs_source_t* source) {
    try {
        auto transition = std::make_unique<BoxTransition>(source, K);
        if (!transition->Ready()) return nullptr;
        transition->Update(settings);
        return transition.release();
    } catch (...) {
        return nullptr;
    }
}

void Destroy(void* data) {
    Guarded([&] { delete static_cast<BoxTransition*>(data); });
}

void Update(void* data, obs_data_t* settings) {
    Guarded([&] { static_cast<BoxTransition*>(data)->Update(settings); });
}

void RenderFrame(void* data, gs_texture_t* a, gs_texture_t* b, float t, uint32_t cx, uint32_t cy) {
    Guarded([&] { static_cast<BoxTransition*>(data)->Render(a, b, t, cx, cy); });
}

void VideoRender(void* data, gs_effect_t*) {
    obs_transition_video_render(static_cast<BoxTransition*>(data)->Source(), RenderFrame);
}

void TransitionStop(void* data) {
    Guarded([&] { static_cast<BoxTransition*>(data)->Stopped(); });
}

float MixA(void* data, float t) {
    return static_cast<BoxTransition*>(data)->MixA(t);
}

float MixB(void* data, float t) {
    return static_cast<BoxTransition*>(data)->MixB(t);
}

bool AudioRender(void* data, uint64_t* tsOut, obs_source_audio_mix* audio, uint32_t mixers,
                 size_t channels, size_t sampleRate) {
    return obs_transition_audio_render(static_cast<BoxTransition*>(data)->Source(), tsOut, audio,
                                       mixers, channels, sampleRate, MixA, MixB);
}

template <Kind K>
obs_properties_t* Properties(void*) {
    obs_properties_t* props = obs_properties_create();
    obs_property_t* size = obs_properties_add_list(props, kBoxSize, obs_module_text("BoxSize"),
                                                   OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
    obs_property_list_add_int(size, obs_module_text("Box2"), 2);
    obs_property_list_add_int(size, obs_module_text("Box4"), 4);
    obs_property_list_add_int(size, obs_module_text("Box8"), 8);
    obs_property_list_add_int(size, obs_module_text("Box16"), 16);
    obs_properties_add_int(props, kSeed, obs_module_text("Seed"), 0, 1000000, 1);
    if (K != Kind::kScatter) {
        obs_properties_add_color(props, kColor, obs_module_text("Color"));
        obs_properties_add_int_slider(props, kSwitchPoint, obs_module_text("SwitchPoint"), 0, 100,
                                      1);
    }
    return props;
}

template <Kind K>
void Defaults(obs_data_t* settings) {
    obs_data_set_default_int(settings, kBoxSize, 8);
    obs_data_set_default_int(settings, kSeed, 0);
    if (K != Kind::kScatter) {
        obs_data_set_default_int(settings, kColor, K == Kind::kViaWhite ? 0xFFFFFFFF : 0xFF000000);
        obs_data_set_default_int(settings, kSwitchPoint, 50);
    }
}

template <Kind K>
obs_source_info Info(const char* id) {
    obs_source_info info{};
    info.id = id;
    info.type = OBS_SOURCE_TYPE_TRANSITION;
    info.get_name = Name<K>;
    info.create = Create<K>;
    info.destroy = Destroy;
    info.update = Update;
    info.video_render = VideoRender;
    info.audio_render = AudioRender;
    info.get_properties = Properties<K>;
    info.get_defaults = Defaults<K>;
    info.transition_stop = TransitionStop;
    return info;
}

}  // namespace

extern "C" bool obs_module_load(void) {
    static obs_source_info scatter = Info<Kind::kScatter>("tav_box_scatter");
    static obs_source_info white = Info<Kind::kViaWhite>("tav_box_via_white");
    static obs_source_info black = Info<Kind::kViaBlack>("tav_box_via_black");
    obs_register_source(&scatter);
    obs_register_source(&white);
    obs_register_source(&black);
    return true;
}

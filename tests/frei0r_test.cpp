// The frei0r plug-ins loaded as a frei0r host loads them: plug-in and
// parameter info, instances at several sizes, frames at several progress
// values; pixels at the ends and in between, repeatability by seed and time,
// and Kdenlive's descriptions checked against the plug-ins' own parameters.
#include <dlfcn.h>
#include <gtest/gtest.h>

extern "C" {
#include <frei0r.h>
}

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/rand_elsewhere.h"

namespace {

using tavtest::DifferingOnTwoThreads;

// One plug-in's entry points.
struct Plugin {
    void* handle = nullptr;
    decltype(&f0r_init) init;
    decltype(&f0r_deinit) deinit;
    decltype(&f0r_get_plugin_info) info;
    decltype(&f0r_get_param_info) paramInfo;
    decltype(&f0r_construct) construct;
    decltype(&f0r_destruct) destruct;
    decltype(&f0r_set_param_value) set;
    decltype(&f0r_get_param_value) get;
    decltype(&f0r_update) update;
    decltype(&f0r_update2) update2;

    explicit Plugin(const std::string& name) {
        const std::string path = std::string(TAV_FREI0R_DIR) + "/" + name + ".so";
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        auto sym = [&](const char* s) { return dlsym(handle, s); };
        init = reinterpret_cast<decltype(init)>(sym("f0r_init"));
        deinit = reinterpret_cast<decltype(deinit)>(sym("f0r_deinit"));
        info = reinterpret_cast<decltype(info)>(sym("f0r_get_plugin_info"));
        paramInfo = reinterpret_cast<decltype(paramInfo)>(sym("f0r_get_param_info"));
        construct = reinterpret_cast<decltype(construct)>(sym("f0r_construct"));
        destruct = reinterpret_cast<decltype(destruct)>(sym("f0r_destruct"));
        set = reinterpret_cast<decltype(set)>(sym("f0r_set_param_value"));
        get = reinterpret_cast<decltype(get)>(sym("f0r_get_param_value"));
        update = reinterpret_cast<decltype(update)>(sym("f0r_update"));
        update2 = reinterpret_cast<decltype(update2)>(sym("f0r_update2"));
    }
    ~Plugin() {
        if (handle) dlclose(handle);
    }
};

constexpr uint32_t kWhite = 0xFFFFFFFFu, kBlack = 0xFF000000u;

std::vector<uint32_t> Picture(unsigned w, unsigned h, uint32_t salt) {
    std::vector<uint32_t> p(size_t(w) * h);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = 0xFF000000u | ((uint32_t(i) * 2654435761u ^ salt) & 0x7F7F7Fu) | 0x202020u;
    return p;
}

class Frei0r : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        plugin_ = std::make_unique<Plugin>(GetParam());
        ASSERT_NE(plugin_->handle, nullptr) << dlerror();
        ASSERT_EQ(plugin_->init(), 1);
        f0r_plugin_info_t info{};
        plugin_->info(&info);
        mixer_ = info.plugin_type == F0R_PLUGIN_TYPE_MIXER2;
    }
    void TearDown() override { plugin_->deinit(); }

    // One frame at `progress`, `seed`, `time` from the inputs a and b.
    std::vector<uint32_t> Render(f0r_instance_t inst, unsigned w, unsigned h, double progress,
                                 double seed, double time, const std::vector<uint32_t>& a,
                                 const std::vector<uint32_t>& b) {
        plugin_->set(inst, &progress, 0);
        plugin_->set(inst, &seed, 2);
        std::vector<uint32_t> out(size_t(w) * h, 0x12345678u);
        if (mixer_)
            plugin_->update2(inst, time, a.data(), b.data(), nullptr, out.data());
        else
            plugin_->update(inst, time, a.data(), out.data());
        return out;
    }

    std::unique_ptr<Plugin> plugin_;
    bool mixer_ = false;
};

TEST_P(Frei0r, DescribesItself) {
    f0r_plugin_info_t info{};
    plugin_->info(&info);
    EXPECT_EQ(std::string(info.name), GetParam());
    EXPECT_EQ(info.plugin_type,
              GetParam() == "boxscatter" ? F0R_PLUGIN_TYPE_MIXER2 : F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
    EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
    ASSERT_EQ(info.num_params, 3);
    const char* names[] = {"progress", "box size", "seed"};
    for (int i = 0; i < 3; ++i) {
        f0r_param_info_t p{};
        plugin_->paramInfo(&p, i);
        EXPECT_EQ(std::string(p.name), names[i]);
        EXPECT_EQ(p.type, F0R_PARAM_DOUBLE);
        EXPECT_NE(p.explanation, nullptr);
    }
}

TEST_P(Frei0r, EndsAreExactAndTheMiddleMixes) {
    const bool reveal = GetParam().find("reveal") != std::string::npos;
    const bool white = GetParam().find("white") != std::string::npos;
    for (const auto& [w, h] : {std::pair{64u, 48u}, std::pair{33u, 17u}, std::pair{1u, 1u}}) {
        f0r_instance_t inst = plugin_->construct(w, h);
        ASSERT_NE(inst, nullptr);
        const auto a = Picture(w, h, 1), b = Picture(w, h, 0x5A5A5A);
        const uint32_t fill = white ? kWhite : kBlack;
        const std::vector<uint32_t> solid(size_t(w) * h, fill);
        // Progress 0: the first input (a reveal's fill); 1: the second (a reveal's clip).
        const auto start = Render(inst, w, h, 0.0, 3, 1.0, a, b);
        const auto end = Render(inst, w, h, 1.0, 3, 1.0, a, b);
        if (mixer_) {
            EXPECT_EQ(start, a);
            EXPECT_EQ(end, b);
        } else {
            EXPECT_EQ(start, reveal ? solid : a);
            EXPECT_EQ(end, reveal ? a : solid);
        }
        if (w * h > 100) {
            const auto mid = Render(inst, w, h, 0.5, 3, 1.0, a, b);
            const auto& from = mixer_ ? a : (reveal ? solid : a);
            const auto& to = mixer_ ? b : (reveal ? a : solid);
            size_t fromCount = 0, toCount = 0;
            for (size_t i = 0; i < mid.size(); ++i) {
                fromCount += mid[i] == from[i];
                toCount += mid[i] == to[i];
            }
            EXPECT_GT(fromCount, mid.size() / 5) << w << "x" << h;
            EXPECT_GT(toCount, mid.size() / 5) << w << "x" << h;
            EXPECT_EQ(fromCount + toCount, mid.size());
        }
        plugin_->destruct(inst);
    }
}

// Frames composed straight into the output buffer (the default) are those
// drawn pixel by pixel into the host's worlds (TAV_DRAW=direct), whatever
// the size, box size and progress, also when the host hands the first input
// as the output buffer itself.
TEST_P(Frei0r, ComposedFramesAreTheDirectlyDrawnOnes) {
    for (const auto& [w, h] :
         {std::pair{64u, 48u}, std::pair{33u, 17u}, std::pair{3u, 2u}, std::pair{1u, 1u}}) {
        ::setenv("TAV_DRAW", "direct", 1);
        f0r_instance_t direct = plugin_->construct(w, h);
        ::unsetenv("TAV_DRAW");
        f0r_instance_t composed = plugin_->construct(w, h);
        ASSERT_NE(direct, nullptr);
        ASSERT_NE(composed, nullptr);
        const auto a = Picture(w, h, 5), b = Picture(w, h, 0x3C3C3C);
        for (double box : {0.0, 0.34, 0.67, 1.0}) {
            plugin_->set(direct, &box, 1);
            plugin_->set(composed, &box, 1);
            for (double progress : {0.0, 0.01, 0.3, 0.5, 0.77, 0.99, 1.0}) {
                SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " box " +
                             std::to_string(box) + " progress " + std::to_string(progress));
                EXPECT_EQ(Render(composed, w, h, progress, 9, 1.5, a, b),
                          Render(direct, w, h, progress, 9, 1.5, a, b));
                if (!mixer_) continue;
                for (const bool second : {false, true}) {
                    std::vector<uint32_t> inPlace[2] = {second ? b : a, second ? b : a};
                    for (int k = 0; k < 2; ++k) {
                        f0r_instance_t inst = k ? composed : direct;
                        plugin_->set(inst, &progress, 0);
                        uint32_t* out = inPlace[k].data();
                        plugin_->update2(inst, 1.5, second ? a.data() : out,
                                         second ? out : b.data(), nullptr, out);
                    }
                    EXPECT_EQ(inPlace[1], inPlace[0])
                        << (second ? "second" : "first") << " input as the output";
                }
            }
        }
        plugin_->destruct(direct);
        plugin_->destruct(composed);
    }
}

TEST_P(Frei0r, PatternDependsOnlyOnSeedAndTime) {
    const unsigned w = 96, h = 64;
    f0r_instance_t one = plugin_->construct(w, h);
    f0r_instance_t two = plugin_->construct(w, h);
    const auto a = Picture(w, h, 7), b = Picture(w, h, 99);
    const auto first = Render(one, w, h, 0.4, 11, 2.0, a, b);
    // Other frames asked in between, on another instance too, then the same again.
    Render(one, w, h, 0.7, 11, 3.0, a, b);
    Render(two, w, h, 0.4, 11, 5.0, a, b);
    EXPECT_EQ(Render(one, w, h, 0.4, 11, 2.0, a, b), first);
    EXPECT_EQ(Render(two, w, h, 0.4, 11, 2.0, a, b), first);
    EXPECT_NE(Render(one, w, h, 0.4, 12, 2.0, a, b), first);
    // Seeds within 0..1, as an editor's slider gives them, differ too.
    EXPECT_NE(Render(one, w, h, 0.4, 0.25, 2.0, a, b), Render(one, w, h, 0.4, 0.5, 2.0, a, b));
    EXPECT_NE(Render(one, w, h, 0.4, 11, 2.04, a, b), first);
    // Another box size, another pattern.
    double big = 1.0;
    plugin_->set(one, &big, 1);
    EXPECT_NE(Render(one, w, h, 0.4, 11, 2.0, a, b), first);
    plugin_->destruct(one);
    plugin_->destruct(two);
}

// Editors draw frames on several threads, and other plug-ins in the same
// process call rand() and srand() while they do: instances drawing at once
// on two threads, with a third thread reseeding and drawing from the C
// library's rand() throughout, each give the frame they give alone.
TEST_P(Frei0r, PatternHoldsWhileThreadsAndTheProcessUseRand) {
    const unsigned w = 128, h = 96;
    const auto a = Picture(w, h, 3), b = Picture(w, h, 41);
    const double seeds[2] = {5, 6};
    std::vector<uint32_t> alone[2];
    for (int i = 0; i < 2; ++i) {
        f0r_instance_t inst = plugin_->construct(w, h);
        alone[i] = Render(inst, w, h, 0.5, seeds[i], 1.0, a, b);
        plugin_->destruct(inst);
    }
    f0r_instance_t insts[2] = {plugin_->construct(w, h), plugin_->construct(w, h)};
    EXPECT_EQ(
        DifferingOnTwoThreads(
            40,
            [&](int i) { return Render(insts[i], w, h, 0.5, seeds[i], 1.0, a, b) == alone[i]; }),
        0);
    for (f0r_instance_t inst : insts) plugin_->destruct(inst);
}

// MLT's "threads" property draws one picture as slices, calling one instance
// from several threads at once, each with its slice as the whole picture:
// every slice comes out as that slice drawn alone (never a mix of two
// slices' frames), and the plug-in says once that the box pattern starts
// again in every slice.
TEST_P(Frei0r, SlicesDrawnAtOnceAreEachWholeAndSaidOnce) {
    const unsigned w = 256, sliceH = 128, slices = 2;
    const size_t slicePixels = size_t(w) * sliceH;
    const auto a = Picture(w, sliceH * slices, 5), b = Picture(w, sliceH * slices, 77);
    std::vector<std::vector<uint32_t>> expected;
    for (unsigned i = 0; i < slices; ++i) {
        // An instance of its own for each: one instance asked for the same
        // time twice could take the two for slices.
        f0r_instance_t alone = plugin_->construct(w, sliceH);
        const std::vector<uint32_t> sa(a.begin() + i * slicePixels,
                                       a.begin() + (i + 1) * slicePixels);
        const std::vector<uint32_t> sb(b.begin() + i * slicePixels,
                                       b.begin() + (i + 1) * slicePixels);
        expected.push_back(Render(alone, w, sliceH, 0.5, 3, 1.0, sa, sb));
        plugin_->destruct(alone);
    }

    f0r_instance_t shared = plugin_->construct(w, sliceH);
    double progress = 0.5, seed = 3;
    plugin_->set(shared, &progress, 0);
    plugin_->set(shared, &seed, 2);
    ::testing::internal::CaptureStderr();
    bool whole = true;
    for (int round = 0; round < 20 && whole; ++round) {
        std::vector<uint32_t> out(a.size(), 0x12345678u);
        std::vector<std::thread> threads;
        std::atomic<unsigned> ready{0};
        for (unsigned i = 0; i < slices; ++i)
            threads.emplace_back([&, i] {
                const size_t at = i * slicePixels;
                for (++ready; ready < slices;) std::this_thread::yield();
                if (mixer_)
                    plugin_->update2(shared, 1.0, a.data() + at, b.data() + at, nullptr,
                                     out.data() + at);
                else
                    plugin_->update(shared, 1.0, a.data() + at, out.data() + at);
            });
        for (std::thread& t : threads) t.join();
        for (unsigned i = 0; i < slices && whole; ++i) {
            whole =
                std::equal(expected[i].begin(), expected[i].end(), out.begin() + i * slicePixels);
            EXPECT_TRUE(whole) << "slice " << i << " in round " << round;
        }
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    plugin_->destruct(shared);
    const std::string line = "slices 256x128";
    const size_t first = said.find(line);
    EXPECT_NE(first, std::string::npos) << said;
    EXPECT_EQ(said.find(line, first + 1), std::string::npos) << said;
}

// The whole text of a file, or "" when it cannot be read.
std::string TextOf(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of attribute `key` in the element text `tag`, or "?".
std::string Attribute(const std::string& tag, const std::string& key) {
    const size_t k = tag.find(" " + key + "=\"");
    if (k == std::string::npos) return "?";
    const size_t from = k + key.size() + 3;
    return tag.substr(from, tag.find('"', from) - from);
}

// The opening tag of the <parameter> element named `name`, or "".
std::string ParameterTag(const std::string& xml, const std::string& name) {
    for (size_t at = xml.find("<parameter "); at != std::string::npos;
         at = xml.find("<parameter ", at + 1)) {
        const std::string tag = xml.substr(at, xml.find('>', at) - at);
        if (Attribute(tag, "name") == name) return tag;
    }
    return "";
}

// Kdenlive's description names the plug-in's parameters and, with no
// keyframes from the user, runs the transition over its whole length: the
// composition's progress is a switch from 0 to 1 (or, reversed, 1 to 0), an
// effect's progress is fixed to ramp over the effect, whose length is a
// duration at the clip's start (reveals) or end (conceals). Shown values
// divided by their factor stay in the plug-in's 0..1 and give its defaults.
TEST_P(Frei0r, KdenliveDescriptionRunsTheWholeTransition) {
    const std::string kind = mixer_ ? "transitions" : "effects";
    const std::string xml =
        TextOf(std::string(TAV_KDENLIVE_DIR) + "/" + kind + "/frei0r_" + GetParam() + ".xml");
    ASSERT_FALSE(xml.empty()) << kind;
    EXPECT_NE(xml.find("tag=\"frei0r." + GetParam() + "\""), std::string::npos);
    const std::string progress = ParameterTag(xml, "progress");
    if (mixer_) {
        EXPECT_EQ(Attribute(progress, "type"), "switch");
        EXPECT_EQ(Attribute(progress, "default"), "0=0;-1=1");
        EXPECT_EQ(Attribute(progress, "max"), "0=1;-1=0");
    } else {
        EXPECT_EQ(Attribute(progress, "type"), "fixed");
        EXPECT_EQ(Attribute(progress, "value"), "0=0;-1=1");
        EXPECT_EQ(Attribute(progress, "default"), "?");  // Kdenlive would store it as 0
        const bool reveal = GetParam().find("reveal") != std::string::npos;
        EXPECT_EQ(Attribute(ParameterTag(xml, reveal ? "out" : "in"), "type"), "position");
        EXPECT_EQ(Attribute(ParameterTag(xml, reveal ? "in" : "out"), "type"), "fixed");
    }
    f0r_instance_t inst = plugin_->construct(8, 8);
    for (int i = 1; i < 3; ++i) {
        f0r_param_info_t p{};
        plugin_->paramInfo(&p, i);
        const std::string tag = ParameterTag(xml, p.name);
        ASSERT_FALSE(tag.empty()) << p.name;
        double value = -1;
        plugin_->get(inst, &value, i);
        const std::string f = Attribute(tag, "factor");
        const double factor = f == "?" ? 1.0 : std::stod(f);
        EXPECT_DOUBLE_EQ(std::stod(Attribute(tag, "default")) / factor, value) << p.name;
        if (Attribute(tag, "type") == "list") {
            // As many labels, in an element of their own, as values in 0..1.
            std::stringstream values(Attribute(tag, "paramlist"));
            int n = 0;
            for (std::string v; std::getline(values, v, ';'); ++n) {
                EXPECT_GE(std::stod(v), 0.0);
                EXPECT_LE(std::stod(v), 1.0);
            }
            const size_t open = xml.find("<paramlistdisplay>", xml.find(tag));
            ASSERT_NE(open, std::string::npos) << p.name;
            const std::string labels =
                xml.substr(open + 18, xml.find("</paramlistdisplay>", open) - open - 18);
            EXPECT_EQ(std::count(labels.begin(), labels.end(), ',') + 1, n) << labels;
        } else {
            EXPECT_EQ(std::stod(Attribute(tag, "min")) / factor, 0.0) << p.name;
            EXPECT_EQ(std::stod(Attribute(tag, "max")) / factor, 1.0) << p.name;
        }
    }
    plugin_->destruct(inst);
}

// The entries a Flowblade user pastes into its filters.xml: one per filter,
// naming the plug-in's own parameters; a reveal ramps its progress in at the
// clip's start as Flowblade's Fade In does; a list's default is one of its
// options (Flowblade fails to open the filter's panel otherwise).
TEST_P(Frei0r, FlowbladeEntriesNameThePluginsParameters) {
    const std::string xml = TextOf(std::string(TAV_FLOWBLADE_DIR) + "/filters.xml");
    ASSERT_FALSE(xml.empty());
    const size_t open = xml.find("<filter id=\"frei0r." + GetParam() + "\">");
    if (mixer_) {
        EXPECT_EQ(open, std::string::npos);  // a mixer is no Flowblade filter
        return;
    }
    ASSERT_NE(open, std::string::npos);
    const std::string entry = xml.substr(open, xml.find("</filter>", open) - open);
    f0r_instance_t inst = plugin_->construct(8, 8);
    for (int i = 0; i < 3; ++i) {
        f0r_param_info_t p{};
        plugin_->paramInfo(&p, i);
        const size_t at = entry.find("<property name=\"" + std::string(p.name) + "\"");
        ASSERT_NE(at, std::string::npos) << p.name;
        const std::string tag = entry.substr(at, entry.find('>', at) - at);
        const size_t text = entry.find('>', at) + 1;
        const std::string value = entry.substr(text, entry.find('<', text) - text);
        const std::string args = Attribute(tag, "args");
        if (i == 0) {
            const bool rampsIn =
                args.find("value_replacement=fade_in_replament") != std::string::npos;
            EXPECT_EQ(rampsIn, GetParam().find("reveal") != std::string::npos) << args;
            EXPECT_EQ(value, "0=0");
            continue;
        }
        double own = -1;
        plugin_->get(inst, &own, i);
        EXPECT_DOUBLE_EQ(std::stod(value), own) << p.name;
        if (const size_t cb = args.find("cbopts="); cb != std::string::npos) {
            std::stringstream options(args.substr(cb + 7, args.find(' ', cb) - cb - 7));
            bool listed = false;
            for (std::string o; std::getline(options, o, ',');) {
                const std::string v = o.substr(o.find(':') + 1);
                EXPECT_GE(std::stod(v), 0.0) << o;
                EXPECT_LE(std::stod(v), 1.0) << o;
                listed = listed || v == value;
            }
            EXPECT_TRUE(listed) << p.name << " default " << value;
        }
    }
    plugin_->destruct(inst);
}

INSTANTIATE_TEST_SUITE_P(Plugins, Frei0r,
                         ::testing::Values("boxscatter", "boxrevealwhite", "boxrevealblack",
                                           "boxconcealwhite", "boxconcealblack"));

}  // namespace

// The render stage on its own: sequences laid out by hand (as the plan lays
// them out) rendered into frame folders. The order in which a transition's
// plug-in is called, and what each output frame shows.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include <filesystem>
#include <functional>
#include <vector>

#include "part_identity.h"
#include "render.h"

namespace fs = std::filesystem;
using tavhost::media::ClipReader;
using tavhost::media::Frame;

namespace tavtest {
namespace {

constexpr int kW = 64, kH = 32;
constexpr tavhost::media::Rational kFps{25, 1};

// Every call a transition's plug-in gets, in order.
struct Call {
    int which;
    int selector;
    int32_t frame, count;
};
std::vector<Call> gCalls;

// A plug-in of 10 frames that only notes its calls: variant 1 goes between
// two clips, variant 2 opens one.
int32_t NotingMain(int32_t which, TavPluginParams* params) {
    gCalls.push_back({which, int(params->selector), params->renderFrame, params->frameCount});
    if (params->selector == kPlugGetInfo) {
        params->getInfo.pluginType =
            which == 1 ? kPluginTransitionBetweenType : kPluginTransitionBeforeType;
        params->getInfo.framesToBeRendered = 10;
        params->getInfo.takeFromClipBefore = which == 1 ? 10 : 0;
        params->getInfo.takeFromClipAfter = 10;
    }
    return kPluginOK;
}

class RenderStage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_ERROR);
        dir_ = fs::temp_directory_path() / ("tav-render-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        // Three clips of 40 frames, each its own moving picture and tone.
        for (int k = 0; k < 3; ++k) {
            const std::string cmd =
                "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=64x32:r=25:d=1.6,hue=h=" +
                std::to_string(k * 120) + " -f lavfi -i sine=f=" + std::to_string(300 + 200 * k) +
                ":d=1.6 -c:v libx264 -qp 0 -preset ultrafast -c:a aac '" + Clip(k) + "' </dev/null";
            const int rc = std::system(cmd.c_str());
            ASSERT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << cmd;
        }
        std::string error;
        box_ = tavhost::Bundle::Open("boxscatter", &error);
        ASSERT_TRUE(box_) << error;
    }
    static void TearDownTestSuite() {
        box_.reset();
        fs::remove_all(dir_);
    }
    static std::string P(const std::string& name) { return dir_ + "/" + name; }
    static std::string Clip(int k) { return P("clip" + std::to_string(k) + ".mp4"); }

    // A sequence of `clips` into folder `name`, each join a transition made
    // by `make` (null: a plain cut), laid out as the plan lays it out.
    using Make = std::function<std::unique_ptr<tavhost::TransitionInstance>(tavhost::Host&)>;
    std::unique_ptr<tavhost::Sequence> Lay(const std::string& name, int clips,
                                           const std::vector<Make>& joins) {
        std::vector<std::string> paths;
        for (int k = 0; k < clips; ++k) paths.push_back(Clip(k));
        return Lay(name, paths, joins);
    }
    std::unique_ptr<tavhost::Sequence> Lay(const std::string& name,
                                           const std::vector<std::string>& paths,
                                           const std::vector<Make>& joins) {
        const int clips = int(paths.size());
        auto s = std::make_unique<tavhost::Sequence>();
        s->output = P(name) + "/";
        fs::create_directories(P(name));
        std::string told;
        EXPECT_TRUE(tavhost::ClassifyOutput(s->output, "", &s->target, &told)) << told;
        s->format.width = kW;
        s->format.height = kH;
        s->format.fps = kFps;
        std::string error;
        std::vector<int64_t> frames;
        for (int k = 0; k < clips; ++k) {
            tavhost::PlannedClip c;
            c.path = paths[size_t(k)];
            c.label = "clip " + std::to_string(k);
            EXPECT_TRUE(tavhost::media::Probe(c.path, &c.info, &error)) << error;
            c.options.output = s->format;
            c.frames = tavhost::media::OutputFrames(c.info, c.options);
            frames.push_back(c.frames);
            s->clips.push_back(std::move(c));
        }
        s->host = std::make_unique<tavhost::Host>(s->format);
        tavhost::TransitionRequests requests;
        requests.joins.resize(size_t(clips - 1));
        std::vector<tavhost::PlannedTransition> planned;
        for (size_t j = 0; j < joins.size(); ++j) {
            if (!joins[j]) continue;
            tavhost::PlannedTransition t;
            t.name = "joins[" + std::to_string(j) + "]";
            t.bundle = box_.get();
            t.instance = joins[j](*s->host);
            tavhost::TransitionRequest r;
            EXPECT_EQ(t.instance->Describe(0.5f, &r.timing), kPluginOK);
            r.name = t.name;
            t.timing = r.timing;
            t.seed = uint32_t(j + 1);
            requests.joins[j] = r;
            planned.push_back(std::move(t));
        }
        std::vector<std::string> warnings;
        EXPECT_TRUE(tavhost::LayOut(frames, requests, &s->timeline, &warnings, &error)) << error;
        for (size_t k = 0; k < planned.size(); ++k) {
            planned[k].instance->SetLength(s->timeline.transitions[k].frames);
            s->transitions.push_back(std::move(planned[k]));
        }
        s->piece = {0, s->timeline.total, 0};
        s->quiet = true;
        return s;
    }

    static inline std::string dir_;
    static inline std::unique_ptr<tavhost::Bundle> box_;
};

// Every frame of a clip or frame folder as the reader serves it.
std::vector<Frame> Read(const std::string& path) {
    std::string error;
    ClipReader::Options o;
    o.output.width = kW;
    o.output.height = kH;
    o.output.fps = kFps;
    o.stillSeconds = 1.0 / kFps.Value();
    auto reader = ClipReader::Open(path, o, &error);
    EXPECT_TRUE(reader) << path << ": " << error;
    std::vector<Frame> frames;
    for (int64_t k = 0; reader && k < reader->FrameCount(); ++k) {
        const Frame* f = reader->Get(k, &error);
        if (!f) break;
        f->Pixels();
        frames.push_back(*f);
    }
    return frames;
}

// Each transition is started once at its first frame, drawn frame by frame
// in order, and ended once after its last, before the next one starts; the
// frames outside transitions are the clips' own.
TEST_F(RenderStage, TransitionsAreCalledInOrderAndTheRestIsTheClips) {
    const Make noting = [](tavhost::Host& host) {
        return std::make_unique<tavhost::TransitionInstance>(&NotingMain, host, int16_t(1));
    };
    auto s = Lay("noted", 3, {noting, noting});
    ASSERT_EQ(s->timeline.transitions.size(), 2u);
    const tavhost::Timeline timeline = s->timeline;
    gCalls.clear();
    tavhost::RenderSummary summary;
    tavhost::Error error;
    ASSERT_TRUE(tavhost::RenderSequence(*s, &summary, &error)) << error.text;
    EXPECT_EQ(summary.frames, timeline.total);

    std::vector<int> selectors;
    std::vector<int32_t> frames;
    for (const Call& c : gCalls) {
        selectors.push_back(c.selector);
        if (c.selector == kPlugDoFrame) frames.push_back(c.frame);
    }
    std::vector<int> want;
    std::vector<int32_t> wantFrames;
    for (const tavhost::Placement& p : timeline.transitions) {
        want.push_back(kPlugInitialize);
        for (int32_t i = 0; i < p.frames; ++i) {
            want.push_back(kPlugDoFrame);
            wantFrames.push_back(i);
        }
        want.push_back(kPlugTerminate);
    }
    EXPECT_EQ(selectors, want);
    EXPECT_EQ(frames, wantFrames);

    // Outside the transitions (which drew nothing here) and inside them, the
    // picture is the hard cut's.
    const std::vector<Frame> out = Read(P("noted") + "/frame%04d.png");
    ASSERT_EQ(int64_t(out.size()), timeline.total);
    std::vector<std::vector<Frame>> clips;
    for (int k = 0; k < 3; ++k) clips.push_back(Read(Clip(k)));
    for (int64_t t = 0; t < timeline.total; ++t) {
        const tavhost::SourceRef ref = timeline.HardCut(t);
        ASSERT_LT(size_t(ref.index), clips[size_t(ref.clip)].size());
        EXPECT_EQ(out[size_t(t)].pixels, clips[size_t(ref.clip)][size_t(ref.index)].pixels)
            << "frame " << t;
    }
}

// A transition drawn by a real bundle: every pixel of its frames is clip A's
// or clip B's at that place, A's at its start and B's at its end.
TEST_F(RenderStage, ATransitionsFramesAreMadeOfItsTwoClips) {
    const Make scatter = [](tavhost::Host& host) {
        return std::make_unique<tavhost::TransitionInstance>(*box_, host, int16_t(2));
    };
    auto s = Lay("scatter", 2, {scatter});
    ASSERT_EQ(s->timeline.transitions.size(), 1u);
    const tavhost::Placement p = s->timeline.transitions[0];
    tavhost::RenderSummary summary;
    tavhost::Error error;
    ASSERT_TRUE(tavhost::RenderSequence(*s, &summary, &error)) << error.text;
    const std::vector<Frame> out = Read(P("scatter") + "/frame%04d.png");
    const std::vector<Frame> a = Read(Clip(0)), b = Read(Clip(1));
    ASSERT_GE(int64_t(out.size()), p.start + p.frames);
    double firstB = -1, lastB = -1;
    for (int32_t i = 0; i < p.frames; ++i) {
        tavhost::SourceRef ra, rb;
        // The plug-in numbers A's frames from the transition's start, then B's.
        ASSERT_TRUE(p.Map(int32_t(p.start) + i, &ra));
        ASSERT_TRUE(p.Map(int32_t(p.start) + p.frames + i, &rb));
        const std::vector<uint32_t>& pa = a[size_t(ra.index)].pixels;
        const std::vector<uint32_t>& pb = b[size_t(rb.index)].pixels;
        const std::vector<uint32_t>& po = out[size_t(p.start + i)].pixels;
        size_t fromB = 0, neither = 0;
        for (size_t k = 0; k < po.size(); ++k) {
            if (po[k] == pb[k] && po[k] != pa[k]) ++fromB;
            if (po[k] != pa[k] && po[k] != pb[k]) ++neither;
        }
        EXPECT_EQ(neither, 0u) << "transition frame " << i;
        const double share = double(fromB) / double(po.size());
        if (i == 0) firstB = share;
        lastB = share;
    }
    EXPECT_LT(firstB, 0.2);
    EXPECT_GT(lastB, 0.8);
}

// A render in parts knows its clips by name and content: clips of the same
// names in two folders are two renders unless they hold the same packets.
TEST_F(RenderStage, APartsIdentityFollowsItsClipsContent) {
    const Make scatter = [](tavhost::Host& host) {
        return std::make_unique<tavhost::TransitionInstance>(*box_, host, int16_t(2));
    };
    for (const char* folder : {"same", "other", "copy"}) fs::create_directories(P(folder));
    for (int k = 0; k < 2; ++k) {
        const std::string name = "/clip" + std::to_string(k) + ".mp4";
        fs::copy_file(Clip(k), P("same") + name, fs::copy_options::overwrite_existing);
        fs::copy_file(Clip(k), P("copy") + name, fs::copy_options::overwrite_existing);
        // The same names, sizes and lengths; the pictures of the other clip.
        fs::copy_file(Clip(1 - k), P("other") + name, fs::copy_options::overwrite_existing);
    }
    auto plan = [&](const char* folder) {
        const std::vector<std::string> paths = {P(folder) + "/clip0.mp4", P(folder) + "/clip1.mp4"};
        auto s = Lay(std::string("id-") + folder, paths, {scatter});
        s->seed = 7;
        return tavhost::PartTagsOf(*s).plan;
    };
    const std::string same = plan("same");
    EXPECT_EQ(plan("copy"), same);
    EXPECT_NE(plan("other"), same);
}

}  // namespace
}  // namespace tavtest

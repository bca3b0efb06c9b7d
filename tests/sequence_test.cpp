// Sequences: several clips with a transition at every join and at the ends,
// trimmed clips, slideshows of stills, edit files and their mistakes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "clip_pool.h"
#include "image_io.h"
#include "sequence_plan.h"
#include "support/clip_fixtures.h"

namespace fs = std::filesystem;
using tavhost::media::Frame;

namespace tavtest {
namespace {

class Sequence : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tav-sequence-" + std::to_string(getpid()));
        fs::create_directories(dir_ + "/show");
        MakeClip(A(), 60, 10, 440);
        MakeClip(B(), 45, 140, 0);
        MakeClip(C(), 60, 70, 880);
        MakeClip(Long(), 150, 200, 440);
        const uint32_t colours[3] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
        const char* names[3] = {"r.png", "g.png", "b.png"};
        for (int i = 0; i < 3; ++i) {
            std::vector<uint32_t> pixels(size_t(kW) * kH, colours[i]);
            std::string error;
            ASSERT_TRUE(tavhost::media::WriteImage(dir_ + "/show/" + names[i], names[i],
                                                   tavhost::media::ImageFormat::kPng, pixels.data(),
                                                   kW, kH, kW, &error))
                << error;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static std::string A() { return dir_ + "/a.mp4"; }
    static std::string B() { return dir_ + "/b.mp4"; }
    static std::string C() { return dir_ + "/c.mp4"; }
    static std::string Long() { return dir_ + "/long.mp4"; }
    static std::string Out(const std::string& name) { return dir_ + "/" + name; }

    static std::string Write(const std::string& name, const std::string& text) {
        const std::string path = Out(name);
        std::ofstream(path) << text;
        return path;
    }

    // Runs tavhost; the frames written into PNG folder `name`.
    static std::vector<Frame> RenderPngs(const std::string& args, const std::string& name) {
        const Result r = RunTavhost("render " + args + " --quiet --seed 3 -o " + Out(name));
        EXPECT_EQ(r.status, 0) << r.err;
        return ReadAll(PngFolder(Out(name)));
    }

    static inline std::string dir_;
};

bool AllOf(const Frame& f, uint32_t colour) {
    return std::all_of(f.pixels.begin(), f.pixels.end(), [&](uint32_t p) { return p == colour; });
}

// boxscatter at speed 0 is 10 frames: the clips overlap by 10 at each join.
TEST_F(Sequence, ThreeClipsTwoJoins) {
    const std::vector<Frame> out =
        RenderPngs("boxscatter --speed 0 " + A() + " " + B() + " " + C(), "three");
    ASSERT_EQ(out.size(), 60u + 45 + 60 - 2 * 10);
    const std::vector<Frame> a = ReadAll(A()), b = ReadAll(B()), c = ReadAll(C());
    // A alone, the first join over A's last 10 frames ending on B, B alone,
    // the second join ending on C, C alone.
    EXPECT_EQ(out[0].pixels, a[0].pixels);
    EXPECT_EQ(out[49].pixels, a[49].pixels);
    EXPECT_NE(out[50].pixels, a[50].pixels);
    EXPECT_EQ(out[59].pixels, b[9].pixels);
    EXPECT_EQ(out[60].pixels, b[10].pixels);
    EXPECT_EQ(out[84].pixels, b[34].pixels);
    EXPECT_NE(out[85].pixels, b[35].pixels);
    EXPECT_EQ(out[94].pixels, c[9].pixels);
    EXPECT_EQ(out[95].pixels, c[10].pixels);
    EXPECT_EQ(out[144].pixels, c[59].pixels);
}

TEST_F(Sequence, SoundMixesAtEachJoinAndFadesAtTheEnds) {
    const std::string movie = Out("three.mkv");
    const Result r =
        RunTavhost("render boxscatter --speed 0 --open boxrevealblack --close boxconcealwhite " +
                   A() + " " + B() + " " + C() + " --quiet -o " + movie);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Frame> out = ReadAll(movie);
    ASSERT_EQ(out.size(), 145u);
    const double a = Rms(ReadAll(A()), 5, 40), c = Rms(ReadAll(C()), 5, 40);
    ASSERT_GT(a, 0.1);
    EXPECT_LT(Rms(out[0]), 0.2 * a);                // the opening fades A in
    EXPECT_NEAR(Rms(out, 15, 45), a, 0.1 * a);      // then A at its own level
    EXPECT_GT(Rms(out, 50, 53), Rms(out, 56, 60));  // falls across the first join
    EXPECT_LT(Rms(out, 62, 83), 0.05 * a);          // B is silent
    EXPECT_LT(Rms(out, 85, 88), Rms(out, 91, 95));  // rises across the second join
    EXPECT_NEAR(Rms(out, 100, 130), c, 0.1 * c);    // C at its own level
    EXPECT_LT(Rms(out[144]), 0.2 * c);              // the closing fades C out
    for (uint32_t p : out[0].pixels) ASSERT_LT(p & 0xFFFFFF, 0x202020u);  // opens from black
}

TEST_F(Sequence, TrimmedClipsStartAndEndAtTheirPoints) {
    const std::vector<Frame> src = ReadAll(Long());
    ASSERT_EQ(src.size(), 150u);
    // Seconds and frames; an in point past the first keyframe.
    for (const auto& [in, out, first, last] :
         {std::tuple{"0.5", "1.5", 15, 44}, std::tuple{"100f", "140f", 100, 139},
          std::tuple{"0:02.5", "0:04.9", 75, 146}}) {
        const std::vector<Frame> got = RenderPngs(
            std::string("boxconcealwhite --speed 0 --in ") + in + " --out " + out + " " + Long(),
            "trim" + std::to_string(first));
        ASSERT_EQ(got.size(), size_t(last - first + 1)) << in;
        EXPECT_EQ(got[0].pixels, src[size_t(first)].pixels) << in;
        // The closing covers the last 10 frames; the one before it is the clip's.
        EXPECT_EQ(got[got.size() - 11].pixels, src[size_t(last - 10)].pixels) << in;
    }
    // Two trimmed clips joined: B's in point is its first frame after the join.
    const std::vector<Frame> joined =
        RenderPngs("boxscatter --speed 0 --out 40f " + Long() + " --in 20f " + B(), "trimJoin");
    const std::vector<Frame> b = ReadAll(B());
    ASSERT_EQ(joined.size(), 40u + 25 - 10);
    EXPECT_EQ(joined[29].pixels, src[29].pixels);
    EXPECT_EQ(joined[40].pixels, b[30].pixels);
    EXPECT_EQ(joined.back().pixels, b[44].pixels);
}

TEST_F(Sequence, SlideshowOfStillsFromAnEditFile) {
    // Paths are relative to the edit file, wherever tavhost runs.
    const std::string edit = Out("show/show.json");
    std::ofstream(edit) << R"({
      "output": {"rate": 30, "path": "show-out"},
      "clips": [{"path": "r.png", "duration": 1}, {"path": "g.png", "duration": 2},
                {"path": "b.png", "duration": 1}],
      "joins": {"bundle": "boxscatter", "variant": 1, "length": "10f"}
    })";
    const Result r = RunTavhost("render --quiet --edit " + edit);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Frame> out = ReadAll(PngFolder(Out("show/show-out")));
    ASSERT_EQ(out.size(), 30u + 60 + 30 - 20);
    EXPECT_TRUE(AllOf(out[0], 0xFFFF0000u));
    EXPECT_TRUE(AllOf(out[19], 0xFFFF0000u));
    EXPECT_FALSE(AllOf(out[24], 0xFFFF0000u));
    EXPECT_TRUE(AllOf(out[29], 0xFF00FF00u));
    EXPECT_TRUE(AllOf(out[60], 0xFF00FF00u));
    EXPECT_TRUE(AllOf(out[79], 0xFF0000FFu));
    EXPECT_TRUE(AllOf(out[99], 0xFF0000FFu));
}

// Only the clips around the frame being made are open.
TEST_F(Sequence, ClipsOpenOnlyAroundTheirFrames) {
    std::vector<tavhost::PlannedClip> clips(6);
    std::vector<int64_t> lengths;
    tavhost::TransitionRequests requests;
    for (tavhost::PlannedClip& c : clips) {
        c.path = lengths.size() % 2 ? B() : A();
        std::string error;
        ASSERT_TRUE(tavhost::media::Probe(c.path, &c.info, &error)) << error;
        c.options.output.width = kW;
        c.options.output.height = kH;
        c.options.output.fps = kFps;
        c.frames = tavhost::media::OutputFrames(c.info, c.options);
        lengths.push_back(c.frames);
    }
    requests.joins.assign(
        5, tavhost::TransitionRequest{{kPluginTransitionBetweenType, 10, 10, 10}, "join"});
    tavhost::Timeline tl;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(tavhost::LayOut(lengths, requests, &tl, &warnings, &error)) << error;
    const tavhost::CopyPlan noCopies;
    tavhost::ClipPool pool(clips, tl, nullptr, 5, tavhost::ClipPool::Pixels::kTransitions,
                           noCopies);
    int most = 0;
    for (int64_t t = 0; t < tl.total; ++t) {
        ASSERT_TRUE(pool.Advance(t, &error)) << error;
        const tavhost::SourceRef ref = tl.HardCut(t);
        ASSERT_NE(pool.Frame(ref.clip, ref.index, &error), nullptr) << t << " " << error;
        most = std::max(most, pool.OpenCount());
    }
    EXPECT_LE(most, 3);
    EXPECT_GE(most, 2);
    pool.CloseAll(tl.total);
    EXPECT_EQ(pool.OpenCount(), 0);
}

struct EditMistake {
    const char* name;
    const char* json;  // {A} {B} are the clips' paths
    int status;
    const char* message;
};

void PrintTo(const EditMistake& c, std::ostream* os) {
    *os << c.name;
}

class EditMistakes : public Sequence, public ::testing::WithParamInterface<EditMistake> {};

TEST_P(EditMistakes, AreFoundBeforeAnythingIsWritten) {
    const EditMistake& c = GetParam();
    std::string json = c.json;
    for (auto [key, value] : {std::pair{"{A}", A()}, std::pair{"{B}", B()}})
        for (size_t at; (at = json.find(key)) != std::string::npos;)
            json.replace(at, std::string(key).size(), value);
    const std::string edit = Write(std::string(c.name) + ".json", json);
    const std::string out = Out(std::string(c.name) + ".mp4");
    const Result r = RunTavhost("render --quiet --edit " + edit + " -o " + out);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(edit), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(StagedBeside(out));
}

constexpr const char* kJoin = R"("joins": {"bundle": "boxscatter"})";

INSTANTIATE_TEST_SUITE_P(
    Cases, EditMistakes,
    ::testing::Values(
        EditMistake{"missingFile", R"({"clips": ["{A}", "nowhere.mp4"], "joins": {"bundle":
                    "boxscatter"}})",
                    1, "clips[1]: cannot open clip"},
        EditMistake{"unknownBundle", R"({"clips": ["{A}", "{B}"], "joins": {"bundle": "boxfog"}})",
                    2, "joins[0].bundle: unknown bundle 'boxfog'"},
        EditMistake{"inAfterOut", R"({"clips": [{"path": "{A}", "in": 1.5, "out": "10f"}]})", 2,
                    "clips[0].out: not after clips[0].in"},
        EditMistake{"inPastTheEnd", R"({"clips": [{"path": "{A}", "in": "0:05"}]})", 2,
                    "clips[0].in: 5.00 s is not before the clip's end"},
        EditMistake{"joinLongerThanItsClips",
                    R"({"clips": ["{A}", "{B}"], "joins": {"bundle": "boxscatter", "length":
                    "50f"}})",
                    2, "joins[0] (boxscatter) is longer than its clips allow: 45 frames"},
        EditMistake{"lengthBeyondTheBundle",
                    R"({"clips": ["{A}", "{B}"], "joins": [{"bundle": "boxscatter", "length":
                    9}]})",
                    2, "joins[0].length: 270 frames is longer than boxscatter makes"},
        EditMistake{"badJson", R"({"clips": ["{A}",]})", 2, "is not JSON: parse error at line 1"},
        EditMistake{"numberOverflow", R"({"clips": ["{A}"], "open": {"bundle": 1e400}})", 2,
                    "is not JSON: number overflow"},
        EditMistake{"unknownKey", R"({"clips": [{"path": "{A}", "inn": 2}]})", 2,
                    "clips[0].inn: unknown key"},
        // A key is user text: shown on one line, and cut.
        EditMistake{"keyWithANewline", R"({"clips": [{"path": "{A}", "i\nn": 2}]})", 2,
                    "clips[0].i\\nn: unknown key"},
        EditMistake{
            "longKey",
            R"({"clips": ["{A}"], "output": {"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx": 1}})",
            2, "output.xxxxxxxxxxxxxxxxxxxxxxxx...xxxxxxxxxxxxx: unknown key"},
        EditMistake{"badTime", R"({"clips": [{"path": "{A}", "in": "soon"}]})", 2,
                    "clips[0].in: must be a time"},
        EditMistake{"wrongKind",
                    R"({"clips": ["{A}", "{B}"], "joins": [{"bundle": "boxrevealwhite"}]})", 2,
                    "joins[0] (boxrevealwhite) opens a clip: it cannot go between two clips"},
        EditMistake{"closeThatOpens", R"({"clips": ["{A}"], "close": {"bundle": "boxscatter"}})", 2,
                    "close (boxscatter) goes between two clips: it cannot go at the end"},
        EditMistake{"joinCount",
                    R"({"clips": ["{A}", "{B}"], "joins": [{"bundle": "boxscatter"}, null]})", 2,
                    "joins: has 2 entries, but 2 clips have 1 join"},
        EditMistake{"noClips", R"({"joins": {"bundle": "boxscatter"}})", 2,
                    "clips: must list the clips"},
        EditMistake{"badVariant",
                    R"({"clips": ["{A}", "{B}"], "joins": {"bundle": "boxscatter", "variant":
                    9}})",
                    2, "joins[0] (boxscatter) has no variant 9"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- What the plan gives the render. ---

// Frames of a render into PNG folder `name`, with `args` as given.
std::vector<Frame> RenderAs(const std::string& args, const std::string& out) {
    const Result r = RunTavhost("render " + args + " --quiet -o " + out + "/");
    EXPECT_EQ(r.status, 0) << r.err;
    return ReadAll(PngFolder(out));
}

// The k-th transition of a sequence is seeded N + k: the same pictures as an
// edit file giving each join its own seed N + k, and not those of one seed
// for every join.
TEST_F(Sequence, TheKthTransitionIsSeededNPlusK) {
    const std::vector<std::vector<std::string>> geometries = {{Long(), Long(), Long()},
                                                              {Long(), C(), Long(), A()}};
    for (size_t g = 0; g < geometries.size(); ++g) {
        const std::vector<std::string>& clips = geometries[g];
        const std::string length = g == 0 ? "20f" : "12f";
        std::string words, list;
        for (const std::string& c : clips) {
            words += " " + c;
            list += std::string(list.empty() ? "" : ", ") + "\"" + c + "\"";
        }
        auto edit = [&](bool ownSeeds) {
            std::string joins;
            for (size_t k = 0; k + 1 < clips.size(); ++k)
                joins += std::string(k ? ", " : "") + R"({"bundle": "boxscatter", "length": ")" +
                         length + R"(", "seed": )" + std::to_string(ownSeeds ? 40 + k : 40) + "}";
            return Write("seeds.json", R"({"clips": [)" + list + R"(], "joins": [)" + joins + "]}");
        };
        const std::string tag = "seeds" + std::to_string(g);
        const std::vector<Frame> line =
            RenderAs("boxscatter --seed 40 --length " + length + words, Out(tag + "-line"));
        const std::vector<Frame> own = RenderAs("--edit " + edit(true), Out(tag + "-own"));
        const std::vector<Frame> one = RenderAs("--edit " + edit(false), Out(tag + "-one"));
        ASSERT_EQ(line.size(), own.size());
        ASSERT_EQ(line.size(), one.size());
        size_t differ = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            EXPECT_EQ(line[i].pixels, own[i].pixels) << "geometry " << g << ", frame " << i;
            differ += line[i].pixels != one[i].pixels;
        }
        EXPECT_GT(differ, 0u) << "geometry " << g << ": the second join's pattern is its own";
    }
}

// Pieces rendered apart (--part K/N) are, put one after another, the whole
// render frame for frame: cuts fall outside the transitions, every
// transition is drawn whole by one piece with its own seed, and a piece that
// starts after a reveal renders from it so that its clip's fade is the same.
TEST_F(Sequence, PiecesOneAfterAnotherAreTheWholeRender) {
    const std::vector<std::pair<std::string, int>> geometries = {
        {"boxscatter --length 12f " + A() + " " + B() + " " + C() + " --open boxrevealblack", 3},
        {"boxscatter --length 20f " + Long() + " " + Long() + " --close boxconcealwhite", 4},
        {"boxscatter --length 12f " + Long() + " " + C() + " " + Long() + " " + A(), 5}};
    for (size_t g = 0; g < geometries.size(); ++g) {
        const auto& [args, count] = geometries[g];
        const std::string tag = "pieces" + std::to_string(g);
        const std::vector<Frame> whole = RenderPngs(args, tag + "-whole");
        std::vector<Frame> joined;
        for (int k = 1; k <= count; ++k) {
            const std::string part = std::to_string(k) + "/" + std::to_string(count);
            const std::vector<Frame> piece =
                RenderPngs(args + " --part " + part, tag + "-" + std::to_string(k));
            joined.insert(joined.end(), piece.begin(), piece.end());
        }
        ASSERT_EQ(joined.size(), whole.size()) << "geometry " << g;
        for (size_t i = 0; i < whole.size(); ++i)
            ASSERT_EQ(joined[i].pixels, whole[i].pixels) << "geometry " << g << ", frame " << i;
    }
}

// A warning that holds for every join alike is said once, not once a join.
TEST_F(Sequence, AWarningForEveryJoinIsSaidOnce) {
    const Result r = RunTavhost("render boxscatter --speed 1 " + Long() + " " + Long() + " " +
                                Long() + " " + Long() + " --quiet -o " + Out("warned.mp4"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("longer than its clips allow"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

struct SecondsCase {
    const char* name;
    const char* rate;
    double seconds;
    const char* bundle;
    int clips;
    int32_t frames;  // seconds x rate, to the nearest frame
};

void PrintTo(const SecondsCase& c, std::ostream* os) {
    *os << c.name;
}

class SecondsLength : public Sequence, public ::testing::WithParamInterface<SecondsCase> {};

TEST_P(SecondsLength, RoundsToTheNearestFrame) {
    const SecondsCase& c = GetParam();
    tavhost::RenderJob job;
    job.transition.bundle = c.bundle;
    job.transition.length = tavhost::TimeValue{c.seconds, false};
    tavhost::media::Rational rate;
    ASSERT_TRUE(tavhost::ParseRate(c.rate, &rate));
    job.settings.rate = rate;
    job.clips.assign(size_t(c.clips), Long());
    job.output = Out("never.mp4");
    tavhost::SequencePlan plan;
    std::vector<std::string> warnings;
    tavhost::Error error;
    ASSERT_TRUE(plan.Make(job, &warnings, &error)) << error.text;
    ASSERT_EQ(plan.timeline.transitions.size(), size_t(std::max(1, c.clips - 1)));
    for (const tavhost::Placement& p : plan.timeline.transitions) EXPECT_EQ(p.frames, c.frames);
    EXPECT_FALSE(fs::exists(job.output));
}

INSTANTIATE_TEST_SUITE_P(Cases, SecondsLength,
                         ::testing::Values(SecondsCase{.name = "ntscJoin",
                                                       .rate = "29.97",
                                                       .seconds = 1.5,
                                                       .bundle = "boxscatter",
                                                       .clips = 2,
                                                       .frames = 45},
                                           SecondsCase{.name = "ntscShort",
                                                       .rate = "30000/1001",
                                                       .seconds = 0.7,
                                                       .bundle = "boxscatter",
                                                       .clips = 3,
                                                       .frames = 21},
                                           SecondsCase{.name = "filmOpen",
                                                       .rate = "23.976",
                                                       .seconds = 1.0,
                                                       .bundle = "boxrevealblack",
                                                       .clips = 1,
                                                       .frames = 24},
                                           SecondsCase{.name = "palClose",
                                                       .rate = "25",
                                                       .seconds = 0.5,
                                                       .bundle = "boxconcealwhite",
                                                       .clips = 1,
                                                       .frames = 13},
                                           SecondsCase{.name = "ntsc60",
                                                       .rate = "59.94",
                                                       .seconds = 0.25,
                                                       .bundle = "boxscatter",
                                                       .clips = 2,
                                                       .frames = 15}),
                         [](const auto& info) { return std::string(info.param.name); });

// An edit file's null join is a plain cut, and its output size gives way to
// the command line's.
TEST_F(Sequence, AnEditFilesCutsAndSizeAsPlanned) {
    const std::string join = R"({"bundle": "boxscatter", "length": "10f"})";
    const std::string clips = "[\"" + A() + "\", \"" + B() + "\", \"" + C() + "\"]";
    for (const bool cutFirst : {false, true}) {
        const std::string joins = cutFirst ? "[null, " + join + "]" : "[" + join + ", null]";
        const std::string edit =
            Write("cuts.json", R"({"clips": )" + clips + R"(, "joins": )" + joins +
                                   R"(, "output": {"size": "200x120"}})");
        for (const bool sized : {false, true}) {
            tavhost::RenderJob job;
            job.editFile = edit;
            job.output = Out("never.mp4");
            if (sized) {
                job.settings.width = 320;
                job.settings.height = 192;
            }
            tavhost::SequencePlan plan;
            std::vector<std::string> warnings;
            tavhost::Error error;
            ASSERT_TRUE(plan.Make(job, &warnings, &error)) << error.text;
            ASSERT_EQ(plan.timeline.transitions.size(), 1u);
            EXPECT_EQ(plan.timeline.slots[0], cutFirst ? 1 : 0);
            EXPECT_EQ(plan.timeline.total, 60 + 45 + 60 - 10);
            EXPECT_EQ(plan.format.width, sized ? 320 : 200);
            EXPECT_EQ(plan.format.height, sized ? 192 : 120);
        }
    }
}

struct TrimMistake {
    const char* name;
    const char* args;  // {A} is a clip
    const char* message;
};

void PrintTo(const TrimMistake& c, std::ostream* os) {
    *os << c.name;
}

class TrimMistakes : public Sequence, public ::testing::WithParamInterface<TrimMistake> {};

TEST_P(TrimMistakes, AreUsageErrors) {
    std::string args = GetParam().args;
    args.replace(args.find("{A}"), 3, A());
    const std::string out = Out(std::string(GetParam().name) + ".mp4");
    const Result r = RunTavhost("render " + args + " -o " + out);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimMistakes,
    ::testing::Values(
        TrimMistake{"pastTheEnd", "boxconcealwhite --out 1:00 {A}", "is past the clip's end"},
        TrimMistake{"openTwice", "boxrevealwhite --open boxrevealblack {A}", "opens one clip"},
        TrimMistake{"oneClipBetween", "boxscatter {A}", "give two clips or more"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavtest

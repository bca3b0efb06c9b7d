// A render in parts (render --part K/N, then join) end to end: the joined
// movie is the render in one piece, picture for picture and sample for
// sample, whatever the geometry; and a join that cannot make that movie
// writes nothing and says why in one line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/clip_fixtures.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

class Parts : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tav-parts-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        MakeClip(P("a.mp4"), 60, 10, 440);
        MakeClip(P("b.mp4"), 45, 140, 0);
        MakeClip(P("long.mp4"), 150, 200, 660);
        // Clips the copy can take: tagged as the output is, an IDR every 30 frames.
        for (const char* name : {"ca.mp4", "cb.mp4"})
            ASSERT_TRUE(FfmpegClip(
                P(name), std::string("-f lavfi -i ") +
                             (name[1] == 'a' ? "testsrc2" : "mandelbrot") +
                             "=s=160x96:r=30 -f lavfi -i sine=f=330 -t 4 -c:v libx264 -preset "
                             "veryfast -pix_fmt yuv420p -colorspace smpte170m -color_primaries "
                             "smpte170m -color_trc smpte170m -color_range tv -x264-params "
                             "keyint=30:min-keyint=30:scenecut=0 -c:a aac"));
        ASSERT_TRUE(FfmpegClip(P("still.png"), "-f lavfi -i testsrc2=s=160x96 -frames:v 1"));
        // An edit file is cut the same way; its paths are its own folder's.
        std::ofstream(P("show.json"))
            << R"({"clips": ["a.mp4", {"path": "long.mp4", "in": 0.5, "out": 4}, "still.png",)"
            << R"( "b.mp4"], "joins": [{"bundle": "boxscatter", "length": "15f"}, null,)"
            << R"( {"bundle": "boxscatter", "variant": 1, "length": "10f"}],)"
            << R"( "close": {"bundle": "boxconcealblack", "length": "20f"}})";
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string P(const std::string& name) { return dir_ + "/" + name; }
    // `text` with every {name} a path in the test's folder.
    static std::string Paths(std::string text) {
        for (size_t at; (at = text.find('{')) != std::string::npos;) {
            const size_t end = text.find('}', at);
            text.replace(at, end + 1 - at, P(text.substr(at + 1, end - at - 1)));
        }
        return text;
    }

    // Renders `args` as `count` parts into NAME-K.mkv; their paths.
    static std::vector<std::string> RenderParts(const std::string& args, int count,
                                                const std::string& name) {
        std::vector<std::string> parts;
        for (int k = 1; k <= count; ++k) {
            parts.push_back(P(name + "-" + std::to_string(k) + ".mkv"));
            const Result r = RunTavhost("render " + args + " --quiet --part " + std::to_string(k) +
                                        "/" + std::to_string(count) + " -o " + parts.back());
            EXPECT_EQ(r.status, 0) << k << ": " << r.err;
        }
        return parts;
    }
    static Result Join(const std::vector<std::string>& parts, const std::string& out) {
        std::string words;
        for (const std::string& p : parts) words += " '" + p + "'";
        return RunTavhost("join --quiet" + words + " -o '" + out + "'");
    }
    static std::string Md5(const std::string& path, const std::string& what) {
        return Sh("ffmpeg -v error -i '" + path + "' " + what + " -f md5 -");
    }

    static std::string dir_;
};
std::string Parts::dir_;

struct Geometry {
    const char* name;
    const char* args;  // {name}: a clip of the fixture
    int parts;
};

void PrintTo(const Geometry& g, std::ostream* os) {
    *os << g.name;
}

class JoinedParts : public Parts, public ::testing::WithParamInterface<Geometry> {};

// Encoded losslessly, the joined movie decodes to the whole render's pictures
// exactly; its sound is the same AAC, packet for packet, in every geometry:
// reveals and conceals whose fades a later part carries on, stills, trims,
// more parts than places to cut (empty parts), copied runs.
TEST_P(JoinedParts, AreTheRenderInOnePiece) {
    const Geometry& g = GetParam();
    const std::string args = Paths(g.args) + " --seed 11";
    const std::string whole = P(std::string(g.name) + "-whole.mp4");
    const Result w = RunTavhost("render " + args + " --quiet -o " + whole);
    ASSERT_EQ(w.status, 0) << w.err;
    std::vector<std::string> parts = RenderParts(args, g.parts, g.name);
    std::reverse(parts.begin(), parts.end());  // the order given does not matter
    const std::string joined = P(std::string(g.name) + "-joined.mp4");
    const Result j = Join(parts, joined);
    ASSERT_EQ(j.status, 0) << j.err;
    EXPECT_EQ(j.err, "");
    const std::vector<std::string> pictures = FrameMd5s(whole);
    ASSERT_GT(pictures.size(), 10u);
    EXPECT_EQ(FrameMd5s(joined), pictures);
    EXPECT_EQ(Md5(joined, "-map 0:a -c copy"), Md5(whole, "-map 0:a -c copy"));
    bool clean = false;
    EXPECT_EQ(Sh("ffmpeg -v error -xerror -i '" + joined + "' -f null - 2>&1", &clean), "");
    EXPECT_TRUE(clean);
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, JoinedParts,
    ::testing::Values(
        Geometry{"threeJoins", "boxscatter --crf 0 --length 12f {a.mp4} {b.mp4} {long.mp4}", 3},
        Geometry{"fadesCarriedOn",
                 "boxscatter --crf 0 --length 10f --open boxrevealblack --close boxconcealwhite "
                 "{a.mp4} {still.png} --in 1 {long.mp4}",
                 5},
        Geometry{"editFile", "--edit {show.json} --crf 0", 4},
        Geometry{"emptyParts", "boxrevealwhite --crf 0 --length 40f {b.mp4}", 9},
        Geometry{"copiedRuns",
                 "boxscatter --crf 0 --copy-unchanged --length 20f {ca.mp4} {cb.mp4} {ca.mp4}", 4}),
    [](const auto& info) { return std::string(info.param.name); });

class LossyParts : public Parts, public ::testing::WithParamInterface<Geometry> {};

// At the default quality the parts' encoders reorder pictures each as their
// pictures ask (an empty part not at all): the join still gives every
// picture once, in order, decodable, with the whole render's sound.
TEST_P(LossyParts, JoinToEveryPictureInOrder) {
    const Geometry& g = GetParam();
    const std::string args = Paths(g.args) + " --seed 5";
    const std::string whole = P(std::string(g.name) + "-lossy-whole.mp4");
    const Result w = RunTavhost("render " + args + " --quiet -o " + whole);
    ASSERT_EQ(w.status, 0) << w.err;
    const std::vector<std::string> parts =
        RenderParts(args, g.parts, std::string(g.name) + "-lossy");
    const std::string joined = P(std::string(g.name) + "-lossy-joined.mp4");
    const Result j = Join(parts, joined);
    ASSERT_EQ(j.status, 0) << j.err;
    EXPECT_EQ(Frames(joined), Frames(whole));
    EXPECT_EQ(Md5(joined, "-map 0:a -c copy"), Md5(whole, "-map 0:a -c copy"));
    bool clean = false;
    EXPECT_EQ(Sh("ffmpeg -v error -xerror -i '" + joined + "' -f null - 2>&1", &clean), "");
    EXPECT_TRUE(clean);
    // Shown in order: presentation times rise one frame at a time.
    std::istringstream times(
        Sh("ffprobe -v error -select_streams v -show_entries frame=pts "
           "-of csv=p=0 '" +
           joined + "'"));
    std::vector<int64_t> pts;
    for (std::string line; std::getline(times, line);)
        if (!line.empty()) pts.push_back(std::atoll(line.c_str()));
    for (size_t k = 1; k < pts.size(); ++k) ASSERT_GT(pts[k], pts[k - 1]) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, LossyParts,
    ::testing::Values(Geometry{"emptyFirstParts", "boxrevealwhite --length 40f {b.mp4}", 9},
                      Geometry{"threeJoins", "boxscatter --length 12f {a.mp4} {b.mp4} {long.mp4}",
                               4},
                      Geometry{"emptyFirstPart", "boxrevealblack --length 30f {a.mp4}", 4}),
    [](const auto& info) { return std::string(info.param.name); });

// What cannot be joined: one line naming the part at fault, and no movie.
struct Refusal {
    const char* name;
    const char* parts;   // of render "r" (r-1 ... r-3), "o" (another render) or {file}
    const char* output;  // in the test's folder
    int status;
    const char* message;
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.name;
}

class JoinRefuses : public Parts, public ::testing::WithParamInterface<Refusal> {
  protected:
    static void SetUpTestSuite() {
        Parts::SetUpTestSuite();
        RenderParts(Paths("boxscatter --length 10f {a.mp4} {b.mp4}"), 3, "r");
        RenderParts(Paths("boxscatter --length 12f {a.mp4} {b.mp4}"), 3, "o");
        const Result whole =
            RunTavhost("render boxscatter --quiet " + Paths("{a.mp4} {b.mp4} -o {plain.mkv}"));
        ASSERT_EQ(whole.status, 0) << whole.err;
        // Another program's file carrying a part's tags.
        ASSERT_TRUE(FfmpegClip(P("forged.mkv"),
                               "-f lavfi -i testsrc2=s=160x96:d=1 -f lavfi -i sine=d=1 -c:v "
                               "libx264 -c:a aac -metadata TAV_PART=1/1 -metadata "
                               "TAV_FRAMES=0-25/25 -metadata TAV_RATE=25/1 -metadata TAV_PLAN=x"));
        // A named pipe, which cannot be read twice.
        ASSERT_EQ(mkfifo(P("pipe.mkv").c_str(), 0600), 0);
        // A part cut short, as by a full disk or a copy stopped half way.
        fs::copy_file(P("r-2.mkv"), P("short.mkv"));
        fs::resize_file(P("short.mkv"), fs::file_size(P("short.mkv")) / 2);
        // One byte changed inside a picture of a part, as by a bad disk.
        fs::copy_file(P("r-2.mkv"), P("damaged.mkv"));
        const std::string pos =
            Sh("ffprobe -v error -select_streams v -show_entries packet=pos "
               "-of csv=p=0 '" +
               P("r-2.mkv") + "' | sed -n 5p");
        ASSERT_GT(std::atoll(pos.c_str()), 0) << pos;
        {
            std::fstream f(P("damaged.mkv"), std::ios::in | std::ios::out | std::ios::binary);
            f.seekg(std::atoll(pos.c_str()) + 12);
            const char b = char(f.get() ^ 0x5A);
            f.seekp(std::atoll(pos.c_str()) + 12);
            f.put(b);
        }
        // The parts of a copying render carry the clips' AAC packets in
        // streams of their own: one of them dropped by a remux; and a part
        // remade by a remux that leaves out its seal.
        RenderParts(Paths("boxscatter --copy-unchanged --length 20f {ca.mp4} {cb.mp4} {ca.mp4}"), 2,
                    "c");
        for (const auto& [name, how] : {std::pair{"dropped.mkv", "-map 0 -map -0:3"},
                                        {"unsealed.mkv", "-map 0 -metadata TAV_SEAL="}}) {
            bool ok = false;
            const std::string out = Sh("ffmpeg -v error -y -i '" + P("c-1.mkv") + "' " + how +
                                           " -c copy '" + P(name) + "' 2>&1",
                                       &ok);
            ASSERT_TRUE(ok) << out;
        }
    }
};

TEST_P(JoinRefuses, WithOneLineAndNoMovie) {
    const Refusal& c = GetParam();
    const std::string out = P(c.output);
    auto bytes = [&out] {
        std::ifstream in(out, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const bool existed = fs::exists(out);
    const std::string before = existed && fs::is_regular_file(out) ? bytes() : "";
    // Bounded: a join that waited on the pipe would never end.
    const Result r = RunTavhost(std::string("join ") + Paths(c.parts) + " -o " + out, "timeout 60");
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    if (!existed) {
        EXPECT_FALSE(fs::exists(out));
    }
    if (!before.empty()) {
        EXPECT_EQ(bytes(), before) << "a part was overwritten";
    }
    EXPECT_FALSE(StagedIn(P("")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JoinRefuses,
    ::testing::Values(
        Refusal{"missing", "{r-1.mkv} {r-3.mkv}", "j.mp4", 1, "part 2 of 3 is missing"},
        Refusal{"twice", "{r-1.mkv} {r-2.mkv} {r-2.mkv} {r-3.mkv}", "j.mp4", 1,
                "part 2 of 3 is given twice"},
        Refusal{"anotherRender", "{r-1.mkv} {o-2.mkv} {r-3.mkv}", "j.mp4", 1,
                "o-2.mkv' is a part of another render than"},
        Refusal{"notAPart", "{r-1.mkv} {plain.mkv} {r-3.mkv}", "j.mp4", 1,
                "plain.mkv' is not a part of a render"},
        Refusal{"forged", "{forged.mkv}", "j.mp4", 1, "has the tags of a part but not its streams"},
        Refusal{"cutShort", "{r-1.mkv} {short.mkv} {r-3.mkv}", "j.mp4", 1, "short.mkv'"},
        Refusal{"damaged", "{r-1.mkv} {damaged.mkv} {r-3.mkv}", "j.mp4", 1,
                "damaged.mkv' is damaged"},
        Refusal{"clipTrackDropped", "{dropped.mkv} {c-2.mkv}", "j.mp4", 1,
                "dropped.mkv' is damaged"},
        Refusal{"unsealed", "{unsealed.mkv} {c-2.mkv}", "j.mp4", 1, "unsealed.mkv' has no seal"},
        Refusal{"noSuchPart", "{r-1.mkv} {nowhere.mkv} {r-3.mkv}", "j.mp4", 1,
                "cannot open part '"},
        Refusal{"aPipe", "{r-1.mkv} {pipe.mkv} {r-3.mkv}", "j.mp4", 1, "it is not a file"},
        Refusal{"webm", "{r-1.mkv} {r-2.mkv} {r-3.mkv}", "j.webm", 1,
                "name the movie .mp4, .mov or .mkv"},
        Refusal{"overAPart", "{r-1.mkv} {r-2.mkv} {r-3.mkv}", "r-3.mkv", 1, "r-3.mkv"},
        Refusal{"aFolder", "{r-1.mkv} {r-2.mkv} {r-3.mkv}", "", 1, "name the movie .mp4"}),
    [](const auto& info) { return std::string(info.param.name); });

// A part is a Matroska file (its sound kept exact) or PNG frames: a movie of
// another kind is refused before anything is rendered.
TEST_F(Parts, APartOfAnotherKindIsRefusedAtOnce) {
    for (const char* out : {"part.mp4", "part.webm", "part.mov"}) {
        const Result r = RunTavhost("render boxscatter " + Paths("{a.mp4} {b.mp4}") +
                                    " --part 1/2 -o " + P(out));
        EXPECT_EQ(r.status, 2) << out << ": " << r.err;
        EXPECT_NE(r.err.find("name it .mkv"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(P(out)));
    }
}

}  // namespace
}  // namespace tavtest

// tavhost end to end: clips made here, rendered by the program, read back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

#include "clip_reader.h"
#include "movie_writer.h"
#include "sequence_plan.h"
#include "support/clip_fixtures.h"

namespace fs = std::filesystem;
using tavhost::media::ClipReader;
using tavhost::media::Frame;
using tavhost::media::MovieWriter;

namespace tavtest {
namespace {

class Tavhost : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tavhost-e2e-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        MakeClip(A(), 90, 10, 440);
        MakeClip(B(), 90, 140, 0);
        MakeClip(C(), 40, 70, 440);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static std::string A() { return dir_ + "/a.mp4"; }
    static std::string B() { return dir_ + "/b.mp4"; }
    static std::string C() { return dir_ + "/c.mp4"; }
    static std::string Out(const std::string& name) { return dir_ + "/" + name; }

    // Renders through the program's own render function into a PNG folder.
    static std::vector<Frame> RenderPngs(tavhost::RenderJob job, const std::string& name,
                                         tavhost::RenderSummary* summary = nullptr) {
        job.output = Out(name);
        job.quiet = true;
        if (!job.transition.seed) job.transition.seed = 5;
        tavhost::RenderSummary local;
        tavhost::Error error;
        EXPECT_TRUE(tavhost::Render(job, summary ? summary : &local, &error)) << error.text;
        return ReadAll(PngFolder(job.output));
    }

    static inline std::string dir_;
};

TEST_F(Tavhost, ScatterOverlapsTheClips) {
    tavhost::RenderJob job;
    job.transition.bundle = "boxscatter";
    job.clips = {A(), B()};
    tavhost::RenderSummary summary;
    const std::vector<Frame> out = RenderPngs(job, "scatter", &summary);
    ASSERT_EQ(out.size(), 114u);  // 90 + 90 - 66
    EXPECT_EQ(summary.transitionFrames, 66);
    EXPECT_EQ(summary.transitionStart, 24);
    const std::vector<Frame> a = ReadAll(A()), b = ReadAll(B());
    EXPECT_EQ(out[0].pixels, a[0].pixels);
    EXPECT_EQ(out[23].pixels, a[23].pixels);
    EXPECT_EQ(out[24 + 65].pixels, b[65].pixels);  // last transition frame: the second clip
    EXPECT_EQ(out[113].pixels, b[89].pixels);
    // The first transition frame is mostly the first clip.
    size_t fromA = 0;
    for (size_t i = 0; i < out[24].pixels.size(); ++i)
        fromA += out[24].pixels[i] == a[24].pixels[i];
    EXPECT_GT(fromA, out[24].pixels.size() * 8 / 10);
}

TEST_F(Tavhost, RevealEndsOnTheClipAndConcealOnTheColour) {
    const std::vector<Frame> c = ReadAll(C());
    tavhost::RenderJob job;
    job.transition.speed = 0.25f;  // 38 frames
    job.clips = {C()};
    job.transition.bundle = "boxrevealwhite";
    std::vector<Frame> out = RenderPngs(job, "reveal");
    ASSERT_EQ(out.size(), 40u);
    for (uint32_t p : out[0].pixels) ASSERT_EQ(p, 0xFFFFFFFFu);
    EXPECT_EQ(out[37].pixels, c[37].pixels);
    EXPECT_EQ(out[39].pixels, c[39].pixels);

    job.transition.bundle = "boxconcealblack";
    out = RenderPngs(job, "conceal");
    ASSERT_EQ(out.size(), 40u);
    EXPECT_EQ(out[0].pixels, c[0].pixels);
    EXPECT_EQ(out[2].pixels, c[2].pixels);  // the transition covers frames 2 to 39
    EXPECT_EQ(out[2 + 0].pixels, c[2].pixels);
    for (uint32_t p : out[39].pixels) ASSERT_EQ(p, 0xFF000000u);
}

TEST_F(Tavhost, ShortClipShortensTheTransition) {
    tavhost::RenderJob job;
    job.transition.bundle = "boxscatter";
    job.transition.speed = 1.0f;  // 120 frames wanted, 40 available
    job.clips = {C(), A()};
    tavhost::RenderSummary summary;
    const std::vector<Frame> out = RenderPngs(job, "short", &summary);
    EXPECT_EQ(summary.transitionFrames, 40);
    EXPECT_EQ(out.size(), 90u);
    ASSERT_EQ(summary.warnings.size(), 1u);
    EXPECT_NE(summary.warnings[0].find("40 frames instead of 120"), std::string::npos);
}

TEST_F(Tavhost, VariantThatDrawsNothingLeavesACleanCut) {
    tavhost::RenderJob job;
    job.transition.bundle = "boxrevealwhite";
    job.transition.variant = 5;
    job.clips = {A(), B()};
    const std::vector<Frame> out = RenderPngs(job, "cut");
    ASSERT_EQ(out.size(), 180u);
    const std::vector<Frame> a = ReadAll(A()), b = ReadAll(B());
    for (int t : {0, 60, 89}) EXPECT_EQ(out[size_t(t)].pixels, a[size_t(t)].pixels) << t;
    for (int t : {90, 120, 179}) EXPECT_EQ(out[size_t(t)].pixels, b[size_t(t - 90)].pixels) << t;
}

TEST_F(Tavhost, SoundFollowsTheTransition) {
    tavhost::RenderJob job;
    job.quiet = true;
    job.transition.seed = 1;
    job.clips = {C()};
    tavhost::Error error;
    tavhost::RenderSummary summary;
    const double full = Rms(ReadAll(C()), 5, 35);
    ASSERT_GT(full, 0.1);

    job.transition.bundle = "boxrevealblack";  // 66 frames... of a 40-frame clip: all 40
    job.transition.speed = 0.0f;               // 10 frames
    job.output = Out("reveal.mp4");
    ASSERT_TRUE(tavhost::Render(job, &summary, &error)) << error.text;
    std::vector<Frame> out = ReadAll(job.output);
    ASSERT_EQ(out.size(), 40u);
    EXPECT_LT(Rms(out[0]), 0.15 * full);                   // rises from silence
    EXPECT_NEAR(Rms(out, 4, 6), 0.5 * full, 0.15 * full);  // half way up
    EXPECT_NEAR(Rms(out, 15, 35), full, 0.1 * full);       // then the clip's own level

    job.transition.bundle = "boxconcealwhite";
    job.output = Out("conceal.mp4");
    ASSERT_TRUE(tavhost::Render(job, &summary, &error)) << error.text;
    out = ReadAll(job.output);
    ASSERT_EQ(out.size(), 40u);
    EXPECT_NEAR(Rms(out, 5, 25), full, 0.1 * full);
    EXPECT_NEAR(Rms(out, 34, 36), 0.5 * full, 0.15 * full);  // falling
    EXPECT_LT(Rms(out[39]), 0.15 * full);                    // to silence

    // Scatter: the first clip's sound falls with the progress (the second is silent).
    job.transition.bundle = "boxscatter";
    job.transition.speed = 0.5f;
    job.clips = {A(), B()};
    job.output = Out("scatter.mp4");
    ASSERT_TRUE(tavhost::Render(job, &summary, &error)) << error.text;
    out = ReadAll(job.output);
    ASSERT_EQ(out.size(), 114u);
    EXPECT_NEAR(Rms(out, 2, 20), full, 0.1 * full);
    EXPECT_NEAR(Rms(out, 24 + 14, 24 + 19), 0.75 * full, 0.12 * full);
    EXPECT_NEAR(Rms(out, 24 + 47, 24 + 52), 0.25 * full, 0.1 * full);
    EXPECT_LT(Rms(out, 95, 110), 0.05 * full);
}

TEST_F(Tavhost, MovieContainersByExtension) {
    for (const char* ext : {".mp4", ".mov", ".mkv"}) {
        tavhost::RenderJob job;
        job.transition.bundle = "boxconcealwhite";
        job.transition.speed = 0.0f;
        job.preview = true;
        job.quiet = true;
        job.clips = {C()};
        job.output = Out(std::string("container") + ext);
        tavhost::RenderSummary summary;
        tavhost::Error error;
        ASSERT_TRUE(tavhost::Render(job, &summary, &error)) << ext << ": " << error.text;
        tavhost::media::ClipInfo info;
        ASSERT_TRUE(tavhost::media::Probe(job.output, &info, &error.text)) << error.text;
        EXPECT_EQ(info.frames, 40) << ext;
        EXPECT_EQ(info.fps.num, 30 * info.fps.den) << ext;
        EXPECT_TRUE(info.hasAudio) << ext;
        EXPECT_FALSE(StagedBeside(job.output));
        // Preview mixes no sound: the clip's own sound plays, faded out at the end.
        const std::vector<Frame> out = ReadAll(job.output);
        ASSERT_EQ(out.size(), 40u);
        EXPECT_GT(Rms(out, 5, 25), 0.1);
        EXPECT_LT(Rms(out[39]), 0.05);
    }
}

TEST_F(Tavhost, SeedRepeatsTheRenderExactly) {
    const std::string clips = A() + " " + B();
    for (const char* name : {"s1", "s2"})
        ASSERT_EQ(RunTavhost("render boxscatter --variant 2 --seed 77 --quiet " + clips + " -o " +
                             Out(name))
                      .status,
                  0);
    ASSERT_EQ(
        RunTavhost("render boxscatter --variant 2 --seed 78 --quiet " + clips + " -o " + Out("s3"))
            .status,
        0);
    int same = 0, differ = 0;
    for (int i = 24; i < 90; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame%04d.png", i);
        auto bytes = [&](const std::string& d) {
            std::ifstream in(Out(d) + name, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        const std::string one = bytes("s1");
        ASSERT_FALSE(one.empty());
        same += one == bytes("s2");
        differ += one != bytes("s3");
    }
    EXPECT_EQ(same, 66);
    EXPECT_GT(differ, 60);
}

// A second of 16-bit mono silence: a file FFmpeg reads that has no picture.
void WriteWav(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = 48000 * 2;
    out << "RIFF";
    u32(36 + bytes);
    out << "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(48000);
    u32(48000 * 2);
    u16(2);
    u16(16);
    out << "data";
    u32(bytes);
    out << std::string(bytes, '\0');
}

struct BadCase {
    std::string name;
    std::string args;  // {A} {B} {OUT} {FAIL} are replaced
    std::string message;
};

void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

class BadInput : public Tavhost, public ::testing::WithParamInterface<BadCase> {};

TEST_P(BadInput, OneLineNonZeroAndNoOutput) {
    std::string args = GetParam().args;
    const std::string out = Out("bad-" + GetParam().name + ".mp4");
    fs::remove(out);
    auto replace = [&](const std::string& key, const std::string& value) {
        for (size_t at; (at = args.find(key)) != std::string::npos;)
            args.replace(at, key.size(), value);
    };
    replace("{A}", A());
    replace("{B}", B());
    replace("{OUT}", out);
    replace("{FAIL}", FAILING_BUNDLE_PATH);
    replace("{NOMAIN}", TAVDRAW_PATH);
    replace("{NOVIDEO}", Out("tone.wav"));
    if (GetParam().name == "novideo") WriteWav(Out("tone.wav"));
    const Result run = RunTavhost(args);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(StagedBeside(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInput,
    ::testing::Values(
        BadCase{"missing", "render boxscatter {A} /no/such.mp4 -o {OUT}", "cannot open clip"},
        BadCase{"novideo", "render boxrevealwhite {NOVIDEO} -o {OUT}", "tone.wav"},
        BadCase{"bundle", "render boxnothing {A} -o {OUT}", "unknown bundle 'boxnothing'"},
        BadCase{"nomain", "render {NOMAIN} {A} -o {OUT}", "no entry point 'main'"},
        BadCase{"variant", "render boxscatter --variant 5 {A} {B} -o {OUT}", "no variant 5"},
        BadCase{"unwritable", "render boxscatter {A} {B} -o /proc/nowhere/x.mp4", "cannot write"},
        BadCase{"format", "render boxscatter {A} {B} -o {OUT}.avi", "use a .mp4"},
        BadCase{"clips", "render boxrevealwhite {A} {B} -o {OUT}", "give one clip"},
        BadCase{"failing", "render {FAIL} {A} {B} -o {OUT}", "kPluginCantGetNeededFrame"}),
    [](const auto& info) { return info.param.name; });

TEST_F(Tavhost, InterruptLeavesNoOutput) {
    const std::string big = Out("big.mp4");
    MakeClip(big, 400, 30, 440, 640, 360);
    const std::string out = Out("interrupted.mp4");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        execl(TAVHOST_PATH, "tavhost", "render", "boxconcealwhite", "--speed", "1", "--quiet",
              big.c_str(), "-o", out.c_str(), nullptr);
        _exit(127);
    }
    // Wait until the partial file exists, then interrupt.
    for (int i = 0; i < 400 && !StagedBeside(out); ++i) usleep(10000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 0) GTEST_SKIP() << "the render finished before the interrupt";
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(StagedBeside(out));
}

TEST_F(Tavhost, ListAndPlaceholder) {
    const Result list = RunTavhost("list --speed 0");
    EXPECT_EQ(list.status, 0) << list.err;
    const std::string png = Out("placeholder.png");
    const Result ph = RunTavhost(
        "placeholder boxconcealblack --size 320x200 --caption 'Rendu en cours…' -o " + png);
    EXPECT_EQ(ph.status, 0) << ph.err;
    const std::vector<Frame> frames = ReadAll(png, 320, 200);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].pixels[0], 0xFF2F2F2Fu);
    EXPECT_NE(std::count(frames[0].pixels.begin(), frames[0].pixels.end(), 0xFFFFFFFFu), 0);
}

}  // namespace
}  // namespace tavtest

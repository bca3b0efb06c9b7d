// The frei0r plug-ins in real editors' engines: melt (MLT, as Kdenlive uses
// it) mixes two clips with boxscatter and opens a clip with a reveal;
// GStreamer runs the filter and the mixer in a pipeline.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "support/clip_fixtures.h"

namespace fs = std::filesystem;
using tavhost::media::Frame;

namespace tavtest {
namespace {

constexpr int kW2 = 160, kH2 = 96;

bool Shell(const std::string& cmd) {
    const std::string env = std::string("FREI0R_PATH=") + TAV_FREI0R_DIR +
                            " GST_REGISTRY=" + fs::temp_directory_path().string() +
                            "/tav-gst-registry-" + std::to_string(getpid()) + ".bin ";
    return std::system((env + cmd + " >/dev/null 2>&1").c_str()) == 0;
}

// Mean difference per channel between two frames.
double Difference(const Frame& a, const Frame& b) {
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        for (int shift = 0; shift <= 16; shift += 8)
            sum +=
                std::abs(int((a.pixels[i] >> shift) & 0xFF) - int((b.pixels[i] >> shift) & 0xFF));
    return sum / double(a.pixels.size() * 3);
}

// Share of pixels close to `colour` (0xRRGGBB).
double Share(const Frame& f, uint32_t colour) {
    size_t n = 0;
    for (uint32_t p : f.pixels) {
        int d = 0;
        for (int shift = 0; shift <= 16; shift += 8)
            d += std::abs(int((p >> shift) & 0xFF) - int((colour >> shift) & 0xFF));
        n += d < 60;
    }
    return double(n) / double(f.pixels.size());
}

// A 4 s 640x360 H.264 clip at 25 fps from a lavfi source, as an editor's
// user would have.
bool EditorClip(const std::string& source, const std::string& path) {
    const char sep = source.find('=') == std::string::npos ? '=' : ':';
    return Shell("ffmpeg -v error -y -f lavfi -i " + source + sep +
                 "s=640x360:r=25:d=4 -c:v libx264 -pix_fmt yuv420p " + path);
}

// An editor's project rendered through melt (frames `range`) as FFV1, read back.
std::vector<Frame> MeltRender(const std::string& project, const std::string& range) {
    const std::string out = project + ".mkv";
    if (!Shell("melt -quiet " + project + range + " -consumer avformat:" + out +
               " vcodec=ffv1 an=1 real_time=-1"))
        return {};
    return ReadAll(out, 640, 360);
}

// A share of the picture within 0.15 of `half`.
void ExpectAbout(double share, double half) {
    EXPECT_GT(share, half - 0.15);
    EXPECT_LT(share, half + 0.15);
}

class Editors : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tav-editors-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        ASSERT_TRUE(
            Shell("ffmpeg -v error -y -f lavfi -i testsrc2=s=160x96:r=25:d=2 -c:v ffv1 " + A()));
        ASSERT_TRUE(
            Shell("ffmpeg -v error -y -f lavfi -i color=blue:s=160x96:r=25:d=2 -c:v ffv1 " + B()));
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string A() { return dir_ + "/a.mkv"; }
    static std::string B() { return dir_ + "/b.mkv"; }
    static inline std::string dir_;
};

TEST_F(Editors, MeltMixesTwoClipsWithBoxscatter) {
    const std::string out = dir_ + "/mix.mkv";
    ASSERT_TRUE(
        Shell("melt -quiet " + A() + " out=49 " + B() +
              " -mix 25 -mixer frei0r.boxscatter progress=\"0=0;-1=1\" -consumer avformat:" + out +
              " vcodec=ffv1 an=1 real_time=-1"));
    const std::vector<Frame> mix = ReadAll(out, kW2, kH2), a = ReadAll(A(), kW2, kH2),
                             b = ReadAll(B(), kW2, kH2);
    ASSERT_EQ(mix.size(), 75u);  // 50 + 50 frames overlapping by 25
    EXPECT_LT(Difference(mix[10], a[10]), 6.0);
    EXPECT_LT(Difference(mix[25], a[25]), 6.0);  // progress 0: the first clip
    EXPECT_LT(Difference(mix[49], b[24]), 6.0);  // progress 1: the second clip
    // In between, boxes of both.
    const double blue = Share(mix[37], 0x0000FF);
    EXPECT_GT(blue, 0.25);
    EXPECT_LT(blue, 0.85);
    EXPECT_LT(Difference(mix[60], b[35]), 6.0);
}

TEST_F(Editors, MeltOpensAClipWithARevealFromBlack) {
    const std::string out = dir_ + "/reveal.mkv";
    ASSERT_TRUE(Shell(
        "melt -quiet " + A() + " out=49 -attach-cut frei0r.boxrevealblack in=0 out=24 " +
        "progress=\"0=0;-1=1\" -consumer avformat:" + out + " vcodec=ffv1 an=1 real_time=-1"));
    const std::vector<Frame> rev = ReadAll(out, kW2, kH2), a = ReadAll(A(), kW2, kH2);
    ASSERT_EQ(rev.size(), 50u);
    EXPECT_GT(Share(rev[0], 0x000000), 0.99);  // progress 0: all black
    const double black = Share(rev[12], 0x000000);
    EXPECT_GT(black, 0.2);
    EXPECT_LT(black, 0.8);
    EXPECT_LT(Difference(rev[24], a[24]), 6.0);  // progress 1: the clip
    EXPECT_LT(Difference(rev[40], a[40]), 6.0);  // after the effect: untouched
}

// Plug-in folders that cannot be read (a symbolic-link loop, a name too long
// for the file system) are passed over while the editors scan their plug-ins:
// nothing thrown reaches melt or GStreamer, and the plug-ins still work.
TEST_F(Editors, UnreadablePluginFoldersNeverCrashTheEditor) {
    const std::string loop = dir_ + "/loop";
    fs::remove(loop);
    fs::create_symlink(loop, loop);
    const std::string env =
        "TAV_PLUGIN_PATH=" + loop + ":" + dir_ + "/" + std::string(300, 'n') + ":" + loop + "/x ";
    EXPECT_TRUE(Shell(env + "melt -query filters"));
    EXPECT_TRUE(Shell(env + "gst-inspect-1.0 frei0r-filter-boxrevealblack"));
    const std::string out = dir_ + "/loop-reveal.mkv";
    ASSERT_TRUE(Shell(env + "melt -quiet " + A() +
                      " out=24 -attach-cut frei0r.boxrevealblack progress=0.5 -consumer avformat:" +
                      out + " vcodec=ffv1 an=1 real_time=-1"));
    const std::vector<Frame> rev = ReadAll(out, kW2, kH2);
    ASSERT_EQ(rev.size(), 25u);
    const double black = Share(rev[12], 0x000000);
    EXPECT_GT(black, 0.2);
    EXPECT_LT(black, 0.8);
}

// A project as Kdenlive 22.12 saved it, made with the descriptions' defaults
// and no keyframes: clip A on V1 from frame 10 with Box Reveal from Black
// over its first 76 frames; clip B (blue) on V2 from frame 73; Box Scatter on
// V2 from frame 98 to 172. Rendered by melt, the reveal runs its whole length
// and the composition starts on clip A and brings in B's boxes. (Kdenlive's
// projects hold a long black track; the render stops where Kdenlive's would.)
TEST_F(Editors, AKdenliveProjectRendersTheTransitionsOverTheirLength) {
    const std::string a = dir_ + "/kA.mp4", b = dir_ + "/kB.mp4";
    ASSERT_TRUE(EditorClip("testsrc2", a));
    ASSERT_TRUE(EditorClip("color=c=0x2040ff", b));
    std::ifstream in(TAV_PROJECTS_DIR "/kdenlive-22.12-scatter-and-reveal.kdenlive");
    ASSERT_TRUE(in);
    std::stringstream text;
    text << in.rdbuf();
    std::string project = text.str();
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"/tmp/kA.mp4", a},
                                   {"/tmp/kB.mp4", b},
                                   {"root=\"/tmp/kdproj\"", "root=\"" + dir_ + "\""}})
        for (size_t at = project.find(from); at != std::string::npos; at = project.find(from, at))
            project.replace(at, from.size(), to), at += to.size();
    const std::string file = dir_ + "/project.kdenlive";
    std::ofstream(file) << project;
    const std::vector<Frame> movie = MeltRender(file, " out=179"), clipA = ReadAll(a, 640, 360);
    ASSERT_EQ(movie.size(), 180u);
    EXPECT_GT(Share(movie[10], 0x000000), 0.99);  // the reveal at progress 0
    ExpectAbout(Share(movie[48], 0x000000), 0.5);
    EXPECT_LT(Share(movie[84], 0x000000), 0.1);        // all but revealed at its end
    EXPECT_GT(Share(movie[97], 0x2040FF), 0.99);       // clip B on top, before the composition
    EXPECT_LT(Difference(movie[98], clipA[88]), 6.0);  // the composition at progress 0
    const double boxes = Share(movie[105], 0x2040FF);
    EXPECT_GT(boxes, 0.02);
    EXPECT_LT(boxes, 0.3);
}

// A project saved by Shotcut 22.12 with its own defaults: Box Reveal from
// Black and Box Conceal to White added to one 4 s clip, nothing else
// changed. The clip is named relative to the project, as Shotcut writes it.
TEST_F(Editors, AShotcutProjectRevealsAndConcealsOverTheirDurations) {
    const std::string folder = dir_ + "/shotcut", clip = folder + "/clip.mp4";
    fs::create_directories(folder);
    ASSERT_TRUE(EditorClip("testsrc2", clip));
    const std::string project = folder + "/project.mlt";
    fs::copy_file(TAV_PROJECTS_DIR "/shotcut-22.12-reveal-and-conceal.mlt", project);
    const std::vector<Frame> movie = MeltRender(project, ""), source = ReadAll(clip, 640, 360);
    ASSERT_EQ(movie.size(), 100u);
    EXPECT_GT(Share(movie[0], 0x000000), 0.99);  // the reveal at progress 0
    ExpectAbout(Share(movie[12], 0x000000), 0.5);
    EXPECT_LT(Difference(movie[50], source[50]), 6.0);  // between the two: the clip
    ExpectAbout(Share(movie[87], 0xFFFFFF), 0.5);
    EXPECT_GT(Share(movie[99], 0xFFFFFF), 0.99);  // the conceal complete on the last frame
}

// Half-open by boxes at progress 0.5: the reveal's bundle really drew.
void ExpectHalfRevealed(const std::string& movie, int frames) {
    const std::vector<Frame> rev = ReadAll(movie, kW2, kH2);
    ASSERT_EQ(rev.size(), size_t(frames));
    const double black = Share(rev[frames / 2], 0x000000);
    EXPECT_GT(black, 0.2) << movie;
    EXPECT_LT(black, 0.8) << movie;
}

// A one-user install is often a link: ~/.frei0r-1/lib to an installed
// plug-in folder, or links to the plug-ins themselves. Each finds the
// bundles installed with the real plug-in.
TEST_F(Editors, PluginsReachedThroughLinksFindTheirBundles) {
    const std::string folderLink = dir_ + "/home/.frei0r-1/lib", fileLinks = dir_ + "/links";
    fs::create_directories(fs::path(folderLink).parent_path());
    fs::create_directories(fileLinks);
    fs::create_directory_symlink(TAV_FREI0R_DIR, folderLink);
    fs::create_symlink(std::string(TAV_FREI0R_DIR) + "/boxrevealblack.so",
                       fileLinks + "/boxrevealblack.so");
    for (const std::string& folder : {folderLink, fileLinks}) {
        const std::string out = folder + "-reveal.mkv";
        ASSERT_TRUE(Shell("env -u TAV_PLUGIN_PATH FREI0R_PATH=" + folder + " melt -quiet " + A() +
                          " out=24 -attach-cut frei0r.boxrevealblack progress=0.5 "
                          "-consumer avformat:" +
                          out + " vcodec=ffv1 an=1 real_time=-1"));
        ExpectHalfRevealed(out, 25);
    }
}

// A plug-in copied away from its bundles is listed, but an effect made with
// it says once why it is left out, naming where it looked.
TEST_F(Editors, APluginWithoutItsBundleSaysSoOnce) {
    const std::string lone = dir_ + "/lone", log = dir_ + "/lone.log";
    fs::create_directories(lone);
    fs::copy_file(std::string(TAV_FREI0R_DIR) + "/boxrevealblack.so", lone + "/boxrevealblack.so");
    const std::string out = dir_ + "/lone.mkv";
    std::system(("env -u TAV_PLUGIN_PATH FREI0R_PATH=" + lone + " melt -quiet " + A() +
                 " out=24 -attach-cut frei0r.boxrevealblack progress=0.5 -attach-cut "
                 "frei0r.boxrevealblack progress=0.2 -consumer avformat:" +
                 out + " vcodec=ffv1 an=1 real_time=-1 >/dev/null 2>" + log)
                    .c_str());
    std::ifstream in(log);
    std::string line;
    int said = 0;
    while (std::getline(in, line))
        if (line.find("frei0r plug-in boxrevealblack is left out: no boxrevealblack.so in '" +
                      dir_ + "/tav/bundles'") == 0)
            ++said;
    EXPECT_EQ(said, 1);
}

TEST_F(Editors, GStreamerRunsTheFilterAndTheMixer) {
    const std::string filtered = dir_ + "/gst-filter";
    const std::string mixed = dir_ + "/gst-mix";
    fs::create_directories(filtered);
    fs::create_directories(mixed);
    const std::string caps = "video/x-raw,format=RGBA,width=160,height=96";
    ASSERT_TRUE(
        Shell("gst-launch-1.0 -q videotestsrc num-buffers=3 pattern=smpte ! " + caps +
              " ! frei0r-filter-boxconcealwhite progress=0.5 box-size=0.33 ! videoconvert ! "
              "pngenc ! multifilesink location=" +
              filtered + "/frame%04d.png"));
    ASSERT_TRUE(Shell("gst-launch-1.0 -q videotestsrc num-buffers=3 pattern=smpte ! " + caps +
                      " ! mix.sink_0 videotestsrc num-buffers=3 pattern=blue ! " + caps +
                      " ! mix.sink_1 frei0r-mixer-boxscatter name=mix progress=1 ! videoconvert ! "
                      "pngenc ! multifilesink location=" +
                      mixed + "/frame%04d.png"));
    const std::vector<Frame> f = ReadAll(PngFolder(filtered), kW2, kH2);
    const std::vector<Frame> m = ReadAll(PngFolder(mixed), kW2, kH2);
    ASSERT_EQ(f.size(), 3u);
    ASSERT_EQ(m.size(), 3u);
    const double white = Share(f[1], 0xFFFFFF);
    EXPECT_GT(white, 0.2);
    EXPECT_LT(white, 0.8);
    EXPECT_GT(Share(m[1], 0x0000FF), 0.99);  // progress 1: the second input
}

}  // namespace
}  // namespace tavtest

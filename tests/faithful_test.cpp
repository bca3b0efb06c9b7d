// tavhost on the clips people have, made here by the ffmpeg program: every
// frame kept at every rate and container, the colours of tagged and untagged
// clips, rotation, pixel aspect and odd sizes, outputs that would destroy an
// input, damaged files, and what is said about each.
#include "support/faithful.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/clip_fixtures.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

// Where a stream starts and ends: its first packet's time and the end of its
// last (a packet with no duration lasts as long as the one before it).
struct Span {
    double start = 1e9, end = 0;
    double Length() const { return end - start; }
};

Span StreamSpan(const std::string& path, const std::string& stream) {
    const std::string out =
        Sh("ffprobe -v error -select_streams " + stream +
           " -show_entries packet=pts_time,duration_time -of csv=p=0 '" + path + "'");
    Span span;
    double step = 0;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const size_t comma = line.find(',');
        if (line.empty()) continue;
        const double pts = std::atof(line.c_str());
        const double duration = comma != std::string::npos && line.compare(comma + 1, 3, "N/A") != 0
                                    ? std::atof(line.c_str() + comma + 1)
                                    : 0;
        if (duration > 0) step = duration;
        span.start = std::min(span.start, pts);
        span.end = std::max(span.end, pts + (duration > 0 ? duration : step));
    }
    return span;
}

// Luma PSNR of the first `frames` frames of `a` against `b` (after `filter` on b).
double Psnr(const std::string& a, const std::string& b, int frames = 5,
            const std::string& filter = "null", const std::string& aFilter = "null") {
    const std::string out =
        Sh("ffmpeg -hide_banner -nostats -i '" + a + "' -i '" + b + "' -lavfi \"[0:v]" + aFilter +
           ",trim=end_frame=" + std::to_string(frames) + ",setpts=PTS-STARTPTS[x];[1:v]" + filter +
           ",trim=end_frame=" + std::to_string(frames) +
           ",setpts=PTS-STARTPTS[y];[x][y]psnr\" -f null - 2>&1");
    const size_t at = out.find("PSNR y:");
    if (at != std::string::npos) return std::atof(out.c_str() + at + 7);
    const size_t rgb = out.find("average:");
    return rgb == std::string::npos ? -1 : std::atof(out.c_str() + rgb + 8);
}

// --- Timing: every frame decodable, in every container and at every rate. ---

struct RateCase {
    const char* name;
    const char* rate;
    const char* ext;
};

void PrintTo(const RateCase& c, std::ostream* os) {
    *os << c.name;
}

class Timing : public Faithful, public ::testing::WithParamInterface<RateCase> {};

TEST_P(Timing, EveryFrameAndTheSoundToTheEnd) {
    const RateCase& c = GetParam();
    const std::string src =
        Make(std::string("t_") + c.name + ".mp4",
             "-f lavfi -i testsrc2=s=160x96:r=" + std::string(c.rate) +
                 ":d=1.5 -f lavfi -i sine=d=1.5 -c:v libx264 -preset ultrafast -c:a aac -shortest");
    const std::string out = P(std::string("t_") + c.name + "_out." + c.ext);
    // The encoder is not what this tests: its fastest preset.
    const Result run = Render("boxconcealblack --speed 0 --preset ultrafast " + src + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Frames(out), Frames(src));
    EXPECT_NEAR(StreamSpan(out, "v").Length(), StreamSpan(src, "v").Length(), 0.002);
    // Video and sound end within one audio frame of each other.
    EXPECT_NEAR(StreamSpan(out, "a").end, StreamSpan(out, "v").end, 1024.0 / 48000 + 0.002);
    bool ok = false;
    Sh("ffmpeg -v error -xerror -i '" + out + "' -f null - 2>&1", &ok);
    EXPECT_TRUE(ok);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, Timing,
    ::testing::Values(RateCase{"10mp4", "10", "mp4"}, RateCase{"20mov", "20", "mov"},
                      RateCase{"25mp4", "25", "mp4"}, RateCase{"25mov", "25", "mov"},
                      RateCase{"25mkv", "25", "mkv"}, RateCase{"50mp4", "50", "mp4"},
                      RateCase{"ntscfilm", "24000/1001", "mp4"},
                      RateCase{"ntsc", "30000/1001", "mov"}, RateCase{"30webm", "30", "webm"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Faithful, OneAndTwoFrameClipsAndStills) {
    for (const int n : {1, 2}) {
        const std::string src = Make("few" + std::to_string(n) + ".mp4",
                                     "-f lavfi -i testsrc2=s=160x96:r=25 -frames:v " +
                                         std::to_string(n) + " -c:v libx264 -preset ultrafast");
        const std::string out = P("few" + std::to_string(n) + "_out.mp4");
        const Result run = Render("boxrevealwhite " + src + " -o " + out);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Frames(out), n);
    }
    const std::string still = Make("still.png", "-f lavfi -i testsrc2=s=160x96 -frames:v 1");
    const std::string out = P("still_out.mp4");
    const Result run = Render("boxrevealblack --still-duration 2 " + still + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Frames(out), 50);  // 2 s at the image's 25 frames a second
}

// Clips whose pictures come at irregular times: dropped frames, a screen
// recording that sends a picture only when the screen changes, a GIF with
// frame delays of its own.
struct VfrCase {
    const char* name;
    const char* make;  // the ffmpeg arguments
    const char* ext;
    bool sound;
};

void PrintTo(const VfrCase& c, std::ostream* os) {
    *os << c.name;
}

class VariableRate : public Faithful, public ::testing::WithParamInterface<VfrCase> {};

// A gap between pictures is a still moment, not damage: the render is
// whole, says nothing, --strict takes it, and it keeps its length and sync.
TEST_P(VariableRate, KeepsItsLengthAndSyncAndIsNotDamage) {
    const VfrCase& c = GetParam();
    const std::string src = Make(std::string("vfr_") + c.name + "." + c.ext, c.make);
    const std::string out = P(std::string("vfr_") + c.name + "_out.mp4");
    // The encoder is not what this tests: its fastest preset.
    const Result run =
        Render("boxconcealblack --speed 0 --strict --preset ultrafast " + src + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const double frame = 1.0 / std::atof(Probe(out, "v", "avg_frame_rate").c_str());
    EXPECT_NEAR(StreamSpan(out, "v").Length(), StreamSpan(src, "v").Length(), frame + 0.002);
    if (c.sound) {
        EXPECT_NEAR(StreamSpan(out, "a").end, StreamSpan(out, "v").end, 1024.0 / 48000 + 0.002);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clips, VariableRate,
    ::testing::Values(
        // Every sixth frame dropped: 100 pictures over 4 s.
        VfrCase{"dropped",
                "-f lavfi -i testsrc2=s=160x96:r=30:d=4 -f lavfi -i sine=d=4 -vf "
                "\"select='not(eq(mod(n\\,6)\\,5))'\" -fps_mode vfr -c:v libx264 -preset "
                "ultrafast -c:a aac -shortest",
                "mp4", true},
        // Half a second of pictures at 60 fps, then one picture held 333 ms.
        VfrCase{"screen",
                "-f lavfi -i testsrc2=s=160x96:r=60:d=4 -f lavfi -i sine=d=4 -vf "
                "\"select='lt(mod(n\\,60)\\,30)+eq(mod(n\\,60)\\,40)'\" -fps_mode vfr "
                "-c:v libx264 -preset ultrafast -c:a aac -shortest",
                "mkv", true},
        VfrCase{"screenSilent",
                "-f lavfi -i testsrc2=s=160x96:r=60:d=3 -vf "
                "\"select='lt(mod(n\\,30)\\,10)'\" -fps_mode vfr -c:v libx264 -preset "
                "ultrafast",
                "mkv", false},
        // Frames of 50 ms and of 550 ms.
        VfrCase{"gif",
                "-f lavfi -i testsrc2=s=160x96:r=20:d=4 -vf "
                "\"select='not(between(mod(n\\,20)\\,5\\,14))'\" -fps_mode vfr",
                "gif", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Faithful, InterlacedClipsAreDeinterlaced) {
    const std::string src = Make("inter.mpg",
                                 "-f lavfi -i testsrc2=s=320x240:r=50:d=1 -vf "
                                 "tinterlace=4,setfield=tff -flags +ilme+ildct -top 1 -c:v "
                                 "mpeg2video -q:v 2");
    const std::string out = P("inter_out.mp4");
    ASSERT_EQ(Render("boxconcealblack --speed 0 " + src + " -o " + out).status, 0);
    // The frames outside the transition are what ffmpeg's own deinterlacer
    // makes of the clip, not its combed fields.
    const double deinterlaced = Psnr(out, src, 12, "bwdif=mode=send_frame:deint=interlaced");
    const double combed = Psnr(out, src, 12);
    EXPECT_GE(deinterlaced, 38.0);
    EXPECT_GE(deinterlaced, combed + 5.0);
}

TEST_F(Faithful, SoundKeepsTheFirstClipsLayoutAndRate) {
    struct {
        const char* name;
        const char* audio;
        const char* expected;  // rate, channels, layout
    } const cases[] = {
        {"mono44", "-f lavfi -i sine=d=1.2:r=44100 -ac 1", "44100,1,mono"},
        {"surround",
         "-f lavfi -i sine=d=1.2:r=48000 -af 'pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0'",
         "48000,6,5.1"},
        {"odd rate", "-f lavfi -i sine=d=1.2:r=11000 -ac 2", "48000,2,stereo"},
    };
    for (const auto& c : cases) {
        const std::string src =
            Make(std::string("snd_") + c.name + ".mkv",
                 "-f lavfi -i testsrc2=s=160x96:r=25:d=1.2 " + std::string(c.audio) +
                     " -c:v libx264 -preset ultrafast -c:a pcm_s16le -shortest");
        const std::string out = P(std::string("snd_") + c.name + "_out.mp4");
        const Result run = Render("boxconcealwhite --speed 0 '" + src + "' -o '" + out + "'");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Probe(out, "a", "sample_rate,channels,channel_layout"), c.expected) << c.name;
        EXPECT_NEAR(StreamSpan(out, "a").end, StreamSpan(out, "v").end, 1024.0 / 44100 + 0.002)
            << c.name;
    }
}

// Share of a movie's pictures FFmpeg's idet filter finds interlaced.
double InterlacedShare(const std::string& path) {
    const std::string out =
        Sh("ffmpeg -hide_banner -nostats -i '" + path + "' -vf idet -f null - 2>&1");
    const size_t at = out.find("Multi frame detection:");
    if (at == std::string::npos) return -1;
    int tff = 0, bff = 0, progressive = 0;
    std::sscanf(out.c_str() + at, "Multi frame detection: TFF: %d BFF: %d Progressive: %d", &tff,
                &bff, &progressive);
    const int all = tff + bff + progressive;
    return all > 0 ? double(tff + bff) / all : -1;
}

struct InterlaceCase {
    const char* name;
    const char* make;
    const char* ext;
};

void PrintTo(const InterlaceCase& c, std::ostream* os) {
    *os << c.name;
}

class InterlacedClips : public Faithful, public ::testing::WithParamInterface<InterlaceCase> {};

// Interlaced pictures in a container that does not say so (DV's; a MOV
// without a fiel atom) are deinterlaced by the decoder's own flags.
TEST_P(InterlacedClips, AreDeinterlacedWhenTheStreamDoesNotSay) {
    const InterlaceCase& c = GetParam();
    const std::string src = Make(std::string("il_") + c.name + "." + c.ext, c.make);
    ASSERT_EQ(Probe(src, "v", "field_order"), "unknown");
    ASSERT_GT(InterlacedShare(src), 0.8);
    const std::string out = P(std::string("il_") + c.name + "_out.mp4");
    // The encoder is not what this tests: its fastest preset.
    const Result run =
        Render("boxrevealblack --length 2f --preset ultrafast " + src + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_LT(InterlacedShare(out), 0.2);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, InterlacedClips,
    ::testing::Values(InterlaceCase{"dv",
                                    "-f lavfi -i testsrc2=s=720x576:r=50:d=2 -vf "
                                    "tinterlace=mode=interleave_bottom,setfield=bff "
                                    "-target pal-dv -an",
                                    "dv"},
                      InterlaceCase{"dnxhd",
                                    "-f lavfi -i testsrc2=s=1920x1080:r=50:d=1 -vf "
                                    "tinterlace=mode=interleave_top,setfield=tff,format=yuv422p "
                                    "-c:v dnxhd -b:v 120M -flags +ildct -an",
                                    "mov"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Colour: each clip read with its own matrix and range, the output tagged. ---

struct ColourCase {
    const char* name;
    const char* size;
    const char* make;  // video filter and output options
    const char* ext;
    const char* tags;  // the output's range, matrix, transfer, primaries
    const char* rgb;   // how ffmpeg turns the source into RGB for the PNG comparison
};

void PrintTo(const ColourCase& c, std::ostream* os) {
    *os << c.name;
}

class Colour : public Faithful, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(Colour, FramesOutsideTheTransitionMatchTheirSource) {
    const ColourCase& c = GetParam();
    const std::string src =
        Make(std::string("c_") + c.name + "." + c.ext,
             "-f lavfi -i smptebars=s=" + std::string(c.size) + ":r=25:d=1 " + c.make);
    const std::string out = P(std::string("c_") + c.name + "_out.mp4");
    // The encoder is not what this tests: its fastest preset.
    const Result run = Render("boxconcealblack --speed 0 --preset ultrafast " + src + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    // Measured 56 to 79 dB at the fastest preset (smptebars encode nearly
    // losslessly); a wrong matrix or range costs far more than the margin.
    EXPECT_GE(Psnr(out, src), 40.0);
    EXPECT_EQ(Probe(out, "v", "color_range,color_space,color_transfer,color_primaries"), c.tags);
    // The same frames as PNG pictures.
    const std::string frames = P(std::string("c_") + c.name + "_png");
    ASSERT_EQ(Render("boxconcealblack --speed 0 " + src + " -o " + frames).status, 0);
    EXPECT_GE(Psnr(frames + "/frame%04d.png", src, 3, c.rgb, "format=rgb24"), 40.0);
}

INSTANTIATE_TEST_SUITE_P(
    Matrices, Colour,
    ::testing::Values(
        ColourCase{"bt709tagged", "1280x720",
                   "-vf scale=out_color_matrix=bt709,format=yuv420p -colorspace bt709 "
                   "-color_primaries bt709 -color_trc bt709 -c:v libx264 -preset ultrafast -qp 0",
                   "mp4", "tv,bt709,bt709,bt709", "scale=in_color_matrix=bt709,format=rgb24"},
        ColourCase{"bt709untagged", "1280x720",
                   "-vf scale=out_color_matrix=bt709,format=yuv420p -c:v libx264 -preset "
                   "ultrafast -qp 0",
                   "mp4", "tv,bt709,bt709,bt709", "scale=in_color_matrix=bt709,format=rgb24"},
        ColourCase{"bt601tagged", "640x480",
                   "-vf scale=out_color_matrix=bt601,format=yuv420p -colorspace smpte170m "
                   "-color_primaries smpte170m -color_trc smpte170m -c:v libx264 -preset "
                   "ultrafast -qp 0",
                   "mp4", "tv,smpte170m,smpte170m,smpte170m",
                   "scale=in_color_matrix=bt601,format=rgb24"},
        ColourCase{"bt601untagged", "640x480",
                   "-vf scale=out_color_matrix=bt601,format=yuv420p -c:v libx264 -preset "
                   "ultrafast -qp 0",
                   "mkv", "tv,smpte170m,smpte170m,smpte170m",
                   "scale=in_color_matrix=bt601,format=rgb24"},
        ColourCase{"fullRange", "640x480",
                   "-vf scale=out_color_matrix=bt601:out_range=full,format=yuvj420p -c:v mjpeg "
                   "-q:v 1",
                   "mov", "tv,smpte170m,smpte170m,smpte170m",
                   "scale=in_color_matrix=bt601:in_range=full,format=rgb24"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Geometry: upright, square pixels, fitted, never stretched. ---

class Rotation : public Faithful, public ::testing::WithParamInterface<int> {};

TEST_P(Rotation, PhoneClipsComeOutUpright) {
    const int degrees = GetParam();
    const std::string base = Make("r_base.mp4",
                                  "-f lavfi -i testsrc2=s=160x96:r=25:d=1 -c:v libx264 -preset "
                                  "ultrafast -qp 0");
    const std::string src = P("r_" + std::to_string(degrees) + ".mp4");
    bool ok = false;
    Sh("ffmpeg -v error -y -i '" + base +
           "' -c copy -metadata:s:v rotate=" + std::to_string(degrees) + " '" + src + "'",
       &ok);
    ASSERT_TRUE(ok);
    const std::string out = P("r_" + std::to_string(degrees) + "_out.mp4");
    ASSERT_EQ(Render("boxconcealblack --speed 0 " + src + " -o " + out).status, 0);
    EXPECT_EQ(Probe(out, "v", "width,height"), degrees == 180 ? "160,96" : "96,160");
    // ffmpeg turns the source upright the same way when it reads it.
    EXPECT_GE(Psnr(out, src), 35.0);
}

INSTANTIATE_TEST_SUITE_P(Degrees, Rotation, ::testing::Values(90, 180, 270));

TEST_F(Faithful, PixelAspectBecomesSquarePixels) {
    const std::string src = Make("sar.mp4",
                                 "-f lavfi -i testsrc2=s=720x576:r=25:d=0.5 -vf setsar=64/45 "
                                 "-c:v libx264 -preset ultrafast");
    const std::string out = P("sar_out.mp4");
    ASSERT_EQ(Render("boxconcealblack --speed 0 " + src + " -o " + out).status, 0);
    EXPECT_EQ(Probe(out, "v", "width,height"), "1024,576");  // 16:9 kept
}

TEST_F(Faithful, OddSizeIsPaddedNotStretched) {
    const std::string src = Make("odd.mkv",
                                 "-f lavfi -i testsrc2=s=640x360:r=25:d=0.5 -vf "
                                 "scale=641:359,setsar=1 -pix_fmt yuv444p -c:v ffv1");
    const std::string out = P("odd_out");
    ASSERT_EQ(Render("boxconcealblack --speed 0 " + src + " -o " + out).status, 0);
    const std::string first = out + "/frame0000.png";
    EXPECT_EQ(Probe(first, "v", "width,height"), "642,360");
    // The picture sits at the top left, pixel for pixel; the extra column and row are black.
    bool ok = false;
    const std::string psnr =
        Sh("ffmpeg -hide_banner -i '" + first + "' -i '" + src +
               "' -lavfi \"[0]crop=641:359:0:0,format=rgb24[a];[1]format=rgb24[b];[a][b]psnr\" "
               "-frames:v 1 -f null - 2>&1",
           &ok);
    const size_t at = psnr.find("average:");
    ASSERT_NE(at, std::string::npos) << psnr;
    EXPECT_GE(std::atof(psnr.c_str() + at + 8), 40.0);
}

TEST_F(Faithful, ClipOfAnotherShapeIsFittedWithBars) {
    const std::string portrait = Make("portrait.mp4",
                                      "-f lavfi -i color=red:s=90x160:r=25:d=1 -f lavfi -i "
                                      "sine=d=1 -c:v libx264 -preset ultrafast -c:a aac -shortest");
    const std::string landscape =
        Make("landscape.mp4",
             "-f lavfi -i color=blue:s=160x90:r=25:d=1 -f lavfi -i "
             "sine=d=1 -c:v libx264 -preset ultrafast -c:a aac -shortest");
    const std::string out = P("fit_out");
    ASSERT_EQ(Render("boxscatter --speed 0 " + portrait + " " + landscape + " -o " + out).status,
              0);
    const std::vector<tavhost::media::Frame> frames = ReadAll(PngFolder(out), 90, 160);
    ASSERT_FALSE(frames.empty());
    const tavhost::media::Frame& last = frames.back();
    // The landscape clip, 90 wide, sits in the middle with black above and below.
    EXPECT_EQ(last.pixels[size_t(2) * 90 + 45] & 0xFFFFFF, 0u);
    EXPECT_GT(last.pixels[size_t(80) * 90 + 45] & 0xFF, 0xC0u);
    EXPECT_LT((last.pixels[size_t(80) * 90 + 45] >> 16) & 0xFF, 0x40u);
}

// --- Safety: an output never destroys an input or another output. ---

TEST_F(Faithful, OutputsThatAreInputsAreRefusedBeforeAnyWork) {
    const std::string src = Make("safe.mp4",
                                 "-f lavfi -i testsrc2=s=160x96:r=25:d=0.5 -c:v libx264 -preset "
                                 "ultrafast");
    const auto size = fs::file_size(src);
    fs::remove(P("hard.mp4"));
    fs::remove(P("soft.mp4"));
    fs::create_hard_link(src, P("hard.mp4"));
    fs::create_symlink(src, P("soft.mp4"));
    for (const std::string& out : {src, P("hard.mp4"), P("soft.mp4")}) {
        const Result run = Render("boxconcealblack " + src + " -o " + out);
        EXPECT_EQ(run.status, 2) << out;
        EXPECT_NE(run.err.find("would destroy the clip"), std::string::npos) << run.err;
    }
    EXPECT_EQ(fs::file_size(src), size);
    const Result same =
        Render("boxconcealblack " + src + " -o " + P("m.mp4") + " --contact-sheet " + P("m.mp4"));
    EXPECT_EQ(same.status, 2);
    EXPECT_NE(same.err.find("same file"), std::string::npos) << same.err;
}

TEST_F(Faithful, AFailingContactSheetLeavesNothing) {
    const std::string src = Make("sheet.mp4",
                                 "-f lavfi -i testsrc2=s=160x96:r=25:d=0.5 -c:v libx264 -preset "
                                 "ultrafast");
    const Result run = Render("boxconcealblack " + src + " -o " + P("sheet_out.mp4") +
                              " --contact-sheet /proc/nowhere/s.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(P("sheet_out.mp4")));
    // A tall narrow frame makes a tall sheet, not a crash.
    const Result tall = Render("boxconcealblack --size 16x2000 " + src + " -o " + P("tall.mp4") +
                               " --contact-sheet " + P("tall.jpg"));
    EXPECT_EQ(tall.status, 0) << tall.err;
    EXPECT_EQ(Sh("head -c 2 '" + P("tall.jpg") + "' | od -An -tx1"), " ff d8\n");
}

TEST_F(Faithful, HangUpLeavesNothing) {
    const std::string src = Make("long.mp4",
                                 "-f lavfi -i testsrc2=s=640x360:r=25:d=20 -c:v libx264 -preset "
                                 "ultrafast");
    const std::string out = P("hup.mp4");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        freopen("/dev/null", "w", stderr);
        execl(TAVHOST_PATH, "tavhost", "render", "boxconcealwhite", "--quiet", src.c_str(), "-o",
              out.c_str(), nullptr);
        _exit(127);
    }
    for (int i = 0; i < 500 && !StagedBeside(out); ++i) usleep(10000);
    kill(pid, SIGHUP);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 0) GTEST_SKIP() << "the render finished before the signal";
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGHUP);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(StagedBeside(out));
}

// --- Damage: rendered as far as it decodes, and said once, in our words. ---

struct DamageCase {
    const char* name;
    const char* ext;
    const char* movflags;  // "" or the MP4 layout
    bool cut;              // cut at 60 %, else scribbled over in the middle
    const char* says;
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.name;
}

class Damaged : public Faithful, public ::testing::WithParamInterface<DamageCase> {};

// A clip cut short ends where its pictures do, and the warning says so, with
// the time it ends at; a clip damaged inside is played whole with stand-ins.
TEST_P(Damaged, SaidOnceAndStrictRefuses) {
    const DamageCase& c = GetParam();
    const std::string good = Make(std::string("good_") + c.name + "." + c.ext,
                                  "-f lavfi -i testsrc2=s=160x96:r=25:d=4 -f lavfi -i sine=d=4 "
                                  "-c:v libx264 -preset ultrafast -g 25 -c:a aac -shortest " +
                                      std::string(c.movflags));
    const std::string bad = P(std::string(c.name) + "." + c.ext);
    const auto size = fs::file_size(good);
    fs::copy_file(good, bad, fs::copy_options::overwrite_existing);
    if (c.cut) {
        fs::resize_file(bad, size * 6 / 10);
    } else {
        std::fstream f(bad, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(size / 2));
        for (int i = 0; i < 20000; ++i) f.put(char(i * 7919 % 251));
    }
    const std::string out = P(std::string("out_") + c.name + ".mp4");
    const Result run = Render("boxconcealblack --speed 0 " + bad + " -o " + out);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("'" + bad + "' is damaged"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    const int frames = Frames(out);
    if (c.cut) {
        // The pictures end where the warning says, and that many are shown.
        const size_t at = run.err.find("pictures end at 0:");
        ASSERT_NE(at, std::string::npos) << run.err;
        const double ends = std::stod(run.err.substr(at + 18));
        EXPECT_NEAR(frames, ends * 25, 0.5) << run.err;
        EXPECT_LT(frames, 100);
        EXPECT_EQ(run.err.find("0:00.00"), std::string::npos) << run.err;
        const size_t before = run.err.find(" pictures before the length");
        ASSERT_NE(before, std::string::npos) << run.err;
        const size_t n = run.err.rfind(", ", before);
        EXPECT_EQ(std::stoi(run.err.substr(n + 2)), 100 - frames) << run.err;
    } else {
        EXPECT_EQ(frames, 100);
    }
    const Result strict = Render("boxconcealblack --strict " + bad + " -o " + P("strict.mp4"));
    EXPECT_EQ(strict.status, 1);
    EXPECT_FALSE(fs::exists(P("strict.mp4")));
}

INSTANTIATE_TEST_SUITE_P(
    Files, Damaged,
    ::testing::Values(DamageCase{"truncated", "mkv", "", true, "the file is cut short"},
                      DamageCase{"faststart", "mp4", "-movflags +faststart", true,
                                 "the file is cut short"},
                      DamageCase{"corrupted", "mkv", "", false, "could not be decoded"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- What is said. ---

TEST_F(Faithful, VariantThatDrawsNothingIsSaid) {
    const std::string a = Make("v5a.mp4", "-f lavfi -i testsrc2=s=160x96:r=25:d=2 -c:v libx264");
    const std::string b = Make("v5b.mp4", "-f lavfi -i testsrc=s=160x96:r=25:d=2 -c:v libx264");
    const Result run = Render("boxrevealwhite --variant 5 " + a + " " + b + " -o " + P("v5.mp4"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("draws no picture of its own"), std::string::npos) << run.err;
    // `list` says it in its own column, apart from the next.
    const std::string list = Sh(std::string(TAVHOST_PATH) + " list");
    EXPECT_NE(list.find("a plain cut   "), std::string::npos) << list;
}

TEST_F(Faithful, ImageOutputsFollowTheirExtension) {
    const Result jpg = RunTavhost("placeholder boxscatter --size 64x48 -o " + P("ph.jpg"));
    EXPECT_EQ(jpg.status, 0) << jpg.err;
    EXPECT_EQ(Sh("head -c 2 '" + P("ph.jpg") + "' | od -An -tx1"), " ff d8\n");
    const Result gif = RunTavhost("placeholder boxscatter -o " + P("ph.gif"));
    EXPECT_EQ(gif.status, 2);
    EXPECT_FALSE(fs::exists(P("ph.gif")));
    // A frame pattern writes numbered pictures.
    const std::string src = Make("pat.mp4", "-f lavfi -i testsrc2=s=64x48:r=25:d=0.4 -c:v libx264");
    fs::create_directories(P("shots"));
    ASSERT_EQ(Render("boxconcealblack --speed 0 " + src + " -o " + P("shots/s%03d.jpg")).status, 0);
    EXPECT_TRUE(fs::exists(P("shots/s000.jpg")));
    EXPECT_TRUE(fs::exists(P("shots/s009.jpg")));
    EXPECT_FALSE(StagedIn(P("shots")));
    // An existing file with no extension is refused at once.
    std::ofstream(P("plainfile")) << "x";
    const Result plain = Render("boxconcealblack " + src + " -o " + P("plainfile"));
    EXPECT_EQ(plain.status, 2);
    EXPECT_NE(plain.err.find("not a folder"), std::string::npos) << plain.err;
}

}  // namespace
}  // namespace tavtest

namespace tavtest {
namespace {

// Frames outside the transition reach the encoder as they were decoded: with
// a lossless encode they come back bit for bit.
TEST_F(Faithful, UnchangedFramesReachTheEncoderAsDecoded) {
    const std::string a = Make("pass_a.mp4",
                               "-f lavfi -i testsrc2=s=320x240:r=25:d=2 -c:v libx264 -preset "
                               "ultrafast -pix_fmt yuv420p");
    const std::string b = Make("pass_b.mp4",
                               "-f lavfi -i mandelbrot=s=320x240:r=25 -t 2 -c:v libx264 -preset "
                               "ultrafast -pix_fmt yuv420p");
    const std::string out = P("pass_out.mkv");
    ASSERT_EQ(
        Render("boxscatter --speed 0 --crf 0 --preset ultrafast " + a + " " + b + " -o " + out)
            .status,
        0);
    const std::vector<std::string> fromA = FrameMd5s(a), fromB = FrameMd5s(b), got = FrameMd5s(out);
    ASSERT_EQ(fromA.size(), 50u);
    ASSERT_EQ(got.size(), 50u + 50 - 10);
    for (size_t i = 0; i < 40; ++i) EXPECT_EQ(got[i], fromA[i]) << "frame " << i;
    for (size_t i = 50; i < 90; ++i) EXPECT_EQ(got[i], fromB[i - 40]) << "frame " << i;
}

// A preview: every frame and the sound, decodable, from x264's fastest preset.
TEST_F(Faithful, PreviewIsWholeAndFast) {
    const std::string a = Make("prev_a.mp4",
                               "-f lavfi -i testsrc2=s=320x240:r=25:d=2 -f lavfi -i sine=d=2 "
                               "-c:v libx264 -preset ultrafast -c:a aac -shortest");
    const std::string out = P("prev_out.mp4");
    ASSERT_EQ(Render("boxscatter --speed 0 --preview " + a + " " + a + " -o " + out).status, 0);
    EXPECT_EQ(Frames(out), 90);
    bool clean = false;
    Sh("ffmpeg -v error -xerror -i '" + out + "' -f null - 2>&1", &clean);
    EXPECT_TRUE(clean);
    EXPECT_NE(Sh("strings '" + out + "' | grep -c 'subme=0'"), "0\n") << "not ultrafast";
    EXPECT_NE(Probe(out, "a", "codec_name"), "");
}

}  // namespace
}  // namespace tavtest

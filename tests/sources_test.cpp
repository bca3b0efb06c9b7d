// What clips hold besides pictures in order: trims in every container,
// timestamps that start late, transparency, a photo's orientation, HDR, and
// where a movie's sound ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/clip_fixtures.h"
#include "support/faithful.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

// --- Trims and the end of the sound. ---

// The pictures a seek to an in point passes over are no loss: a trimmed clip
// is not called damaged, and --strict renders it.
TEST_F(Faithful, TrimmedClipsAreNotCalledDamaged) {
    for (const char* ext : {"mp4", "mkv"}) {
        const std::string clip = Make(std::string("gop30.") + ext,
                                      "-f lavfi -i testsrc2=s=160x96:r=30:d=4 -f lavfi -i sine=d=4 "
                                      "-c:v libx264 -preset ultrafast -g 30 -c:a aac -shortest");
        const std::pair<const char*, int> trims[] = {
            {"--in 0.5", 105}, {"--in 1", 90}, {"--in 2.3", 51}, {"--in 45f --out 100f", 55}};
        for (const auto& [trim, frames] : trims) {
            const std::string out = P(std::string("trimmed.") + ext + ".mp4");
            const Result run = Render("boxconcealblack --strict --speed 0 " + std::string(trim) +
                                      " " + clip + " -o " + out);
            EXPECT_EQ(run.status, 0) << ext << " " << trim << ": " << run.err;
            EXPECT_EQ(run.err, "") << ext << " " << trim;
            EXPECT_EQ(Frames(out), frames) << ext << " " << trim;
        }
    }
}

struct TrimCase {
    const char* name;
    const char* ext;
    const char* codec;  // the video's encoder options
};

void PrintTo(const TrimCase& c, std::ostream* os) {
    *os << c.name;
}

class TrimsIn : public Faithful, public ::testing::WithParamInterface<TrimCase> {};

// A trim is frame-exact in every container, those that seek by bytes (MPEG-TS
// and -PS) included, whatever group of pictures the in point falls in: the
// pictures are those of the untrimmed clip from the in point on, and a beep
// 3.1 s into the clip sounds 3.1 s - in into the movie.
TEST_P(TrimsIn, EveryContainerAtEveryPoint) {
    const TrimCase& c = GetParam();
    const std::string clip =
        Make(std::string("gop3s_") + c.name + "." + c.ext,
             "-f lavfi -i testsrc2=s=160x96:r=30:d=6 -f lavfi -i "
             "'aevalsrc=if(gte(t\\,3.1)*lt(t\\,3.3)\\,0.5*sin(2*PI*1000*t)\\,0):s=44100:d=6' " +
                 std::string(c.codec) + " -g 90 -keyint_min 90 -sc_threshold 0 -shortest");
    // Lossless movies: the pictures decode as they went in.
    const std::string lossless = " --length 2f --crf 0 --preset ultrafast ";
    const std::string full = P(std::string("full_") + c.name + ".mp4");
    ASSERT_EQ(Render("boxrevealblack" + lossless + clip + " -o " + full).status, 0);
    const std::vector<std::string> whole = FrameMd5s(full);
    ASSERT_EQ(whole.size(), 180u);
    for (const double in : {0.5, 1.0, 2.0, 3.0, 3.5, 4.9}) {
        char word[16];
        std::snprintf(word, sizeof word, "%g", in);
        const std::string out = P(std::string("in_") + c.name + word);
        const Result run = Render("boxrevealblack --strict" + lossless + "--in " +
                                  std::string(word) + " " + clip + " -o " + out + ".mp4");
        ASSERT_EQ(run.status, 0) << c.name << " --in " << word << ": " << run.err;
        EXPECT_EQ(run.err, "") << c.name << " --in " << word;
        const std::vector<std::string> got = FrameMd5s(out + ".mp4");
        const size_t first = size_t(std::lround(in * 30));
        ASSERT_EQ(got.size(), whole.size() - first) << c.name << " --in " << word;
        for (size_t i = 2; i < got.size(); ++i)  // past the reveal's two frames
            ASSERT_EQ(got[i], whole[first + i]) << c.name << " --in " << word << ", frame " << i;
        if (in < 3.1) {
            bool ok = false;
            const std::string pcm = Sh("ffmpeg -v error -i '" + out +
                                           ".mp4' -map 0:a -ac 1 "
                                           "-f s16le -",
                                       &ok);
            ASSERT_TRUE(ok);
            size_t onset = 0;
            for (size_t k = 0; k + 1 < pcm.size(); k += 2) {
                const int16_t v = int16_t(uint8_t(pcm[k]) | uint8_t(pcm[k + 1]) << 8);
                if (std::abs(v) > 3000) {
                    onset = k / 2;
                    break;
                }
            }
            EXPECT_NEAR(double(onset) / 44100, 3.1 - in, 0.002) << c.name << " --in " << word;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, TrimsIn,
    ::testing::Values(
        TrimCase{.name = "ts", .ext = "ts", .codec = "-c:v libx264 -c:a aac"},
        TrimCase{.name = "m2ts", .ext = "m2ts", .codec = "-c:v libx264 -c:a aac"},
        TrimCase{.name = "ps", .ext = "mpg", .codec = "-c:v mpeg2video -q:v 2 -c:a mp2"},
        TrimCase{.name = "vob", .ext = "vob", .codec = "-c:v mpeg2video -q:v 2 -c:a ac3 -b:a 192k"},
        TrimCase{.name = "mkv", .ext = "mkv", .codec = "-c:v libx264 -c:a aac"},
        TrimCase{.name = "mp4", .ext = "mp4", .codec = "-c:v libx264 -c:a aac"}),
    [](const auto& info) { return std::string(info.param.name); });

// A recording whose timestamps start anywhere is whole, not damaged.
TEST_F(Faithful, ClipsThatStartLaterAreWhole) {
    const std::string base = Make("ten.mp4",
                                  "-f lavfi -i testsrc2=s=160x96:r=30:d=3 -f lavfi -i sine=d=3 "
                                  "-c:v libx264 -preset ultrafast -c:a aac -shortest");
    for (const char* ext : {"mkv", "ts", "mp4", "mov"}) {
        for (const char* offset : {"10", "3600"}) {
            const std::string clip = P(std::string("off") + offset + "." + ext);
            bool ok = false;
            Sh("ffmpeg -v error -y -i '" + base + "' -c copy -output_ts_offset " + offset + " '" +
                   clip + "' 2>&1",
               &ok);
            ASSERT_TRUE(ok) << clip;
            const std::string out = P(std::string("off") + offset + ext + ".mp4");
            const Result run = Render("boxrevealblack --strict " + clip + " -o " + out);
            EXPECT_EQ(run.status, 0) << clip << ": " << run.err;
            EXPECT_EQ(run.err, "") << clip;
            EXPECT_EQ(Frames(out), 90) << clip;
        }
    }
}

struct AlphaCase {
    const char* name;
    const char* make;      // ffmpeg options making the picture, its left half see-through
    uint32_t left, right;  // what the output shows there, 0xRRGGBB
};

void PrintTo(const AlphaCase& c, std::ostream* os) {
    *os << c.name;
}

class Transparency : public Faithful, public ::testing::WithParamInterface<AlphaCase> {};

// A picture with transparency is laid over black, as an editor shows it: a
// see-through part never shows the colour hidden under it.
TEST_P(Transparency, IsLaidOverBlack) {
    const AlphaCase& c = GetParam();
    std::string make = c.make;
    for (size_t at; (at = make.find("{HALVES}")) != std::string::npos;)
        make.replace(at, 8,
                     "-f lavfi -i 'color=c=red@0:s=80x96:d=0.1,format=rgba[l];"
                     "color=c=green:s=80x96:d=0.1,format=rgba[r];[l][r]hstack'");
    const std::string clip = Make(c.name, make);
    const std::string out = P(std::string("alpha_") + c.name);
    const Result run =
        Render("boxrevealblack --length 2f --still-duration 0.2 " + clip + " -o " + out + "/");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<tavhost::media::Frame> got = ReadAll(PngFolder(out));
    ASSERT_GE(got.size(), 5u);
    const std::vector<uint32_t>& px = got[4].pixels;
    auto near = [](uint32_t a, uint32_t b) {
        for (int shift : {0, 8, 16})
            if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 4) return false;
        return true;
    };
    for (const int y : {10, 48, 85}) {
        const uint32_t left = px[size_t(y) * kW + 20], right = px[size_t(y) * kW + 140];
        EXPECT_TRUE(near(left, c.left)) << c.name << std::hex << ": left " << left;
        EXPECT_TRUE(near(right, c.right)) << c.name << std::hex << ": right " << right;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, Transparency,
    ::testing::Values(
        AlphaCase{.name = "rgba.png", .make = "{HALVES} -frames:v 1", .left = 0, .right = 0x008000},
        AlphaCase{.name = "palette.png",
                  .make = "{HALVES} -frames:v 1 -vf 'split[a][b];[a]palettegen=reserve_transparent="
                          "1[p];[b][p]paletteuse=alpha_threshold=128'",
                  .left = 0,
                  .right = 0x008000},
        AlphaCase{.name = "prores4444.mov",
                  .make = "-f lavfi -i color=c=red@0.5:s=160x96:d=1,format=yuva444p10le -c:v "
                          "prores_ks -profile:v 4444 -pix_fmt yuva444p10le",
                  .left = 0x7f0000,
                  .right = 0x7f0000}),
    [](const auto& info) {
        std::string name = info.param.name;
        name.erase(name.find('.'));
        return name;
    });

class StillOrientation : public Faithful, public ::testing::WithParamInterface<int> {};

// A photo is shown as its EXIF orientation says (turned, mirrored or both),
// as viewers and FFmpeg show it.
TEST_P(StillOrientation, IsAppliedAsFFmpegAppliesIt) {
    const int orientation = GetParam();
    const std::string plain =
        Make("plain.jpg", "-f lavfi -i testsrc2=s=160x120 -frames:v 1 -q:v 2");
    // An EXIF block (APP1) with one entry, the orientation, after the JPEG's start.
    std::ifstream in(plain, std::ios::binary);
    const std::string jpeg((std::istreambuf_iterator<char>(in)), {});
    const unsigned char tiff[] = {'I',
                                  'I',
                                  42,
                                  0,
                                  8,
                                  0,
                                  0,
                                  0,
                                  1,
                                  0,
                                  0x12,
                                  0x01,
                                  3,
                                  0,
                                  1,
                                  0,
                                  0,
                                  0,
                                  static_cast<unsigned char>(orientation),
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0};
    std::string app1 = std::string("Exif", 4) + std::string(2, '\0') +
                       std::string(reinterpret_cast<const char*>(tiff), sizeof tiff);
    const size_t length = app1.size() + 2;
    app1 = std::string("\xff\xe1", 2) + char(length >> 8) + char(length & 0xff) + app1;
    const std::string photo = P("orient" + std::to_string(orientation) + ".jpg");
    std::ofstream(photo, std::ios::binary) << jpeg.substr(0, 2) + app1 + jpeg.substr(2);

    const std::string out = P("oriented" + std::to_string(orientation));
    const Result run =
        Render("boxrevealblack --length 2f --still-duration 0.2 " + photo + " -o " + out + "/");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string shown = P("shown" + std::to_string(orientation) + ".png");
    bool ok = false;
    Sh("ffmpeg -v error -y -i '" + photo + "' -pix_fmt rgb24 '" + shown + "' 2>&1", &ok);
    ASSERT_TRUE(ok);
    const bool turned = orientation >= 5;
    const std::vector<tavhost::media::Frame> got =
        ReadAll(PngFolder(out), turned ? 120 : 160, turned ? 160 : 120);
    const std::vector<tavhost::media::Frame> want =
        ReadAll(shown, turned ? 120 : 160, turned ? 160 : 120);
    ASSERT_GE(got.size(), 5u);
    ASSERT_EQ(want.size(), 1u);
    EXPECT_EQ(Probe(out + "/frame0004.png", "v", "width,height"), turned ? "120,160" : "160,120");
    EXPECT_EQ(got[4].pixels, want[0].pixels) << "orientation " << orientation;
}

INSTANTIATE_TEST_SUITE_P(Exif, StillOrientation, ::testing::Range(1, 9));

// Where a beep starts in a movie's sound, in seconds (-1: none).
double BeepOnset(const std::string& movie, int rate, const std::string& filter = "anull") {
    bool ok = false;
    const std::string pcm = Sh("ffmpeg -v error -i '" + movie + "' -map 0:a -af " + filter +
                                   " -ac 1 -ar " + std::to_string(rate) + " -f s16le -",
                               &ok);
    if (!ok) return -1;
    for (size_t k = 0; k + 1 < pcm.size(); k += 2)
        if (std::abs(int16_t(uint8_t(pcm[k]) | uint8_t(pcm[k + 1]) << 8)) > 3000)
            return double(k / 2) / rate;
    return -1;
}

struct GapCase {
    const char* name;
    const char* ext;
    const char* drop;  // the sound packets taken out, as FFmpeg's noise filter's expression
    double in;         // where the render starts in the clip
};

void PrintTo(const GapCase& c, std::ostream* os) {
    *os << c.name;
}

class SoundGaps : public Faithful, public ::testing::WithParamInterface<GapCase> {};

// Sound is placed by its timestamps: a stretch of missing packets (their
// timestamps kept, as a dropped network segment leaves them) is silence,
// and a beep after it sounds where it sounds in the clip without the gap.
TEST_P(SoundGaps, AreSilenceAndTheSoundAfterThemInPlace) {
    const GapCase& c = GetParam();
    const std::string whole = Make(std::string("beep.") + c.ext,
                                   "-f lavfi -i testsrc2=s=160x96:r=25:d=5 -f lavfi -i "
                                   "'aevalsrc=if(gte(t\\,3.5)*lt(t\\,3.7)\\,0.5*sin(2*PI*1000*t)"
                                   "\\,0.05*sin(2*PI*300*t)):s=48000:d=5' "
                                   "-c:v libx264 -preset ultrafast -c:a aac -shortest");
    const std::string clip = P(std::string("gap_") + c.name + "." + c.ext);
    bool ok = false;
    Sh("ffmpeg -v error -y -i '" + whole + "' -map 0 -c copy -bsf:a \"noise=drop='" + c.drop +
           "'\" '" + clip + "' 2>&1",
       &ok);
    ASSERT_TRUE(ok);
    const std::string in = c.in > 0 ? " --in " + std::to_string(c.in) : "";
    for (const char* copy : {"", " --copy-unchanged"}) {
        // The same render of the clip without its gap: the beep's place.
        double onset[2];
        for (const int gap : {0, 1}) {
            const std::string out = P(std::string("gap_") + c.name + std::to_string(gap) + ".mp4");
            const Result run = Render("boxrevealblack --length 2f --preset ultrafast" + in + copy +
                                      " " + (gap ? clip : whole) + " -o " + out);
            ASSERT_EQ(run.status, 0) << run.err;
            onset[gap] = BeepOnset(out, 48000);
        }
        EXPECT_NEAR(onset[0], 3.5 - c.in, 0.003) << copy;
        EXPECT_NEAR(onset[1], onset[0], 0.001) << copy;
    }
    // FFmpeg's own decoding, its sound placed by timestamps, agrees.
    const std::string byTime = "aresample=async=1:first_pts=0";
    EXPECT_NEAR(BeepOnset(clip, 48000, byTime), BeepOnset(whole, 48000, byTime), 0.001);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, SoundGaps,
    ::testing::Values(GapCase{"mp4", "mp4", "between(pts*tb,2,2.53)", 0},
                      GapCase{"mkv", "mkv", "between(pts*tb,2,2.53)", 0},
                      GapCase{"mkvTwoGaps", "mkv", "between(pts*tb,1,1.2)+between(pts*tb,2.5,3)",
                              0},
                      GapCase{"mp4Trimmed", "mp4", "between(pts*tb,2,2.53)", 1.0}),
    [](const auto& info) { return std::string(info.param.name); });

// The sound's mean volume in dB, as FFmpeg's volumedetect measures it.
double MeanVolume(const std::string& path, const std::string& options = "") {
    const std::string out = Sh("ffmpeg -hide_banner " + options + " -i '" + path +
                               "' -map 0:a -af volumedetect -f null - 2>&1");
    const size_t at = out.find("mean_volume:");
    return at == std::string::npos ? 1.0 : std::atof(out.c_str() + at + 12);
}

struct CoverCase {
    const char* name;
    const char* make;  // ffmpeg arguments after the sound and the cover inputs
    const char* ext;
    double in;
};

void PrintTo(const CoverCase& c, std::ostream* os) {
    *os << c.name;
}

class CoverArt : public Faithful, public ::testing::WithParamInterface<CoverCase> {};

// A sound file with a cover picture is that picture held for as long as the
// sound lasts, with the sound; trimmed, the sound is trimmed.
TEST_P(CoverArt, IsTheCoverHeldForTheSound) {
    const CoverCase& c = GetParam();
    const std::string cover = Make("cover.png", "-f lavfi -i testsrc2=s=160x96 -frames:v 1");
    const std::string song = Make(std::string("song_") + c.name + "." + c.ext,
                                  "-f lavfi -i sine=f=440:d=3 -i '" + cover + "' -map 0 -map 1 " +
                                      c.make + " -disposition:v attached_pic");
    const std::string out = P(std::string("song_") + c.name + "_out.mp4");
    const std::string in = c.in > 0 ? " --in " + std::to_string(c.in) + " " : " ";
    const Result run = Render("boxrevealblack --length 10f --crf 0" + in + song + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const double sound = std::atof(Probe(song, "a", "duration").c_str());
    EXPECT_NEAR(std::atof(Probe(out, "v", "duration").c_str()), sound - c.in, 0.05);
    EXPECT_NEAR(std::atof(Probe(out, "a", "duration").c_str()), sound - c.in, 0.05);
    // After the reveal every picture is the cover.
    const std::vector<tavhost::media::Frame> frames = ReadAll(out);
    const std::vector<tavhost::media::Frame> picture = ReadAll(cover);
    ASSERT_GT(frames.size(), 20u);
    ASSERT_EQ(picture.size(), 1u);
    for (size_t k : {size_t(12), frames.size() / 2, frames.size() - 1}) {
        double diff = 0;
        for (size_t p = 0; p < picture[0].pixels.size(); ++p)
            diff += std::abs(int(frames[k].pixels[p] & 0xFF) - int(picture[0].pixels[p] & 0xFF));
        EXPECT_LT(diff / double(picture[0].pixels.size()), 2.0) << "frame " << k;
    }
    // The sound is the song's, at its level.
    EXPECT_NEAR(MeanVolume(out, "-ss 0.5"), MeanVolume(song, "-ss " + std::to_string(c.in + 0.5)),
                0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Songs, CoverArt,
    ::testing::Values(CoverCase{"m4a", "-c:a aac -c:v png", "m4a", 0},
                      CoverCase{"m4aTrimmed", "-c:a aac -c:v png", "m4a", 1.0},
                      CoverCase{"mp3", "-c:a libmp3lame -c:v mjpeg -id3v2_version 3", "mp3", 0},
                      CoverCase{"mp3Trimmed", "-c:a libmp3lame -c:v mjpeg -id3v2_version 3", "mp3",
                                0.6}),
    [](const auto& info) { return std::string(info.param.name); });

// A sound file without a picture is refused in one line, before any work.
TEST_F(Faithful, ASoundFileWithoutAPictureIsRefused) {
    const std::string song = Make("nocover.mp3", "-f lavfi -i sine=d=2");
    const Result run = Render("boxrevealblack " + song + " -o " + P("nocover.mp4"));
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("is sound only"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(P("nocover.mp4")));
}

// A picture's mean and brightest luma and mean saturation, as FFmpeg's
// signalstats measures them (8-bit levels).
struct Levels {
    double mean = -1, white = -1, saturation = -1;
};

Levels LevelsOf(const std::string& picture, const std::string& filters = "") {
    const std::string out = Sh(
        "ffmpeg -hide_banner -i '" + picture + "' -vf '" + filters + (filters.empty() ? "" : ",") +
        "format=yuv444p,signalstats,metadata=print' -frames:v 1 -f null - 2>&1");
    auto field = [&](const char* name) {
        const size_t at = out.find(std::string(name) + "=");
        return at == std::string::npos ? -1.0 : std::atof(out.c_str() + at + std::strlen(name) + 1);
    };
    return {field("YAVG"), field("YMAX"), field("SATAVG")};
}

class HdrClips : public Faithful, public ::testing::WithParamInterface<const char*> {};

// HDR (PQ, HLG) is tone-mapped to SDR: the levels FFmpeg's own zscale and
// tonemap give the same clip, and close to the SDR picture the clip was made
// from (its white near SDR white, its colours nearly as saturated).
TEST_P(HdrClips, AreToneMappedAsFFmpegDoes) {
    const std::string transfer = GetParam();
    const std::string sdr = Make("sdr.png", "-f lavfi -i testsrc2=s=160x96 -frames:v 1");
    const std::string hdr =
        Make("hdr_" + transfer + ".mkv",
             "-f lavfi -i testsrc2=s=160x96:d=0.5 -vf format=yuv420p10le,zscale=tin=bt709:"
             "min=bt709:pin=bt709:rin=tv:t=" +
                 transfer +
                 ":m=bt2020nc:p=bt2020:r=tv:npl=100 -c:v libx265 -x265-params log-level=error "
                 "-pix_fmt yuv420p10le -color_primaries bt2020 -color_trc " +
                 transfer + " -colorspace bt2020nc");
    const std::string out = P("tonemapped_" + transfer);
    const Result run = Render("boxrevealblack --length 2f " + hdr + " -o " + out + "/");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("is HDR (PQ or HLG): it is tone-mapped"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    const Levels ours = LevelsOf(out + "/frame0000.png");
    const Levels ffmpeg = LevelsOf(
        hdr,
        "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,tonemap=tonemap=mobius:"
        "param=0.9:desat=0,zscale=t=bt709:m=bt709:r=tv,format=yuv444p,scale=in_color_matrix="
        "bt709:in_range=tv:out_range=full,format=rgb24");
    const Levels source = LevelsOf(sdr);
    EXPECT_NEAR(ours.mean, ffmpeg.mean, 1.0);
    EXPECT_NEAR(ours.white, ffmpeg.white, 2.0);
    EXPECT_NEAR(ours.saturation, ffmpeg.saturation, 1.0);
    EXPECT_NEAR(ours.mean, source.mean, 6.0);
    EXPECT_GT(ours.white, source.white - 6);
    // Tone mapping, BT.2020 to BT.709 and 4:2:0 chroma keep about 80 % of the
    // source's saturation (79 to 82 % measured with FFmpeg's own chain on two
    // processors); a grey or washed-out picture falls far below this bound,
    // which leaves the version-dependent exact figure to FFmpeg's own result.
    EXPECT_GT(ours.saturation, 0.6 * source.saturation);
}

INSTANTIATE_TEST_SUITE_P(Transfers, HdrClips, ::testing::Values("smpte2084", "arib-std-b67"),
                         [](const auto& info) {
                             return std::string(info.param) == "smpte2084" ? "pq" : "hlg";
                         });

// Where a movie's sound ends: its last audio packet's end, in seconds.
double SoundEnd(const std::string& movie) {
    std::istringstream in(
        Sh("ffprobe -v error -select_streams a -show_entries "
           "packet=pts_time,duration_time -of csv=p=0 '" +
           movie + "'"));
    double end = -1;
    for (std::string line; std::getline(in, line);) {
        const size_t comma = line.find(',');
        if (comma != std::string::npos)
            end = std::max(end, std::atof(line.c_str()) + std::atof(line.c_str() + comma + 1));
    }
    return end;
}

class SoundEnds : public Faithful, public ::testing::WithParamInterface<const char*> {};

// The sound's last samples reach the movie: it ends where FFmpeg's own
// encoding of a sound of the movie's length ends in the same container, to
// well within one sound frame (AAC's 1024 samples, Opus's 20 ms).
TEST_P(SoundEnds, WhereTheLastFrameEnds) {
    const std::string ext = GetParam();
    const std::string clip =
        Make("tone4s.mp4",
             "-f lavfi -i testsrc2=s=160x96:r=30:d=4 -f lavfi -i sine=d=4:sample_rate=44100 "
             "-c:v libx264 -preset ultrafast -c:a aac -shortest");
    for (const int frames : {30, 47, 95}) {
        const std::string out = P("end" + std::to_string(frames) + "." + ext);
        const Result run = Render("boxconcealblack --speed 0 --out " + std::to_string(frames) +
                                  "f " + clip + " -o " + out);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string rate = Probe(out, "a", "sample_rate");
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.6f", frames / 30.0);
        const std::string ref = P("ref" + std::to_string(frames) + "." + ext);
        bool ok = false;
        Sh("ffmpeg -v error -y -f lavfi -i sine=r=" + rate + ":d=" + seconds + " -c:a " +
               (ext == "webm" ? "libopus" : "aac") + " '" + ref + "' 2>&1",
           &ok);
        ASSERT_TRUE(ok);
        EXPECT_NEAR(SoundEnd(out), SoundEnd(ref), 0.002) << ext << ", " << frames << " frames";
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, SoundEnds, ::testing::Values("mp4", "mkv", "mov", "webm"),
                         [](const auto& info) { return std::string(info.param); });

struct CutCase {
    const char* name;
    const char* ext;  // ts (188-byte packets) or m2ts (192)
    int bframes;
    int cutAt;  // the video packet, in decode order, the recording begins with
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.name;
}

class CutInsideAGroup : public Faithful, public ::testing::WithParamInterface<CutCase> {
  protected:
    // The earliest video timestamp of a file's packets, or of its decoded
    // pictures, as ffprobe reads them.
    static double Earliest(const std::string& path, const char* what) {
        std::istringstream in(Sh(std::string("ffprobe -v error -select_streams v -show_entries ") +
                                 what + "=pts_time -of csv=p=0 '" + path + "' 2>/dev/null"));
        double earliest = 1e9;
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line != "N/A") earliest = std::min(earliest, std::stod(line));
        return earliest;
    }
};

// A recording cut inside a group of pictures (its first packets refer to a
// keyframe it lacks) keeps its timeline from its earliest picture: every
// picture and the sound stay where their timestamps put them, whole or
// trimmed, and the first good picture stands in for the undecodable ones,
// said once as damage at the clip's start.
TEST_P(CutInsideAGroup, KeepsEveryPictureWhereItsTimestampPutsIt) {
    const CutCase& c = GetParam();
    const std::string whole = Make(
        std::string("group_bf") + std::to_string(c.bframes) + "." + c.ext,
        "-f lavfi -i testsrc2=s=160x96:r=25:d=8 -f lavfi -i "
        "'aevalsrc=if(between(t\\,5\\,5.1)\\,0.5*sin(2*PI*1000*t)\\,0):s=48000:d=8' "
        "-c:v libx264 -preset ultrafast -bf " +
            std::to_string(c.bframes) + " -g 50 -keyint_min 50 -sc_threshold 0 -c:a aac -shortest");
    // Cut at the start of the transport packet holding the chosen picture.
    std::istringstream positions(
        Sh("ffprobe -v error -select_streams v -show_entries packet=pos "
           "-of csv=p=0 '" +
           whole + "'"));
    std::string pos;
    for (int k = 0; k <= c.cutAt;) {  // a packet's side data comes as an empty line
        ASSERT_TRUE(std::getline(positions, pos));
        if (!pos.empty()) ++k;
    }
    const int unit = std::string(c.ext) == "m2ts" ? 192 : 188;
    const long at = std::stol(pos) - std::stol(pos) % unit;
    const std::string clip = P(std::string("cut_") + c.name + "." + c.ext);
    {
        std::ifstream from(whole, std::ios::binary);
        std::ofstream to(clip, std::ios::binary);
        from.seekg(at);
        to << from.rdbuf();
    }
    // Where the cut clip starts in the whole one, in frames, and its first
    // picture that decodes, as FFmpeg finds them.
    const double start = Earliest(clip, "packet");
    const long shift = std::lround((start - Earliest(whole, "packet")) * 25);
    const long good = std::lround((Earliest(clip, "frame") - start) * 25);
    ASSERT_GT(good, 0) << "the cut clip must begin with pictures that do not decode";

    const std::string lossless = "boxrevealblack --length 2f --crf 0 --preset ultrafast ";
    const std::string full = P(std::string("group_whole_") + c.name + ".mp4");
    ASSERT_EQ(Render(lossless + whole + " -o " + full).status, 0);
    const std::vector<std::string> reference = FrameMd5s(full);
    for (const double in : {0.0, 0.4, 1.6}) {
        const std::string out = P(std::string("group_cut_") + c.name + std::to_string(in) + ".mp4");
        const Result run = RunTavhost("render " + lossless + "--in " + std::to_string(in) + " " +
                                      clip + " -o " + out);
        ASSERT_EQ(run.status, 0) << run.err;
        const long skip = std::lround(in * 25);
        if (skip < good) {  // said once, where reading starts
            char where[32];
            std::snprintf(where, sizeof where, "the first at 0:%05.2f", in);
            EXPECT_NE(run.err.find(where), std::string::npos) << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        } else
            EXPECT_EQ(run.err, "") << "--in " << in;
        const std::vector<std::string> got = FrameMd5s(out);
        ASSERT_EQ(long(got.size()), long(reference.size()) - shift - skip) << "--in " << in;
        for (long k = 2; k < long(got.size()); ++k) {  // past the reveal's two frames
            const long source = std::max(k + skip, good) + shift;
            ASSERT_EQ(got[size_t(k)], reference[size_t(source)])
                << "--in " << in << ", frame " << k;
        }
        EXPECT_NEAR(BeepOnset(out, 48000), BeepOnset(full, 48000) - double(shift + skip) / 25,
                    0.002)
            << "--in " << in;
    }
}

INSTANTIATE_TEST_SUITE_P(Recordings, CutInsideAGroup,
                         ::testing::Values(CutCase{"ts_bf3", "ts", 3, 30},
                                           CutCase{"ts_bf2", "ts", 2, 63},
                                           CutCase{"m2ts_bf3", "m2ts", 3, 81}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavtest

// The read stage on its own: the clip reader's retiming, trims and seeking
// back, its damage accounting, and the spooling of clips read once, on clips
// of a few frames whose every picture shows its own number.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

#include "clip_frames.h"
#include "clip_reader.h"
#include "clip_spool.h"
#include "exif_orientation.h"

namespace fs = std::filesystem;
using tavhost::media::ClipInfo;
using tavhost::media::ClipReader;
using tavhost::media::Frame;

namespace tavtest {
namespace {

constexpr int kClipFrames = 60;  // 2 s at 30 fps

class ReadStage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // A FIFO's feeder whose reader gave up gets an error, not the end of the tests.
        std::signal(SIGPIPE, SIG_IGN);
        av_log_set_level(AV_LOG_ERROR);  // FFmpeg's own notes are not the tests'
        dir_ = fs::temp_directory_path() / ("tav-read-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        // Picture N is grey at luma 16 + 3N (exact: lossless), with a tone;
        // and the same pictures alone, whose timeline is the pictures' own.
        for (const char* ext : {"mp4", "mkv"}) {
            const std::string pictures =
                "-f lavfi -i nullsrc=s=64x32:r=30:d=2,geq=lum=16+3*N:cb=128:cr=128,"
                "format=yuv420p";
            const std::string lossless = " -c:v libx264 -qp 0 -preset ultrafast";
            Ffmpeg(pictures + " -f lavfi -i sine=f=440:d=2" + lossless + " -c:a aac",
                   P(std::string("clip.") + ext));
            Ffmpeg(pictures + lossless, P(std::string("pictures.") + ext));
        }
        Ffmpeg("-f lavfi -i color=c=gray:s=64x32 -frames:v 1", P("still.png"));
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string P(const std::string& name) { return dir_ + "/" + name; }

    static void Ffmpeg(const std::string& args, const std::string& out) {
        const std::string cmd = "ffmpeg -nostdin -v error -y " + args + " '" + out + "' </dev/null";
        const int rc = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << cmd;
    }

    static ClipReader::Options Options(tavhost::media::Rational fps) {
        ClipReader::Options o;
        o.output.width = 64;
        o.output.height = 32;
        o.output.fps = fps;
        o.lookahead = 3;
        return o;
    }

    // The number a frame's picture shows.
    static int Shown(const Frame& f) {
        const uint32_t grey = (f.Pixels()[size_t(16) * 64 + 32] >> 8) & 0xFF;
        return int(std::lround(grey * 219.0 / 255.0 / 3.0));
    }

    static inline std::string dir_;
};

// --- Retiming and trims ---

// The pictures FFmpeg's own fps filter gives of `path` at `fps`, from `in`
// to `out` seconds (out < 0: the end), by the numbers they show.
std::vector<int> FfmpegPictures(const std::string& path, const std::string& fps, double in,
                                double out) {
    std::string cmd = "ffmpeg -nostdin -v error";
    if (in > 0) cmd += " -ss " + std::to_string(in);
    if (out >= 0) cmd += " -to " + std::to_string(out);
    cmd += " -i '" + path + "' -vf fps=" + fps +
           ",scale=out_range=full -f rawvideo -pix_fmt gray - </dev/null";
    std::vector<int> shown;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return shown;
    std::vector<uint8_t> picture(64 * 32);
    while (fread(picture.data(), 1, picture.size(), p) == picture.size())
        shown.push_back(int(std::lround(picture[16 * 64 + 32] * 219.0 / 255.0 / 3.0)));
    pclose(p);
    return shown;
}

struct TimingCase {
    const char* name;
    int fpsNum, fpsDen;
    double in, out;  // seconds of the clip (out < 0: its end)
};

void PrintTo(const TimingCase& c, std::ostream* os) {
    *os << c.name;
}

class Timing : public ReadStage, public ::testing::WithParamInterface<TimingCase> {};

// Frame k is the clip's picture at time in + k / fps, as FFmpeg's fps filter
// picks it, with that frame's sound; the frames end where the part ends.
TEST_P(Timing, FrameKIsThePictureAtItsTime) {
    const TimingCase& c = GetParam();
    for (const char* ext : {"mp4", "mkv"}) {
        const std::string clip = P(std::string("pictures.") + ext);
        const std::vector<int> want = FfmpegPictures(
            clip, std::to_string(c.fpsNum) + "/" + std::to_string(c.fpsDen), c.in, c.out);
        ASSERT_GT(want.size(), 5u) << ext;
        ClipReader::Options o = Options({c.fpsNum, c.fpsDen});
        o.inSeconds = c.in;
        o.outSeconds = c.out;
        std::string error;
        auto reader = ClipReader::Open(clip, o, &error);
        ASSERT_TRUE(reader) << error;
        EXPECT_NEAR(double(reader->FrameCount()), double(want.size()), 1.0) << ext;
        std::vector<int> got;
        for (int64_t k = 0; k < reader->FrameCount(); ++k) {
            const Frame* f = reader->Get(k, &error);
            ASSERT_TRUE(f) << ext << " frame " << k << ": " << error;
            got.push_back(Shown(*f));
            const size_t samples = f->audio.size() / size_t(o.output.sound.channels);
            ASSERT_EQ(int64_t(samples), tavhost::media::FrameSampleStart(k + 1, o.output.fps) -
                                            tavhost::media::FrameSampleStart(k, o.output.fps))
                << ext << " frame " << k;
        }
        got.resize(std::min(got.size(), want.size()));
        EXPECT_EQ(got, std::vector<int>(want.begin(), want.begin() + ptrdiff_t(got.size()))) << ext;
        EXPECT_FALSE(reader->Get(reader->FrameCount(), &error)) << ext << ": past the end";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reads, Timing,
    ::testing::Values(TimingCase{"same", 30, 1, 0, -1}, TimingCase{"fewer", 15, 1, 0, -1},
                      TimingCase{"more", 60, 1, 0, -1}, TimingCase{"pal", 25, 1, 0, -1},
                      TimingCase{"ntsc", 30000, 1001, 0, -1}, TimingCase{"inPoint", 30, 1, 0.5, -1},
                      TimingCase{"outPoint", 30, 1, 0, 1.0}, TimingCase{"both", 10, 1, 0.4, 1.4}),
    [](const auto& info) { return std::string(info.param.name); });

// Asking for an earlier frame than the last one served starts again from the
// clip's start and serves the right picture.
TEST_F(ReadStage, SeeksBackByReadingAgain) {
    std::string error;
    auto reader = ClipReader::Open(P("clip.mp4"), Options({30, 1}), &error);
    ASSERT_TRUE(reader) << error;
    for (const int64_t k : {40, 5, 50, 0, 59, 58}) {
        const Frame* f = reader->Get(k, &error);
        ASSERT_TRUE(f) << k << ": " << error;
        EXPECT_EQ(Shown(*f), k);
    }
}

// The frames made on the caller's thread, with no thread or queue, are the
// reader's own: the same pictures and the same sound, frame for frame, for
// a trimmed clip retimed in both containers.
TEST_F(ReadStage, FramesMadeWithoutAThreadAreTheReadersFrames) {
    for (const char* name : {"clip.mp4", "clip.mkv"}) {
        ClipReader::Options o = Options({25, 1});
        o.inSeconds = 0.5;
        o.outSeconds = 1.7;
        std::string error;
        tavhost::media::ClipInfo info;
        ASSERT_TRUE(tavhost::media::Probe(P(name), &info, &error)) << error;
        auto reader = ClipReader::Open(P(name), info, o, &error);
        auto frames = tavhost::media::ClipFrames::Open(P(name), info, o, &error);
        ASSERT_TRUE(reader && frames) << error;
        const auto never = [] { return false; };
        Frame made;
        int64_t k = 0;
        for (; frames->Next(&made, never, &error) == tavhost::media::ClipFrames::Made::kFrame;
             ++k) {
            const Frame* read = reader->Get(k, &error);
            ASSERT_TRUE(read) << name << " frame " << k << ": " << error;
            EXPECT_EQ(made.index, k);
            EXPECT_EQ(Shown(made), Shown(*read)) << name << " frame " << k;
            EXPECT_EQ(made.audio, read->audio) << name << " frame " << k;
        }
        EXPECT_EQ(k, reader->FrameCount()) << name << ": " << error;
        EXPECT_EQ(k, 30) << name;
    }
}

// A still is one picture held for the still duration.
TEST_F(ReadStage, AStillIsHeldForItsDuration) {
    ClipReader::Options o = Options({25, 1});
    o.stillSeconds = 1.2;
    std::string error;
    auto reader = ClipReader::Open(P("still.png"), o, &error);
    ASSERT_TRUE(reader) << error;
    EXPECT_TRUE(reader->Info().still);
    EXPECT_EQ(reader->FrameCount(), 30);
    for (int64_t k = 0; k < 30; k += 7) ASSERT_TRUE(reader->Get(k, &error)) << error;
}

// --- Damage ---

class CutShort : public ReadStage, public ::testing::WithParamInterface<double> {};

// A file cut short is read to where its pictures end; the damage says so,
// and every picture before it is served as it is.
TEST_P(CutShort, EndsWhereItsPicturesEnd) {
    const std::string whole = P("clip.mkv");
    const std::string cut = P("cut" + std::to_string(int(GetParam() * 100)) + ".mkv");
    {
        std::ifstream in(whole, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, size_t(bytes.size() * GetParam()));
    }
    std::string error;
    ClipInfo info;
    ASSERT_TRUE(tavhost::media::Probe(cut, &info, &error)) << error;
    auto reader = ClipReader::Open(cut, info, Options({30, 1}), &error);
    ASSERT_TRUE(reader) << error;
    int64_t served = 0;
    for (int64_t k = 0; k < reader->FrameCount(); ++k) {
        const Frame* f = reader->Get(k, &error);
        if (!f) break;
        EXPECT_EQ(Shown(*f), k);
        ++served;
    }
    EXPECT_GT(served, 0);
    EXPECT_LT(served, kClipFrames);
    const tavhost::media::Damage damage = reader->DamageFound();
    EXPECT_TRUE(damage.Any());
    if (damage.cutShort) {
        EXPECT_GT(damage.missingAtEnd, 0);
        EXPECT_NEAR(damage.endsAt, double(served) / 30, 2.0 / 30);
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, CutShort, ::testing::Values(0.3, 0.45, 0.6));

// --- Still pictures' orientation ---

// The EXIF block of one entry, the orientation, in TIFF form (little-endian).
std::string OrientationBlock(int orientation) {
    const unsigned char tiff[] = {
        'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, uint8_t(orientation),
        0,   0,   0,  0, 0, 0, 0};
    return std::string(reinterpret_cast<const char*>(tiff), sizeof tiff);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Put32(std::string& s, uint32_t v, bool little) {
    for (int i = 0; i < 4; ++i) s += char(little ? v >> (8 * i) : v >> (8 * (3 - i)));
}

// A 32x16 RGB TIFF, uncompressed, whose first IFD carries `orientation`.
std::string Tiff(int orientation) {
    std::string t = "II*";
    t += '\0';
    Put32(t, 8, true);
    const struct {
        uint16_t tag, type;
        uint32_t count, value;
    } entries[] = {{256, 3, 1, 32},
                   {257, 3, 1, 16},
                   {258, 3, 3, 158},
                   {259, 3, 1, 1},
                   {262, 3, 1, 2},
                   {273, 4, 1, 164},
                   {274, 3, 1, uint32_t(orientation)},
                   {277, 3, 1, 3},
                   {278, 3, 1, 16},
                   {279, 4, 1, 32 * 16 * 3},
                   {284, 3, 1, 1}};
    t += char(11);
    t += '\0';
    for (const auto& e : entries) {
        t += char(e.tag & 0xFF);
        t += char(e.tag >> 8);
        t += char(e.type);
        t += '\0';
        Put32(t, e.count, true);
        Put32(t, e.value, true);
    }
    Put32(t, 0, true);           // no next IFD; now at 8 + 2 + 11 * 12 + 4 = 146
    t += std::string(12, '\0');  // to 158: the bits per sample
    for (int i = 0; i < 3; ++i) t += std::string("\x08\0", 2);  // to 164: the pixels
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            t += char(x < 16 ? 255 : 0);
            t += char(y < 8 ? 255 : 0);
            t += char(x < 8 ? 255 : 0);
        }
    return t;
}

uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= uint8_t(c);
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

class StillOrientations : public ReadStage, public ::testing::WithParamInterface<int> {};

// A TIFF's own tag, a PNG's eXIf chunk and a WebP's EXIF chunk turn and
// mirror the picture exactly as FFmpeg's JPEG decoder turns a JPEG with the
// same EXIF orientation.
TEST_P(StillOrientations, AreReadAsFFmpegReadsAJpegs) {
    const int k = GetParam();
    const std::string n = std::to_string(k);
    std::string error;
    // The reference: a JPEG with an APP1 EXIF block.
    const std::string plain = P("plain.jpg"), plainPng = P("plain.png"),
                      plainWebp = P("plain.webp");
    if (!fs::exists(plain)) {
        Ffmpeg("-f lavfi -i testsrc2=s=32x16 -frames:v 1", plain);
        Ffmpeg("-f lavfi -i testsrc2=s=32x16 -frames:v 1", plainPng);
        Ffmpeg("-f lavfi -i testsrc2=s=32x16 -frames:v 1 -c:v libwebp", plainWebp);
    }
    std::string app1 = std::string("Exif\0\0", 6) + OrientationBlock(k);
    const size_t length = app1.size() + 2;
    app1 = std::string("\xff\xe1", 2) + char(length >> 8) + char(length & 0xFF) + app1;
    const std::string jpegBytes = ReadFile(plain);
    std::ofstream(P("o" + n + ".jpg"), std::ios::binary)
        << jpegBytes.substr(0, 2) + app1 + jpegBytes.substr(2);
    std::ofstream(P("o" + n + ".tif"), std::ios::binary) << Tiff(k);
    // PNG: an eXIf chunk after IHDR (8 + 25 bytes in).
    const std::string png = ReadFile(plainPng);
    std::string chunk = "eXIf" + OrientationBlock(k);
    std::string withLength;
    Put32(withLength, uint32_t(chunk.size() - 4), false);
    withLength += chunk;
    Put32(withLength, Crc32(chunk), false);
    std::ofstream(P("o" + n + ".png"), std::ios::binary)
        << png.substr(0, 33) + withLength + png.substr(33);
    // WebP: an EXIF chunk after the picture, the RIFF length grown to match.
    std::string webp = ReadFile(plainWebp);
    std::string exif = "EXIF";
    Put32(exif, uint32_t(OrientationBlock(k).size()), true);
    exif += OrientationBlock(k);
    webp += exif;
    std::string riff;
    Put32(riff, uint32_t(webp.size() - 8), true);
    webp.replace(4, 4, riff);
    std::ofstream(P("o" + n + ".webp"), std::ios::binary) << webp;

    ClipInfo want;
    ASSERT_TRUE(tavhost::media::Probe(P("o" + n + ".jpg"), &want, &error)) << error;
    EXPECT_EQ(want.width, k >= 5 ? 16 : 32);
    for (const char* ext : {".tif", ".png", ".webp"}) {
        ClipInfo got;
        ASSERT_TRUE(tavhost::media::Probe(P("o" + n + ext), &got, &error)) << ext << ": " << error;
        EXPECT_TRUE(got.still) << ext;
        EXPECT_EQ(tavhost::media::ExifOrientation(P("o" + n + ext)), k) << ext;
        EXPECT_EQ(got.rotation, want.rotation) << ext;
        EXPECT_EQ(got.upright, want.upright) << ext;
        EXPECT_EQ(got.width, want.width) << ext;
        EXPECT_EQ(got.height, want.height) << ext;
    }
}

INSTANTIATE_TEST_SUITE_P(Exif, StillOrientations, ::testing::Range(1, 9));

struct TiffCase {
    const char* name;
    std::vector<uint8_t> bytes;
    int orientation;
};

void PrintTo(const TiffCase& c, std::ostream* os) {
    *os << c.name;
}

class TiffBlocks : public ::testing::TestWithParam<TiffCase> {};

// Either byte order and value type; anything cut short or pointing outside
// the block has no orientation.
TEST_P(TiffBlocks, GiveTheirOrientationOrNone) {
    const TiffCase& c = GetParam();
    EXPECT_EQ(tavhost::media::OrientationOfTiff(c.bytes.data(), c.bytes.size()), c.orientation);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, TiffBlocks,
    ::testing::Values(
        TiffCase{
            "little",
            {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 1, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0},
            6},
        TiffCase{
            "big",
            {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 1, 0x12, 0, 3, 0, 0, 0, 1, 0, 8, 0, 0, 0, 0, 0, 0},
            8},
        TiffCase{
            "bigLong",
            {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 1, 0x12, 0, 4, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0},
            3},
        TiffCase{
            "outOfRange",
            {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 1, 3, 0, 1, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0},
            0},
        TiffCase{"cutShort", {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 1, 3, 0}, 0},
        TiffCase{"manyEntries", {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF, 0, 0}, 0},
        TiffCase{"offsetPastTheEnd", {'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0xFF, 1, 0}, 0},
        TiffCase{"notTiff", {'I', 'I', 43, 0, 8, 0, 0, 0}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Clips read once ---

class Spooled : public ReadStage, public ::testing::WithParamInterface<const char*> {};

// A clip given as a FIFO is read to its end into a temporary copy that keeps
// the name's extension (by which FFmpeg knows some formats), and is then the
// same clip as the file it was fed from.
TEST_P(Spooled, FifosAreTheClipTheyCarry) {
    const std::string source = P(GetParam());
    const std::string ext = fs::path(source).extension().string();
    for (const std::string& name : {"fed" + ext, std::string("fed")}) {
        const std::string fifo = P(name);
        fs::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::thread feeder([&] {
            std::ifstream in(source, std::ios::binary);
            std::ofstream out(fifo, std::ios::binary);
            out << in.rdbuf();
        });
        tavhost::SpooledClip spool;
        std::string error;
        const bool ok = spool.Spool(fifo, &error);
        feeder.join();
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(fs::path(spool.Path()).extension().string(), fs::path(name).extension().string());
        EXPECT_EQ(fs::file_size(spool.Path()), fs::file_size(source));
        ClipInfo spooled, original;
        ASSERT_TRUE(tavhost::media::Probe(spool.Path(), &spooled, &error)) << name << ": " << error;
        ASSERT_TRUE(tavhost::media::Probe(source, &original, &error)) << error;
        EXPECT_EQ(spooled.frames, original.frames) << name;
        EXPECT_EQ(spooled.still, original.still) << name;
        fs::remove(fifo);
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, Spooled, ::testing::Values("clip.mp4", "clip.mkv", "still.png"));

}  // namespace
}  // namespace tavtest

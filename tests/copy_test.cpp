// --copy-unchanged end to end: clips made by the ffmpeg program, rendered by
// tavhost, read back by ffmpeg. The copied pictures decode bit for bit as the
// clips' own, the spans around the transitions are encoded, and the movie
// plays whole in every container, with its sound as a full encode has it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "av_util.h"
#include "h264_units.h"
#include "media_input.h"
#include "sequence_plan.h"
#include "support/clip_fixtures.h"
#include "support/sound_measure.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

class CopyUnchanged : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tav-copy-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string P(const std::string& name) { return dir_ + "/" + name; }

    // The colour description the output of a clip of `size` has, which a
    // clip must carry to be copied.
    static std::string Tags(const std::string& size) {
        const std::string x =
            std::atoi(size.c_str() + size.find('x') + 1) >= 720 ? "bt709" : "smpte170m";
        return "-colorspace " + x + " -color_primaries " + x + " -color_trc " + x +
               " -color_range tv";
    }

    // A 3-s clip at `rate` with an IDR picture every `gop` frames and a tone,
    // from x264 with `preset` (veryfast sends pictures up to two ahead).
    static std::string Clip(const std::string& name, const std::string& source,
                            const std::string& preset = "veryfast", int rate = 30, int gop = 30,
                            const std::string& size = "320x240", const std::string& x264 = "") {
        const std::string path = P(name);
        if (fs::exists(path)) return path;
        EXPECT_TRUE(FfmpegClip(
            path, "-f lavfi -i " + source + "=s=" + size + ":r=" + std::to_string(rate) +
                      " -f lavfi -i sine=f=440 -t 3 -c:v libx264 -preset " + preset +
                      " -pix_fmt yuv420p " + Tags(size) +
                      " -x264-params keyint=" + std::to_string(gop) +
                      ":min-keyint=" + std::to_string(gop) + ":scenecut=0" + x264 + " -c:a aac"))
            << name;
        return path;
    }
    static std::string A() { return Clip("a.mp4", "testsrc2"); }
    static std::string B() { return Clip("b.mp4", "mandelbrot"); }

    static Result Render(const std::string& args) {
        return RunTavhost("render " + args + " --quiet");
    }
    static bool DecodesClean(const std::string& path) {
        bool ok = false;
        const std::string out = Sh("ffmpeg -v error -xerror -i '" + path + "' -f null - 2>&1", &ok);
        return ok && out.empty();
    }
    // Sample frames of decoded sound.
    static double SoundFrames(const std::string& path) {
        return double(tavtest::Samples(path).size()) / std::stod(Probe(path, "a", "channels"));
    }
    // Luma PSNR of every frame of `a` against `b`.
    static double Psnr(const std::string& a, const std::string& b) {
        const std::string out = Sh("ffmpeg -hide_banner -nostats -i '" + a + "' -i '" + b +
                                   "' -lavfi psnr -f null - 2>&1");
        const size_t at = out.find("PSNR y:");
        return at == std::string::npos ? -1 : std::atof(out.c_str() + at + 7);
    }
    // Whether the video's frames are shown one frame apart, none twice.
    static bool EvenlyTimed(const std::string& path) {
        std::istringstream in(
            Sh("ffprobe -v error -select_streams v -show_entries packet=pts "
               "-of csv=p=0 '" +
               path + "'"));
        std::vector<long long> pts;
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) pts.push_back(std::atoll(line.c_str()));
        std::sort(pts.begin(), pts.end());
        if (pts.size() < 3) return false;
        const long long step = pts[1] - pts[0];
        for (size_t i = 1; i < pts.size(); ++i)
            if (std::llabs(pts[i] - pts[i - 1] - step) > 1 || pts[i] == pts[i - 1]) return false;
        return true;
    }
    // Output frames [from, to) decode as frames [from + shift, ...) of `source`.
    static void ExpectCopied(const std::vector<std::string>& got,
                             const std::vector<std::string>& source, int from, int to, int shift) {
        ASSERT_LE(size_t(to), got.size());
        ASSERT_LE(size_t(to + shift), source.size());
        for (int i = from; i < to; ++i)
            EXPECT_EQ(got[size_t(i)], source[size_t(i + shift)]) << "output frame " << i;
    }

    static inline std::string dir_;
};

class CopyContainers : public CopyUnchanged, public ::testing::WithParamInterface<const char*> {};

// Two 90-frame clips, a 20-frame transition over output frames 70-89: a's
// groups 0-59 and b's 30-89 (output 100-159) are copied, 60-99 encoded. The
// clips send pictures two ahead, the encoder (ultrafast) none.
TEST_P(CopyContainers, CopiedPicturesAreTheClipsOwnAndTheMoviePlaysWhole) {
    const std::string ext = GetParam();
    const std::string copied = P("copied." + ext), full = P("full." + ext);
    const std::string common =
        "boxscatter --length 20f --seed 3 --preset ultrafast " + A() + " " + B();
    const Result run = Render(common + " --copy-unchanged -o " + copied);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(Render(common + " -o " + full).status, 0);

    EXPECT_TRUE(DecodesClean(copied));
    EXPECT_TRUE(EvenlyTimed(copied));
    const std::vector<std::string> got = FrameMd5s(copied);
    ASSERT_EQ(got.size(), 160u);
    ExpectCopied(got, FrameMd5s(A()), 0, 60, 0);
    ExpectCopied(got, FrameMd5s(B()), 100, 160, -70);
    // The encoded spans hold the same pictures as a full encode: nothing shifted.
    EXPECT_GT(Psnr(copied, full), 35.0);
    // The clips' sound is copied where it is unchanged (see SoundCopy): as long as a full encode's.
    EXPECT_NEAR(SoundFrames(copied), SoundFrames(full), 1024.0);
    EXPECT_NEAR(std::atof(Probe(copied, "v", "duration").c_str()),
                std::atof(Probe(full, "v", "duration").c_str()), 0.001);
}

INSTANTIATE_TEST_SUITE_P(Movies, CopyContainers, ::testing::Values("mp4", "mov", "mkv"));

struct SourceCase {
    const char* name;
    const char* remux;  // ffmpeg options that make the source from a's packets
    const char* ext;
    int copied;  // output frames at least that decode as the source's own
};

void PrintTo(const SourceCase& c, std::ostream* os) {
    *os << c.name;
}

class CopySources : public CopyUnchanged, public ::testing::WithParamInterface<SourceCase> {};

// The same pictures from other containers: MKV (no decode timestamps), MPEG-TS
// (start codes, parameter sets in the packets) and an MP4 cut inside a group
// (its leading pictures only decoded, not shown).
TEST_P(CopySources, ClipsFromOtherContainersAreCopied) {
    const SourceCase& c = GetParam();
    const std::string src = P(std::string("src_") + c.name + "." + c.ext);
    bool made = false;
    Sh("ffmpeg -v error -y " + std::string(c.remux) + " -i '" + A() + "' -c copy '" + src +
           "' 2>&1",
       &made);
    ASSERT_TRUE(made);
    const std::string out = P(std::string("from_") + c.name + ".mp4");
    const std::string full = P(std::string("from_") + c.name + "_full.mp4");
    const std::string args = "boxscatter --length 20f --seed 4 " + src + " " + src;
    const Result run = Render(args + " --copy-unchanged -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(Render(args + " -o " + full).status, 0);
    EXPECT_TRUE(DecodesClean(out));
    const std::vector<std::string> got = FrameMd5s(out), source = FrameMd5s(src);
    EXPECT_EQ(int64_t(got.size()), Frames(full));
    ASSERT_GT(source.size(), 20u);
    const size_t second = source.size() - 20;  // where the second copy starts
    int same = 0;
    for (size_t i = 0; i < got.size(); ++i)
        same += (i < source.size() && got[i] == source[i]) ||
                (i >= second && i - second < source.size() && got[i] == source[i - second]);
    EXPECT_GE(same, c.copied);
    EXPECT_GT(Psnr(out, full), 35.0);
}

INSTANTIATE_TEST_SUITE_P(Containers, CopySources,
                         ::testing::Values(SourceCase{"mkv", "", "mkv", 120},
                                           SourceCase{"ts", "", "ts", 120},
                                           SourceCase{"cutInsideAGroup", "-ss 0.55", "mp4", 60}),
                         [](const auto& info) { return std::string(info.param.name); });

// In and out points: the copies start at the first IDR after the in point,
// and every copied picture is the one the trimmed clip shows there.
TEST_F(CopyUnchanged, TrimmedClipsCopyTheRightPictures) {
    const std::string out = P("trimmed.mp4"), full = P("trimmed_full.mp4");
    // a: frames 15-86 (72), b: frames 10-89 (80); the transition is output 52-71.
    const std::string args =
        "boxscatter --length 20f --in 0.5 --out 2.9 " + A() + " --in 10f " + B() + " --seed 1";
    const Result run = Render(args + " --copy-unchanged -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(Render(args + " -o " + full).status, 0);
    EXPECT_TRUE(DecodesClean(out));
    const std::vector<std::string> got = FrameMd5s(out);
    ASSERT_EQ(got.size(), 132u);
    EXPECT_EQ(Frames(full), 132);
    ExpectCopied(got, FrameMd5s(A()), 15, 45, 15);    // a's group at 30
    ExpectCopied(got, FrameMd5s(B()), 72, 132, -42);  // b's groups from 30
    EXPECT_GT(Psnr(out, full), 35.0);
}

// A copy render reads each clip with one demuxer: the copied pictures and
// sound ride from the reader to the writer, so each clip is opened twice
// in all (probe, reader), and the copied pictures are still its own.
TEST_F(CopyUnchanged, EachClipIsOpenedOnlyToProbeAndToRead) {
    if (Sh("command -v strace").empty()) GTEST_SKIP() << "strace is not installed";
    const std::string out = P("opened.mp4"), log = P("opened.strace");
    const Result run = RunTavhost("render boxscatter --length 20f --seed 3 --preset ultrafast " +
                                      A() + " " + B() + " --copy-unchanged --quiet -o " + out,
                                  // A leak checker cannot run under a tracer.
                                  "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 "
                                  "strace -f -qq -e trace=openat -o " +
                                      log);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> got = FrameMd5s(out);
    ASSERT_EQ(got.size(), 160u);
    ExpectCopied(got, FrameMd5s(A()), 0, 60, 0);
    ExpectCopied(got, FrameMd5s(B()), 100, 160, -70);
    std::ifstream in(log);
    std::map<std::string, int> opened;
    for (std::string line; std::getline(in, line);)
        for (const std::string& clip : {A(), B()})
            if (line.find('"' + clip + '"') != std::string::npos &&
                line.find("= -1") == std::string::npos)
                ++opened[clip];
    for (const std::string& clip : {A(), B()}) EXPECT_EQ(opened[clip], 2) << clip;
}

// A clip that cannot be copied is encoded, with one line saying why; the
// other is still copied.
TEST_F(CopyUnchanged, AMismatchedClipIsEncodedWithOneLine) {
    const std::string b25 = Clip("b25.mp4", "mandelbrot", "veryfast", 25, 25);
    const std::string out = P("mixed.mkv");
    const Result run =
        Render("boxscatter --length 20f " + A() + " " + b25 + " --copy-unchanged -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "tavhost: warning: clip '" + b25 +
                           "' is encoded again, not copied: it runs at 25 fps, the output at "
                           "30 fps\n");
    EXPECT_TRUE(DecodesClean(out));
    const std::vector<std::string> got = FrameMd5s(out);
    ASSERT_EQ(got.size(), 90u + 90 - 20);
    ExpectCopied(got, FrameMd5s(A()), 0, 60, 0);
}

TEST_F(CopyUnchanged, OutputsWithoutH264AreEncodedWithOneLine) {
    const std::string out = P("copy.webm");
    const Result run = Render("boxscatter --speed 0 " + A() + " " + B() +
                              " --copy-unchanged --size 160x120 -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err,
              "tavhost: warning: --copy-unchanged: only an MP4, MOV or MKV movie takes copied "
              "H.264 pictures; every frame is encoded\n");
    EXPECT_EQ(Frames(out), 170);
}

// A sequence from an edit file: opening, two joins, closing. Clips without
// B pictures (ultrafast) between spans the encoder writes two ahead.
TEST_F(CopyUnchanged, ASequenceFromAnEditFile) {
    const std::string c = Clip("c_fast.mp4", "testsrc2", "ultrafast", 30, 15);
    const std::string d = Clip("d_fast.mp4", "mandelbrot", "ultrafast", 30, 15);
    const std::string edit = P("seq.json");
    std::ofstream(edit) << R"({"output": {"copy_unchanged": true},
      "clips": [")" << c << R"(", ")"
                        << d << R"(", ")" << c << R"("],
      "open": {"bundle": "boxrevealblack", "length": "10f"},
      "joins": {"bundle": "boxscatter", "length": "20f"},
      "close": {"bundle": "boxconcealwhite", "length": "10f"}})";
    const std::string out = P("seq.mp4"), full = P("seq_full.mp4");
    const Result run = Render("--edit " + edit + " --seed 2 -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::ofstream(P("seq_full.json"))
        << R"({"clips": [")" << c << R"(", ")" << d << R"(", ")" << c << R"("],
      "open": {"bundle": "boxrevealblack", "length": "10f"},
      "joins": {"bundle": "boxscatter", "length": "20f"},
      "close": {"bundle": "boxconcealwhite", "length": "10f"}})";
    ASSERT_EQ(Render("--edit " + P("seq_full.json") + " --seed 2 -o " + full).status, 0);
    EXPECT_TRUE(DecodesClean(out));
    EXPECT_TRUE(EvenlyTimed(out));
    const std::vector<std::string> got = FrameMd5s(out);
    ASSERT_EQ(got.size(), 270u - 40);
    // c: open 0-9, copied 15-59 (its groups at 15, 30, 45), join at 70-89.
    ExpectCopied(got, FrameMd5s(c), 15, 60, 0);
    // d starts at 70: its groups 30-59 lie between the joins (at 70-89 and 140-159).
    ExpectCopied(got, FrameMd5s(d), 100, 130, -70);
    // The second c starts at 140: its groups 30-74, between the join and the closing at 220.
    ExpectCopied(got, FrameMd5s(c), 170, 215, -140);
    EXPECT_GT(Psnr(out, full), 35.0);
    EXPECT_NEAR(SoundFrames(out), SoundFrames(full), 1024.0);
}

// Parameter sets (SPS or PPS) carried inside a movie's video packets.
int InBandSets(const std::string& movie) {
    tavhost::media::InputPtr input;
    std::string error;
    if (!tavhost::media::OpenInput(movie, &input, &error)) {
        ADD_FAILURE() << error;
        return -1;
    }
    const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    tavhost::media::PacketPtr pkt(av_packet_alloc());
    int sets = 0;
    std::vector<tavhost::media::h264::Unit> units;
    while (av_read_frame(input.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == video &&
            tavhost::media::h264::Split(pkt->data, size_t(pkt->size), 4, &units))
            for (const auto& u : units)
                sets += u.Type() == tavhost::media::h264::kSps ||
                        u.Type() == tavhost::media::h264::kPps;
        av_packet_unref(pkt.get());
    }
    return sets;
}

struct GeometryCase {
    const char* name;
    std::vector<int> joins;  // each join's length in frames, between 90-frame clips
    int gop;
};

void PrintTo(const GeometryCase& c, std::ostream* os) {
    *os << c.name;
}

class CopyGeometry : public CopyUnchanged, public ::testing::WithParamInterface<GeometryCase> {};

// However the runs fall, each clip's copied frames are its own pictures (its
// packets read afresh, never where the last clip's run left off), and the
// copied packets carry no parameter sets of their own: the avcC lists them.
TEST_P(CopyGeometry, EachClipsCopiedPicturesAreItsOwn) {
    const GeometryCase& c = GetParam();
    const char* sources[] = {"testsrc2", "mandelbrot", "smptebars", "rgbtestsrc"};
    std::vector<std::string> clips;
    std::string list, joins;
    for (size_t j = 0; j <= c.joins.size(); ++j) {
        const std::string name = std::string("inband_") + sources[j] + std::to_string(c.gop);
        clips.push_back(
            Clip(name + ".mp4", sources[j], "veryfast", 30, c.gop, "320x240", ":repeat-headers=1"));
        list += std::string(j ? ", " : "") + "\"" + clips.back() + "\"";
        if (j < c.joins.size())
            joins += std::string(j ? ", " : "") + R"({"bundle": "boxscatter", "length": ")" +
                     std::to_string(c.joins[j]) + R"(f"})";
    }
    ASSERT_GT(InBandSets(clips[0]), 0) << "the clips carry their sets in their packets";
    const std::string edit = P(std::string(c.name) + ".json");
    std::ofstream(edit) << R"({"clips": [)" << list << R"(], "joins": [)" << joins << "]}";

    // The runs the render copies, as its plan gives them.
    tavhost::RenderJob job;
    job.editFile = edit;
    job.output = P(std::string(c.name) + ".mp4");
    job.settings.copyUnchanged = true;
    tavhost::SequencePlan plan;
    std::vector<std::string> warnings;
    tavhost::Error error;
    ASSERT_TRUE(plan.Make(job, &warnings, &error)) << error.text;
    std::set<int> copiedClips;
    for (const tavhost::CopySegment& s : plan.copy.segments) copiedClips.insert(s.clip);
    ASSERT_EQ(copiedClips.size(), clips.size()) << "every clip has a copied run";

    const Result run =
        Render("--edit " + edit + " --copy-unchanged --seed 1 --preset ultrafast -o " + job.output);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> got = FrameMd5s(job.output);
    ASSERT_EQ(int64_t(got.size()), plan.timeline.total);
    for (const tavhost::CopySegment& s : plan.copy.segments)
        ExpectCopied(got, FrameMd5s(clips[size_t(s.clip)]), int(s.start), int(s.start + s.frames),
                     -int(plan.timeline.clipStart[size_t(s.clip)]));
    EXPECT_EQ(InBandSets(job.output), 0);
    EXPECT_TRUE(DecodesClean(job.output));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CopyGeometry,
    ::testing::Values(GeometryCase{.name = "twoLongJoin", .joins = {60}, .gop = 10},
                      GeometryCase{.name = "twoGop15", .joins = {50}, .gop = 15},
                      GeometryCase{.name = "threeUneven", .joins = {60, 20}, .gop = 10},
                      GeometryCase{.name = "fourShort", .joins = {24, 12, 30}, .gop = 6}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Splices every conforming decoder plays whole. ---

// Frames of a movie as GStreamer's OpenH264 decoder gives them: a second
// decoder beside FFmpeg's, which drops pictures at a splice where the
// sequence taking over keeps a smaller picture buffer.
int64_t OpenH264Frames(const std::string& movie, int w, int h) {
    const std::string raw = movie + ".yuv";
    bool ok = false;
    Sh("gst-launch-1.0 -q filesrc location='" + movie +
           "' ! qtdemux ! h264parse ! openh264dec ! videoconvert ! video/x-raw,format=I420 ! "
           "filesink location='" +
           raw + "' 2>&1",
       &ok);
    std::error_code ec;
    const auto size = fs::file_size(raw, ec);
    fs::remove(raw, ec);
    return ok && !ec ? int64_t(size / (size_t(w) * size_t(h) * 3 / 2)) : -1;
}

// How many SPS the movie's avcC record lists: 2 when the clips' and the
// encoder's sit side by side, that is when pictures were copied.
int AvcSpsCount(const std::string& movie) {
    std::ifstream in(movie, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const size_t at = bytes.find("avcC");
    return at == std::string::npos || at + 9 >= bytes.size() ? 0 : (bytes[at + 9] & 0x1f);
}

struct SpliceCase {
    const char* name;
    const char* make;  // how the clip is made: x264 options, or "openh264"
    const char* render;
    bool copies;
    const char* says;  // the line when it is not copied
};

void PrintTo(const SpliceCase& c, std::ostream* os) {
    *os << c.name;
}

class Splices : public CopyUnchanged, public ::testing::WithParamInterface<SpliceCase> {};

TEST_P(Splices, PlayWholeOnFFmpegAndOpenH264) {
    const SpliceCase& c = GetParam();
    const std::string clip = P(std::string("splice-") + c.name + ".mp4");
    bool ok = false;
    const std::string tags = Tags("320x240");
    if (std::string(c.make) == "openh264") {
        const std::string raw = P(std::string("splice-") + c.name + "-raw.mp4");
        Sh("gst-launch-1.0 -q videotestsrc num-buffers=90 ! video/x-raw,width=320,height=240,"
           "framerate=30/1 ! openh264enc gop-size=30 bitrate=1000000 rate-control=bitrate ! "
           "h264parse ! mp4mux ! filesink location='" +
               raw + "' 2>&1",
           &ok);
        ASSERT_TRUE(ok);
        // OpenH264 writes no colour description: add the output's to the SPS.
        Sh("ffmpeg -v error -y -i '" + raw +
               "' -c copy -bsf:v h264_metadata=colour_primaries=6:"
               "transfer_characteristics=6:matrix_coefficients=6:video_full_range_flag=0 '" +
               clip + "' 2>&1",
           &ok);
    } else {
        Sh("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240:r=30 -t 3 -c:v libx264 " +
               std::string(c.make) + " -pix_fmt yuv420p " + tags + " '" + clip + "' 2>&1",
           &ok);
    }
    ASSERT_TRUE(ok);
    const std::string out = P(std::string("spliced-") + c.name + ".mp4");
    const Result run = RunTavhost("render boxscatter --length 20f " + std::string(c.render) + " " +
                                  clip + " " + clip + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Frames(out), 160);
    EXPECT_EQ(OpenH264Frames(out, 320, 240), 160);
    EXPECT_EQ(AvcSpsCount(out) == 2, c.copies) << run.err;
    if (!c.copies && *c.says) {
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, Splices,
    ::testing::Values(
        SpliceCase{"noB", "-bf 0 -x264-params keyint=30:min-keyint=30:scenecut=0",
                   "--copy-unchanged", true, ""},
        SpliceCase{"baseline", "-profile:v baseline -x264-params keyint=30:min-keyint=30",
                   "--copy-unchanged", true, ""},
        SpliceCase{"zerolatency", "-tune zerolatency -x264-params keyint=30:min-keyint=30",
                   "--copy-unchanged", true, ""},
        SpliceCase{"medium", "-preset medium -x264-params keyint=30:min-keyint=30:scenecut=0",
                   "--copy-unchanged", true, ""},
        SpliceCase{"strictPyramid",
                   "-x264-params keyint=30:min-keyint=30:scenecut=0:b-pyramid=strict",
                   "--copy-unchanged", false, "splicing them could lose pictures"},
        SpliceCase{"openh264", "openh264", "--copy-unchanged", true, ""},
        SpliceCase{"previewNoB", "-bf 0 -x264-params keyint=30:min-keyint=30:scenecut=0",
                   "--preview --quiet", true, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
    const char* name;
    const char* make;  // ffmpeg options after the picture source
    const char* render;
    const char* says;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class NotCopied : public CopyUnchanged, public ::testing::WithParamInterface<RefusedCase> {};

// Clips whose pictures must not be copied are encoded, and one line says why.
TEST_P(NotCopied, EncodedAndSaid) {
    const RefusedCase& c = GetParam();
    const std::string clip = P(std::string("refused-") + c.name + ".mp4");
    bool ok = false;
    Sh("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240:r=30 -t 4 -c:v libx264 -pix_fmt "
       "yuv420p " +
           std::string(c.make) + " '" + clip + "' 2>&1",
       &ok);
    ASSERT_TRUE(ok);
    const std::string out = P(std::string("refused-") + c.name + "-out.mp4");
    const Result run = RunTavhost("render boxscatter --length 20f --copy-unchanged " +
                                  std::string(c.render) + " " + clip + " " + clip + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_NE(AvcSpsCount(out), 2);
    EXPECT_EQ(Frames(out), 220);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, NotCopied,
    ::testing::Values(
        RefusedCase{"hlg",
                    "-color_primaries smpte170m -color_trc arib-std-b67 -colorspace smpte170m "
                    "-color_range tv -x264-params keyint=30",
                    "", "its colour transfer is arib-std-b67, the output's smpte170m"},
        RefusedCase{"bt470bgPrimaries",
                    "-color_primaries bt470bg -color_trc smpte170m -colorspace smpte170m "
                    "-color_range tv -x264-params keyint=30",
                    "", "its colour primaries is bt470bg, the output's smpte170m"},
        RefusedCase{"untagged", "-x264-params keyint=30", "", "its colour primaries is not tagged"},
        RefusedCase{"oneIdr",
                    "-color_primaries smpte170m -color_trc smpte170m -colorspace smpte170m "
                    "-color_range tv -x264-params keyint=250:open-gop=1",
                    "", "it has no IDR picture after its first"},
        RefusedCase{"strict",
                    "-color_primaries smpte170m -color_trc smpte170m -colorspace smpte170m "
                    "-color_range tv -x264-params keyint=30",
                    "--strict", "--strict checks every picture by decoding it"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavtest

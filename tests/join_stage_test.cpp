// The join stage on its own: parts written by the movie writer as a render
// in parts writes them (H.264 pictures, exact float sound, the part's tags),
// joined, and the sets a join must refuse.
#include <gtest/gtest.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <cmath>
#include <filesystem>
#include <numbers>
#include <vector>

#include "media_types.h"
#include "movie_writer.h"
#include "part_join.h"
#include "part_tags.h"

namespace fs = std::filesystem;
using tavhost::media::PartTags;

namespace tavtest {
namespace {

constexpr int kW = 64, kH = 32, kRate = 48000;
constexpr tavhost::media::Rational kFps{25, 1};

// A part to write: its place and what it holds.
struct PartLayout {
    int index = 1, count = 1;
    int64_t first = 0, end = 0, total = 0;
    const char* plan = "plan-a";
    int64_t dropSamples = 0;  // sound missing at its end (a part cut short)
    bool noTags = false;
    int64_t notANumberAt = -1;  // a frame whose sound holds NaN (a damaged part)
};

class JoinStage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_ERROR);  // FFmpeg's own notes are not the tests'
        dir_ = fs::temp_directory_path() / ("tav-join-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string P(const std::string& name) { return dir_ + "/" + name; }

    // The sound of the whole render at sample s: a tone whose pitch changes
    // by the frame, so that a misplaced part's sound would show.
    static float Sound(int64_t s) {
        const double f = 200 + 10 * double(s / 1920);
        return float(0.25 * std::sin(2 * std::numbers::pi * f * double(s) / kRate));
    }

    // Writes part `layout` as NAME.mkv; each picture shows its frame's number
    // (moving content: the encoder's B pictures reorder them); an empty part holds
    // one black picture and no sound.
    static std::string Write(const std::string& name, const PartLayout& layout) {
        const std::string path = P(name + ".mkv");
        tavhost::media::MovieOptions options;
        options.format.width = kW;
        options.format.height = kH;
        options.format.fps = kFps;
        options.exactSound = true;
        PartTags tags;
        tags.index = layout.index;
        tags.count = layout.count;
        tags.first = layout.first;
        tags.end = layout.end;
        tags.total = layout.total;
        tags.rate = kFps;
        tags.plan = layout.plan;
        if (!layout.noTags) options.tags = tags.Tags();
        options.soundStart = tavhost::media::FrameSampleStart(layout.first, kFps, kRate);
        std::string error;
        auto writer = tavhost::media::MovieWriter::Open(path, options, &error);
        EXPECT_TRUE(writer) << error;
        if (!writer) return path;
        std::vector<uint32_t> pixels(size_t(kW) * kH);
        if (layout.end == layout.first) {
            std::fill(pixels.begin(), pixels.end(), 0xFF000000u);
            EXPECT_TRUE(writer->WriteVideo(pixels.data(), kW, &error)) << error;
        }
        for (int64_t f = layout.first; f < layout.end; ++f) {
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x)
                    pixels[size_t(y) * kW + size_t(x)] =
                        0xFF000000u | uint32_t((x * 4 + f * 7) & 0xFF) << 16 |
                        uint32_t((y * 8 + f * 3) & 0xFF) << 8 | uint32_t(f * 5 & 0xFF);
            EXPECT_TRUE(writer->WriteVideo(pixels.data(), kW, &error)) << error;
            const int64_t s0 = tavhost::media::FrameSampleStart(f, kFps, kRate);
            int64_t s1 = tavhost::media::FrameSampleStart(f + 1, kFps, kRate);
            if (f + 1 == layout.end) s1 -= layout.dropSamples;
            std::vector<float> sound;
            for (int64_t s = s0; s < s1; ++s)
                sound.insert(sound.end(), 2, f == layout.notANumberAt ? std::nanf("") : Sound(s));
            EXPECT_TRUE(writer->WriteAudio(sound.data(), int(s1 - s0), &error)) << error;
        }
        EXPECT_TRUE(writer->Finish(&error)) << error;
        return path;
    }

    // The parts of a render of `total` frames cut at `cuts`.
    static std::vector<std::string> Parts(const std::string& name, int64_t total,
                                          const std::vector<int64_t>& cuts) {
        std::vector<std::string> paths;
        std::vector<int64_t> at = {0};
        at.insert(at.end(), cuts.begin(), cuts.end());
        at.push_back(total);
        const int count = int(at.size()) - 1;
        for (int k = 0; k < count; ++k)
            paths.push_back(Write(name + "-" + std::to_string(k + 1), {.index = k + 1,
                                                                       .count = count,
                                                                       .first = at[size_t(k)],
                                                                       .end = at[size_t(k) + 1],
                                                                       .total = total}));
        return paths;
    }

    static inline std::string dir_;
};

// The pictures' presentation frames and the decoded sound of a movie.
struct Joined {
    std::vector<int64_t> frames;  // in file order
    std::vector<float> left;      // the first channel
};

Joined ReadJoined(const std::string& path) {
    Joined j;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return j;
    if (avformat_find_stream_info(fmt, nullptr) < 0) {
        avformat_close_input(&fmt);
        return j;
    }
    const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audio = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const AVCodec* codec =
        audio >= 0 ? avcodec_find_decoder(fmt->streams[audio]->codecpar->codec_id) : nullptr;
    AVCodecContext* dec = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (dec && (avcodec_parameters_to_context(dec, fmt->streams[audio]->codecpar) < 0 ||
                avcodec_open2(dec, codec, nullptr) < 0))
        avcodec_free_context(&dec);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (dec && avcodec_receive_frame(dec, frame) == 0) {
            const float* l = reinterpret_cast<const float*>(frame->data[0]);
            j.left.insert(j.left.end(), l, l + frame->nb_samples);
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == video) {
            const AVStream* st = fmt->streams[video];
            j.frames.push_back(av_rescale_q(pkt->pts - std::max<int64_t>(0, st->start_time),
                                            st->time_base, AVRational{kFps.den, kFps.num}));
        } else if (pkt->stream_index == audio && dec && avcodec_send_packet(dec, pkt) == 0) {
            drain();
        }
        av_packet_unref(pkt);
    }
    if (dec && avcodec_send_packet(dec, nullptr) == 0) drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return j;
}

struct CutCase {
    const char* name;
    int64_t total;
    std::vector<int64_t> cuts;  // where parts meet; equal neighbours make an empty part
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.name;
}

class Cuts : public JoinStage, public ::testing::WithParamInterface<CutCase> {};

// Whatever the cuts (empty parts among them, at the start or between, parts
// whose encoders reorder differently), every picture is in the movie once in
// its order, and the sound is the render's: all of it, each part's in place.
TEST_P(Cuts, JoinToEveryPictureAndTheSoundInPlace) {
    const CutCase& c = GetParam();
    std::vector<std::string> parts = Parts(c.name, c.total, c.cuts);
    std::reverse(parts.begin(), parts.end());  // given in any order
    const std::string movie = P(std::string(c.name) + ".mp4");
    tavhost::JoinSummary summary;
    std::string error;
    ASSERT_TRUE(tavhost::JoinParts(parts, movie, &summary, &error)) << error;
    EXPECT_EQ(summary.frames, c.total);
    const Joined j = ReadJoined(movie);
    std::vector<int64_t> sorted = j.frames;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(int64_t(sorted.size()), c.total);
    for (int64_t f = 0; f < c.total; ++f) EXPECT_EQ(sorted[size_t(f)], f);
    // AAC's delay is found against the render's own sound, then every
    // stretch of it matches: no part's sound is missing or out of place.
    const int64_t samples = tavhost::media::FrameSampleStart(c.total, kFps, kRate);
    ASSERT_GE(int64_t(j.left.size()), samples);
    int best = 0;
    double bestError = 1e9;
    for (int lag = 0; lag <= 2048; ++lag) {
        double e = 0;
        for (int64_t s = 4000; s < 6000; ++s) e += std::fabs(j.left[size_t(s + lag)] - Sound(s));
        if (e < bestError) bestError = e, best = lag;
    }
    for (int64_t from = 2048; from + 2048 < samples; from += 1920) {
        double e = 0, level = 0;
        for (int64_t s = from; s < from + 1024; ++s) {
            e += std::pow(j.left[size_t(s + best)] - Sound(s), 2);
            level += std::pow(Sound(s), 2);
        }
        EXPECT_LT(e, 0.01 * level) << "sound at sample " << from;
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, Cuts,
                         ::testing::Values(CutCase{"one", 40, {}}, CutCase{"three", 60, {20, 41}},
                                           CutCase{"emptyFirst", 50, {0, 25}},
                                           CutCase{"emptyBetween", 50, {30, 30}},
                                           CutCase{"emptyLast", 45, {45}},
                                           CutCase{"oneFrameFirst", 50, {1, 26}},
                                           CutCase{"twoFramesFirst", 40, {2}}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Sets that are not one render's whole ---

struct RefusalCase {
    const char* name;
    std::vector<PartLayout> parts;
    const char* says;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class Refusals : public JoinStage, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, SayWhyInOneLineAndWriteNothing) {
    const RefusalCase& c = GetParam();
    std::vector<std::string> paths;
    for (size_t k = 0; k < c.parts.size(); ++k)
        paths.push_back(Write(std::string(c.name) + "-" + std::to_string(k), c.parts[k]));
    const std::string movie = P(std::string(c.name) + ".mp4");
    tavhost::JoinSummary summary;
    std::string error;
    EXPECT_FALSE(tavhost::JoinParts(paths, movie, &summary, &error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(movie));
}

INSTANTIATE_TEST_SUITE_P(
    Sets, Refusals,
    ::testing::Values(
        RefusalCase{"missing",
                    {{.index = 1, .count = 3, .first = 0, .end = 10, .total = 30},
                     {.index = 3, .count = 3, .first = 20, .end = 30, .total = 30}},
                    "part 2 of 3 is missing"},
        RefusalCase{
            "soundNotANumbers",
            {{.index = 1, .count = 1, .first = 0, .end = 10, .total = 10, .notANumberAt = 4}},
            "is damaged: its sound holds values that are not numbers"},
        RefusalCase{"twice",
                    {{.index = 1, .count = 2, .first = 0, .end = 10, .total = 20},
                     {.index = 1, .count = 2, .first = 0, .end = 10, .total = 20},
                     {.index = 2, .count = 2, .first = 10, .end = 20, .total = 20}},
                    "part 1 of 2 is given twice"},
        RefusalCase{
            "anotherRender",
            {{.index = 1, .count = 2, .first = 0, .end = 10, .total = 20},
             {.index = 2, .count = 2, .first = 10, .end = 20, .total = 20, .plan = "plan-b"}},
            "is a part of another render"},
        RefusalCase{"gap",
                    {{.index = 1, .count = 2, .first = 0, .end = 10, .total = 20},
                     {.index = 2, .count = 2, .first = 11, .end = 20, .total = 20}},
                    "starts at frame 11, not where the part before it ends (10)"},
        RefusalCase{
            "soundCutShort",
            {{.index = 1, .count = 2, .first = 0, .end = 10, .total = 20, .dropSamples = 100},
             {.index = 2, .count = 2, .first = 10, .end = 20, .total = 20}},
            "is cut short: it holds 10 of its 10 frames and 19100 of its 19200"},
        RefusalCase{"notAPart",
                    {{.index = 1, .count = 1, .first = 0, .end = 10, .total = 10, .noTags = true}},
                    "is not a part of a render"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavtest

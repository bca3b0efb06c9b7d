// The write stage on its own: sinks and the movie writer fed frames made in
// memory, their files read back with FFmpeg's libraries.
#include <gtest/gtest.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "sinks.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

constexpr int kW = 32, kH = 16;

class WriteStage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_ERROR);  // FFmpeg's own notes are not the tests'
        dir_ = fs::temp_directory_path() / ("tav-write-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string P(const std::string& name) { return dir_ + "/" + name; }

    // Renders `frames` pictures, each filled with its number, into `output`.
    static void Render(const std::string& output, int frames, int w = kW, int h = kH) {
        tavhost::SinkOptions options;
        options.format.width = w;
        options.format.height = h;
        options.format.fps = {30, 1};
        std::string error;
        auto sink = tavhost::OpenSink(output, options, &error);
        ASSERT_TRUE(sink) << error;
        std::vector<uint32_t> pixels(size_t(w) * h);
        const int samples = 48000 / 30;
        std::vector<float> sound(size_t(samples) * 2, 0.0f);
        for (int f = 0; f < frames; ++f) {
            std::fill(pixels.begin(), pixels.end(), 0xFF000000u | uint32_t(f * 8) << 8);
            ASSERT_TRUE(sink->Video(pixels.data(), w, &error)) << error;
            ASSERT_TRUE(sink->Audio(sound.data(), samples, &error)) << error;
        }
        ASSERT_TRUE(sink->Finish(&error)) << error;
        ASSERT_TRUE(sink->Commit(&error)) << error;
    }

    static std::set<std::string> Names(const std::string& folder) {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename());
        return names;
    }

    static inline std::string dir_;
};

// --- A folder of frames ---

struct RerenderCase {
    const char* name;
    const char* output;  // the folder, or a frame pattern in it
    const char* first;   // how the first frames are named: printf of the frame number
    int before, after;   // frames of the earlier render and of this one
};

void PrintTo(const RerenderCase& c, std::ostream* os) {
    *os << c.name;
}

class Rerender : public WriteStage, public ::testing::WithParamInterface<RerenderCase> {};

// A second render into the same folder leaves that render's frames and the
// user's own files: no earlier frame past its end, not even the next one.
TEST_P(Rerender, LeavesOnlyItsOwnFramesOfThePattern) {
    const RerenderCase& c = GetParam();
    const std::string folder = P(c.name);
    fs::create_directories(folder);
    const std::vector<std::string> mine = {"notes.txt", "frame1.png", "cover.jpg"};
    for (const std::string& name : mine) std::ofstream(folder + "/" + name) << name;
    const std::string output = folder + "/" + c.output;
    Render(output, c.before);
    Render(output, c.after);
    std::set<std::string> want(mine.begin(), mine.end());
    for (int i = 0; i < c.after; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, c.first, i);
        want.insert(name);
    }
    EXPECT_EQ(Names(folder), want);
}

INSTANTIATE_TEST_SUITE_P(Folders, Rerender,
                         ::testing::Values(RerenderCase{"folder", "", "frame%04d.png", 10, 9},
                                           RerenderCase{"shorter", "", "frame%04d.png", 7, 2},
                                           RerenderCase{"unpadded", "f%d.png", "f%d.png", 12, 11},
                                           RerenderCase{"jpeg", "%03d.jpg", "%03d.jpg", 4, 1},
                                           RerenderCase{"longer", "", "frame%04d.png", 3, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Movies ---

// Each stream's packets as the file holds them: pts in seconds, in file order.
struct Stream {
    std::vector<double> pts, dts;
    double end = 0;  // the latest pts + duration
};

std::vector<Stream> ReadPackets(const std::string& path, std::vector<int>* fileOrder = nullptr) {
    AVFormatContext* fmt = nullptr;
    std::vector<Stream> streams;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return streams;
    if (avformat_find_stream_info(fmt, nullptr) < 0) {
        avformat_close_input(&fmt);
        return streams;
    }
    streams.resize(fmt->nb_streams);
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
        const AVRational tb = fmt->streams[pkt->stream_index]->time_base;
        Stream& s = streams[size_t(pkt->stream_index)];
        s.pts.push_back(double(pkt->pts) * av_q2d(tb));
        if (pkt->dts != AV_NOPTS_VALUE) s.dts.push_back(double(pkt->dts) * av_q2d(tb));
        s.end = std::max(s.end, double(pkt->pts + pkt->duration) * av_q2d(tb));
        if (fileOrder) fileOrder->push_back(pkt->stream_index);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    return streams;
}

class Movies : public WriteStage, public ::testing::WithParamInterface<const char*> {};

// Every picture is in the movie once, one frame after the other (to the
// container's clock: Matroska's is 1 ms; the pictures may start later by the
// sound encoder's priming); decode times rise;
// the sound is as long as the pictures; the two streams are interleaved,
// not written one after the other.
TEST_P(Movies, HoldEveryFrameInOrderInterleaved) {
    const std::string movie = P(std::string("movie.") + GetParam());
    for (const int frames : {1, 2, 31, 64}) {
        Render(movie, frames);
        std::vector<int> order;
        const std::vector<Stream> streams = ReadPackets(movie, &order);
        ASSERT_EQ(streams.size(), 2u) << frames;
        std::vector<double> pts = streams[0].pts;
        std::sort(pts.begin(), pts.end());
        ASSERT_EQ(pts.size(), size_t(frames));
        EXPECT_GE(pts[0], 0.0);
        EXPECT_LT(pts[0], 1024 / 44100.0);
        for (int f = 0; f < frames; ++f)
            EXPECT_NEAR(pts[size_t(f)] - pts[0], f / 30.0, 1.001e-3) << f;
        for (const Stream& s : streams)
            for (size_t k = 1; k < s.dts.size(); ++k) EXPECT_GT(s.dts[k], s.dts[k - 1]) << k;
        ASSERT_FALSE(streams[1].pts.empty());
        EXPECT_GE(streams[1].end - streams[1].pts.front(), frames / 30.0 - 1e-3);
        if (frames >= 31) {
            // Neither stream runs more than a second ahead of the other in the file.
            size_t switches = 0;
            for (size_t k = 1; k < order.size(); ++k) switches += order[k] != order[k - 1];
            EXPECT_GE(switches, 2u) << frames;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, Movies, ::testing::Values("mp4", "mkv", "mov", "webm"));

// What a sink cannot write is refused before anything is made.
struct RefusalCase {
    const char* name;
    const char* output;
    const char* says;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class Refused : public WriteStage, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refused, WithTheReasonAndNoFile) {
    const std::string output = P(GetParam().output);
    tavhost::SinkOptions options;
    options.format.width = kW;
    options.format.height = kH;
    options.format.fps = {30, 1};
    std::string error;
    EXPECT_FALSE(tavhost::OpenSink(output, options, &error));
    EXPECT_NE(error.find(GetParam().says), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(output));
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, Refused,
    ::testing::Values(RefusalCase{"unknownExtension", "movie.avi", "use a .mp4, .mov, .mkv"},
                      RefusalCase{"folderMissing", "nowhere/movie.mp4", "nowhere"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavtest

#include "support/clip_fixtures.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <sstream>

#include "movie_writer.h"
#include "staged_output.h"

namespace fs = std::filesystem;
using tavhost::media::ClipReader;
using tavhost::media::Frame;
using tavhost::media::MovieWriter;

namespace tavtest {

namespace {

// The test programs read nothing from their standard input, and neither may
// the programs they start: ffmpeg would take what it finds there for its
// keyboard commands. Every child inherits /dev/null instead.
const bool kNoInput = [] {
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = dup2(fd, STDIN_FILENO) == STDIN_FILENO;
    close(fd);
    return ok;
}();

// The modification time of a file, as a folder name; "0" when it has none.
std::string Stamp(const fs::path& file) {
    std::error_code ec;
    const auto time = fs::last_write_time(file, ec);
    return ec ? "0" : std::to_string(time.time_since_epoch().count());
}

// Where made clips are kept: clips our own writer made under the time the
// writer's library was built (a changed writer makes them again; a changed
// test does not), clips the ffmpeg program made under the time of the ffmpeg
// found on the PATH (a new FFmpeg makes them again).
std::string CacheDir(bool ours) {
    std::string stamp = "0";
    if (ours) {
        stamp = "writer-" + Stamp(TAV_WRITE_LIBRARY);
    } else {
        const char* path = std::getenv("PATH");
        std::istringstream dirs(path ? path : "/usr/bin");
        for (std::string dir; std::getline(dirs, dir, ':');)
            if (!dir.empty() && fs::exists(fs::path(dir) / "ffmpeg")) {
                stamp = "ffmpeg-" + Stamp(fs::path(dir) / "ffmpeg");
                break;
            }
    }
    const std::string dir = std::string(TAV_TEST_CLIP_CACHE) + "/" + stamp;
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

void EncodeClip(const std::string& path, int frames, int hue, double tone, int w, int h) {
    MovieWriter::Options options;
    options.format.width = w;
    options.format.height = h;
    options.format.fps = kFps;
    std::string error;
    auto writer = MovieWriter::Open(path, options, &error);
    ASSERT_TRUE(writer) << error;
    std::vector<uint32_t> pixels(size_t(w) * h);
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels[size_t(y) * w + x] = 0xFF000000u | uint32_t((hue + x + f * 3) & 0xFF) << 16 |
                                            uint32_t((y * 2 + hue) & 0xFF) << 8 |
                                            uint32_t((x + y + f) & 0x7F);
        ASSERT_TRUE(writer->WriteVideo(pixels.data(), w, &error)) << error;
        const int64_t s0 = tavhost::media::FrameSampleStart(f, kFps);
        const int64_t s1 = tavhost::media::FrameSampleStart(f + 1, kFps);
        std::vector<float> sound;
        for (int64_t s = s0; s < s1; ++s) {
            const float v = float(0.3 * std::sin(2 * std::numbers::pi * tone * double(s) / 48000));
            sound.push_back(v);
            sound.push_back(v);
        }
        ASSERT_TRUE(writer->WriteAudio(sound.data(), int(sound.size() / 2), &error)) << error;
    }
    ASSERT_TRUE(writer->Finish(&error)) << error;
}

}  // namespace

bool Cached(const std::string& key, const std::string& path,
            const std::function<void(const std::string&)>& make) {
    const std::string cached = CacheDir(key.rfind("ffmpeg-", 0) != 0) + "/" + key;
    std::error_code ec;
    if (!fs::exists(cached, ec)) {
        // Made under a name of this process's own, then moved into place whole.
        const std::string ext = fs::path(key).extension().string();
        const std::string temp = cached + "." + std::to_string(getpid()) + ".part" + ext;
        make(temp);
        if (::testing::Test::HasFatalFailure() || !fs::exists(temp, ec)) return false;
        fs::rename(temp, cached, ec);
        if (ec) return false;
    }
    fs::copy_file(cached, path, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

bool FfmpegClip(const std::string& path, const std::string& args) {
    const std::string key = "ffmpeg-" + std::to_string(std::hash<std::string>{}(args)) +
                            fs::path(path).extension().string();
    return Cached(key, path, [&](const std::string& temp) {
        bool ok = false;
        const std::string out = Sh("ffmpeg -v error -y " + args + " '" + temp + "' 2>&1", &ok);
        EXPECT_TRUE(ok) << args << ": " << out;
    });
}

// A clip whose pictures change with the frame and whose sound is a steady tone
// (or silence when `tone` is 0).
void MakeClip(const std::string& path, int frames, int hue, double tone, int w, int h) {
    char key[96];
    std::snprintf(key, sizeof key, "clip-%dx%d-%d-%d-%g%s", w, h, frames, hue, tone,
                  fs::path(path).extension().string().c_str());
    EXPECT_TRUE(Cached(key, path, [&](const std::string& temp) {
        EncodeClip(temp, frames, hue, tone, w, h);
    })) << path;
}

// Every frame of a clip (or PNG folder) as the host reads it.
std::vector<Frame> ReadAll(const std::string& path, int w, int h) {
    std::string error;
    tavhost::media::ClipInfo info;
    EXPECT_TRUE(tavhost::media::Probe(path, &info, &error)) << error;
    ClipReader::Options options;
    options.output.width = w;
    options.output.height = h;
    options.output.fps = info.fps;                  // every frame of the file, whatever its rate
    options.stillSeconds = 1.0 / info.fps.Value();  // a picture file is one frame
    auto reader = ClipReader::Open(path, options, &error);
    EXPECT_TRUE(reader) << error;
    std::vector<Frame> frames;
    if (!reader) return frames;
    for (int64_t i = 0; i < reader->FrameCount(); ++i) {
        const Frame* f = reader->Get(i, &error);
        if (!f) break;
        f->Pixels();
        frames.push_back(*f);
    }
    return frames;
}

bool StagedIn(const std::string& dir) {
    std::error_code ec;
    for (fs::directory_iterator it(dir.empty() ? "." : dir, ec), end; !ec && it != end;
         it.increment(ec))
        if (tavhost::IsStagedName(it->path().filename().string())) return true;
    return false;
}

bool StagedBeside(const std::string& path) {
    return StagedIn(fs::path(path).parent_path().string());
}

std::string PngFolder(const std::string& dir) {
    return dir + "/frame%04d.png";
}

double Rms(const Frame& f) {
    double sum = 0;
    for (float v : f.audio) sum += double(v) * v;
    return f.audio.empty() ? 0 : std::sqrt(sum / double(f.audio.size()));
}

// Mean RMS of frames [from, to).
double Rms(const std::vector<Frame>& frames, int from, int to) {
    double sum = 0;
    for (int i = from; i < to; ++i) sum += Rms(frames[size_t(i)]);
    return sum / (to - from);
}

Result RunTavhost(const std::string& args, const std::string& env) {
    const std::string errFile =
        fs::temp_directory_path() / ("tavhost-err-" + std::to_string(getpid()));
    const std::string cmd =
        env + " " + std::string(TAVHOST_PATH) + " " + args + " >/dev/null 2>" + errFile;
    Result run;
    const int rc = std::system(cmd.c_str());
    run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    std::ifstream in(errFile);
    std::stringstream ss;
    ss << in.rdbuf();
    run.err = ss.str();
    fs::remove(errFile);
    return run;
}

std::string Sh(const std::string& cmd, bool* ok) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    const int rc = pclose(p);
    if (ok) *ok = WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
    return out;
}

std::string Probe(const std::string& path, const std::string& stream, const std::string& entries,
                  bool count) {
    std::string out =
        Sh("ffprobe -v error " + std::string(count ? "-count_frames " : "") + "-select_streams " +
           stream + " -show_entries stream=" + entries + " -of csv=p=0 '" + path + "'");
    while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
    return out;
}

int64_t Frames(const std::string& path) {
    return std::atoll(Probe(path, "v", "nb_read_frames", true).c_str());
}

std::vector<std::string> FrameMd5s(const std::string& path) {
    std::istringstream in(Sh("ffmpeg -v error -i '" + path + "' -map 0:v -f framemd5 -"));
    std::vector<std::string> md5s;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') md5s.push_back(line.substr(line.rfind(' ') + 1));
    return md5s;
}

}  // namespace tavtest

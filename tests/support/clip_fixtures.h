// Clips made by the tests, read back as the host reads them, and the
// tavhost program run as a user runs it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "clip_reader.h"

namespace tavtest {

constexpr int kW = 160, kH = 96;
constexpr tavhost::media::Rational kFps{30, 1};

// Gives `path` a copy of the file `key` names, made once by `make` (called
// with the name to write, which has the key's extension): again when the
// writer is rebuilt, or for keys starting "ffmpeg-", when FFmpeg changes.
// False when it could not be made.
bool Cached(const std::string& key, const std::string& path,
            const std::function<void(const std::string&)>& make);

// Gives `path` what `ffmpeg -v error -y ARGS OUTPUT` makes (the output's
// kind told by `path`'s extension), made once per FFmpeg.
bool FfmpegClip(const std::string& path, const std::string& args);

// A clip whose pictures change with the frame and whose sound is a steady tone
// (or silence when `tone` is 0).
void MakeClip(const std::string& path, int frames, int hue, double tone, int w = kW, int h = kH);

// Every frame of a clip (or PNG folder) as the host reads it.
std::vector<tavhost::media::Frame> ReadAll(const std::string& path, int w = kW, int h = kH);

// The frames of a PNG folder output, as a pattern ReadAll takes.
std::string PngFolder(const std::string& dir);

// RMS of a frame's sound, and the mean RMS of frames [from, to).
double Rms(const tavhost::media::Frame& f);
double Rms(const std::vector<tavhost::media::Frame>& frames, int from, int to);

struct Result {
    int status = -1;
    std::string err;
};

// Whether a temporary staging file or folder of a render is in `dir`, or
// beside `path`.
bool StagedIn(const std::string& dir);
bool StagedBeside(const std::string& path);

// Runs tavhost with `args` (shell words), stdout dropped; `env` is put before
// the command ("NAME=value ...").
Result RunTavhost(const std::string& args, const std::string& env = "");

// Runs a shell command; its standard output, and whether it succeeded.
std::string Sh(const std::string& cmd, bool* ok = nullptr);
// Fields of a file's first video ("v") or audio ("a") stream as ffprobe gives
// them, comma-separated; `count` decodes to count the frames.
std::string Probe(const std::string& path, const std::string& stream, const std::string& entries,
                  bool count = false);
// Frames of a file's video, counted by decoding.
int64_t Frames(const std::string& path);
// The MD5 of every decoded picture of a file's video.
std::vector<std::string> FrameMd5s(const std::string& path);

}  // namespace tavtest

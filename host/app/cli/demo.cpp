// The built-in demo: two generated clips with distinct pictures and tones,
// every transition rendered on them, with contact sheets and the placeholder.
#include "demo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>

#include "host.h"
#include "movie_writer.h"
#include "placeholder_png.h"
#include "render_defaults.h"
#include "scoped_port.h"
#include "sequence_plan.h"
#include "staged_output.h"
#include "tav/draw_host.h"
#include "tav/mac_roman.h"
#include "user_text.h"

namespace fs = std::filesystem;

namespace tavhost {

namespace {

constexpr int kWidth = 640, kHeight = 360, kFrames = 90;
constexpr media::Rational kFps{30, 1};

uint32_t Rgb(double r, double g, double b) {
    auto c = [](double v) { return uint32_t(std::clamp(v, 0.0, 1.0) * 255.0 + 0.5); };
    return 0xFF000000u | (c(r) << 16) | (c(g) << 8) | c(b);
}

// Clip A: a warm gradient with a bouncing white ball; a 440 Hz tone.
// Clip B: cool scrolling stripes with a sliding square; a pulsing 660 Hz tone.
void DrawPicture(bool second, int frame, PixMap& pm) {
    const double t = double(frame) / kFps.Value();
    for (int y = 0; y < kHeight; ++y) {
        uint32_t* row = TavPixelRow(pm, y);
        for (int x = 0; x < kWidth; ++x) {
            const double u = double(x) / kWidth, v = double(y) / kHeight;
            if (!second) {
                row[x] = Rgb(0.95 - 0.4 * v, 0.45 + 0.25 * std::sin(u * 3 + t), 0.2 + 0.5 * v);
            } else {
                const bool stripe = int((x + y) / 24.0 + t * 4) % 2 == 0;
                row[x] = stripe ? Rgb(0.1, 0.35 + 0.2 * u, 0.7) : Rgb(0.05, 0.6, 0.6 + 0.2 * v);
            }
        }
    }
    if (!second) {
        const double bx = 60 + (kWidth - 120) * std::abs(std::sin(t * 1.3));
        const double by = kHeight - 60 - (kHeight - 120) * std::abs(std::sin(t * 2.9));
        for (int y = std::max(0, int(by) - 40); y < std::min(kHeight, int(by) + 40); ++y)
            for (int x = std::max(0, int(bx) - 40); x < std::min(kWidth, int(bx) + 40); ++x)
                if ((x - bx) * (x - bx) + (y - by) * (y - by) < 1600)
                    TavPixelRow(pm, y)[x] = 0xFFFFFFFFu;
    } else {
        const int sx = int(40 + (kWidth - 160) * (0.5 + 0.5 * std::sin(t * 1.7)));
        for (int y = 140; y < 220; ++y)
            for (int x = sx; x < sx + 80; ++x) TavPixelRow(pm, y)[x] = Rgb(0.95, 0.85, 0.1);
    }
}

void DrawLabel(GWorldPtr world, const char* text) {
    ScopedPort port(world);
    Str255 s;
    ToPascal(text, s);
    TextSize(72);
    ForeColor(blackColor);
    MoveTo(26, 96);
    DrawString(s);
    ForeColor(whiteColor);
    MoveTo(24, 94);
    DrawString(s);
}

// A world that is disposed of when it goes out of scope.
struct ScratchWorld {
    GWorldPtr world = nullptr;
    ScratchWorld(int width, int height) {
        const Rect bounds = {0, 0, int16_t(height), int16_t(width)};
        if (NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0) != noErr) world = nullptr;
    }
    ~ScratchWorld() { DisposeGWorld(world); }
    ScratchWorld(const ScratchWorld&) = delete;
    ScratchWorld& operator=(const ScratchWorld&) = delete;
};

bool WriteClip(const std::string& path, const std::string& shown, bool second, std::string* error) {
    const media::MovieOptions options{.format = {.width = kWidth, .height = kHeight, .fps = kFps},
                                      .matrix = media::OutputMatrix(kHeight),
                                      .encoding = {.container = "mp4"},
                                      .shown = shown};
    auto writer = media::MovieWriter::Open(path, options, error);
    if (!writer) return false;
    ScratchWorld scratch(kWidth, kHeight);
    if (!scratch.world) {
        *error = "out of memory";
        return false;
    }
    PixMap& pm = **GetGWorldPixMap(scratch.world);
    const double tone = second ? 660.0 : 440.0;
    for (int f = 0; f < kFrames; ++f) {
        DrawPicture(second, f, pm);
        DrawLabel(scratch.world, second ? "Clip B" : "Clip A");
        if (!writer->WriteVideo(pm.baseAddr, pm.rowBytes / 4, error)) return false;
        const int64_t s0 = media::FrameSampleStart(f, kFps),
                      s1 = media::FrameSampleStart(f + 1, kFps);
        std::vector<float> sound;
        for (int64_t s = s0; s < s1; ++s) {
            const double t = double(s) / media::kSampleRate;
            const double amp =
                second ? 0.25 * (0.6 + 0.4 * std::sin(2 * std::numbers::pi * 2 * t)) : 0.25;
            const float v = float(amp * std::sin(2 * std::numbers::pi * tone * t));
            sound.push_back(v);
            sound.push_back(v);
        }
        if (!writer->WriteAudio(sound.data(), int(sound.size() / 2), error)) return false;
    }
    return writer->Finish(error);
}

bool MakeClip(const std::string& path, bool second, std::string* error) {
    StagedOutput staged(path, StagedOutput::Kind::kFile);
    if (!staged.Prepare(error)) return false;
    return WriteClip(staged.TempPath(), Quoted(path), second, error) && staged.Commit(error);
}

// A sequence from an edit file: the first clip trimmed, the placeholder as a
// still, the second clip; opened, joined twice and closed.
bool RenderMontage(const std::string& dir, bool quiet, std::vector<std::string>* written,
                   std::string* error) {
    const std::string edit = (fs::path(dir) / "montage.json").string();
    StagedOutput staged(edit, StagedOutput::Kind::kFile);
    if (!staged.Prepare(error)) return false;
    std::ofstream(staged.TempPath()) << R"({
  "clips": [{"path": "clipA.mp4", "in": 0.5}, {"path": "placeholder.png", "duration": 2},
            {"path": "clipB.mp4", "out": "80f"}],
  "open": {"bundle": "boxrevealblack", "variant": 4, "length": 0.5},
  "joins": [{"bundle": "boxscatter", "variant": 2, "length": 0.6},
            {"bundle": "boxscatter", "variant": 4, "length": "20f"}],
  "close": {"bundle": "boxconcealwhite", "variant": 3, "length": 0.8}
}
)";
    std::error_code ec;
    if (fs::file_size(staged.TempPath(), ec) == 0 || ec) {
        *error = "cannot write " + Quoted(edit);
        return false;
    }
    if (!staged.Commit(error)) return false;
    RenderJob render;
    render.editFile = edit;
    render.transition.seed = 1;
    render.output = (fs::path(dir) / "montage.mp4").string();
    render.contactSheet = (fs::path(dir) / "montage.png").string();
    render.quiet = quiet;
    RenderSummary summary;
    Error failed;
    if (!Render(render, &summary, &failed)) {
        *error = failed.text;
        return false;
    }
    written->push_back(edit);
    written->push_back(render.output);
    written->push_back(render.contactSheet);
    return true;
}

}  // namespace

bool RunDemo(const std::string& dir, bool quiet, std::vector<std::string>* written,
             std::string* error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        *error = "cannot make the folder " + Quoted(dir) + (ec ? ": " + ec.message() : "");
        return false;
    }
    const std::string clipA = (fs::path(dir) / "clipA.mp4").string();
    const std::string clipB = (fs::path(dir) / "clipB.mp4").string();
    if (!MakeClip(clipA, false, error) || !MakeClip(clipB, true, error)) return false;
    written->push_back(clipA);
    written->push_back(clipB);

    struct Job {
        const char* bundle;
        int16_t variant;
        std::vector<std::string> clips;
    };
    const Job jobs[] = {
        {"boxscatter", 3, {clipA, clipB}}, {"boxrevealwhite", 3, {clipB}},
        {"boxrevealblack", 4, {clipB}},    {"boxconcealwhite", 3, {clipA}},
        {"boxconcealblack", 2, {clipA}},
    };
    for (const Job& job : jobs) {
        RenderJob render;
        render.transition.bundle = job.bundle;
        render.transition.variant = job.variant;
        render.transition.speed = defaults::kSpeed;
        render.transition.seed = 1;
        render.clips.assign(job.clips.begin(), job.clips.end());
        render.output = (fs::path(dir) / (std::string(job.bundle) + ".mp4")).string();
        render.contactSheet = (fs::path(dir) / (std::string(job.bundle) + ".png")).string();
        render.quiet = quiet;
        RenderSummary summary;
        Error failed;
        if (!Render(render, &summary, &failed)) {
            *error = failed.text;
            return false;
        }
        for (const std::string& w : summary.warnings)
            std::fprintf(stderr, "tavhost: warning: %s\n", w.c_str());
        written->push_back(render.output);
        written->push_back(render.contactSheet);
    }
    const std::string placeholder = (fs::path(dir) / "placeholder.png").string();
    if (!RenderPlaceholder("boxscatter", kWidth, kHeight, "", placeholder, error)) return false;
    written->push_back(placeholder);
    return RenderMontage(dir, quiet, written, error);
}

}  // namespace tavhost

// tavhost: loads the transition bundles and renders them on real clips.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "demo.h"
#include "loaded_bundle.h"
#include "placeholder_png.h"
#include "render.h"
#include "variants.h"

namespace {

using tavhost::RenderJob;

constexpr const char* kUsage =
    "usage: tavhost COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  list         the bundles found, their variants, type and length\n"
    "  render       render a transition on clips into a movie or PNG frames\n"
    "  placeholder  draw a bundle's placeholder into a PNG file\n"
    "  demo         render every transition on two generated clips\n"
    "\n"
    "'tavhost COMMAND --help' tells more.\n";

constexpr const char* kRenderUsage =
    "usage: tavhost render BUNDLE [options] CLIP... -o OUT\n"
    "\n"
    "Renders the edited sequence with the transition: between two clips it overlaps\n"
    "the end of the first with the start of the second; at the start or end of one\n"
    "clip it covers the clip's first or last frames.\n"
    "\n"
    "  --variant N          the bundle's variant (default 3)\n"
    "  --speed S            transition speed, 0 (10 frames) to 1 (120 frames); default 0.5\n"
    "  --seed N             seed the random sequence, so the render can be repeated\n"
    "  --preview            preview quality: no sound mixing, faster scaling\n"
    "  --size WxH           output size (default: the first clip's)\n"
    "  --caption TEXT       the host's placeholder caption\n"
    "  --contact-sheet PNG  also write frames of the transition side by side\n"
    "  --quiet              no progress bar\n"
    "  -o OUT               .mp4, .mov or .mkv (H.264 and AAC), or a folder for PNG frames\n";

constexpr const char* kListUsage =
    "usage: tavhost list [--speed S]\n"
    "\n"
    "Lists the bundles found in TAV_PLUGIN_PATH, the installed plug-in folder and the\n"
    "build tree, with each variant's type and length at the speed (default 0.5).\n";

constexpr const char* kPlaceholderUsage =
    "usage: tavhost placeholder BUNDLE [--size WxH] [--caption TEXT] -o FILE.png\n";

constexpr const char* kDemoUsage =
    "usage: tavhost demo [-o DIR] [--quiet]\n"
    "\n"
    "Makes two clips of its own, renders all five transitions on them (a movie and a\n"
    "contact sheet each) and the placeholder, into DIR (default: demo).\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "tavhost: error: %s\n", message.c_str());
    return tavhost::gInterrupted ? 130 : 1;
}

// A mistake on the command line: one line, and where to read more.
int Usage(const std::string& message, const char* command) {
    std::fprintf(stderr, "tavhost: error: %s (see 'tavhost %s--help')\n", message.c_str(), command);
    return 2;
}

bool ParseInt(const std::string& s, long long lo, long long hi, long long* out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool ParseSize(const std::string& s, int* w, int* h) {
    const size_t x = s.find('x');
    long long a, b;
    if (x == std::string::npos || !ParseInt(s.substr(0, x), 2, 16384, &a) ||
        !ParseInt(s.substr(x + 1), 2, 16384, &b))
        return false;
    *w = int(a);
    *h = int(b);
    return true;
}

// Walks the arguments: options with values and plain words.
class Args {
  public:
    Args(int argc, char** argv, int first) : args_(argv + first, argv + argc) {}
    bool Done() const { return i_ >= args_.size(); }
    const std::string& Peek() const { return args_[i_]; }
    std::string Next() { return args_[i_++]; }
    bool Value(std::string* out) {
        if (Done()) return false;
        *out = Next();
        return true;
    }

  private:
    std::vector<std::string> args_;
    size_t i_ = 0;
};

bool IsHelp(const std::string& a) {
    return a == "--help" || a == "-h";
}

int CmdList(Args& args) {
    float speed = 0.5f;
    while (!args.Done()) {
        const std::string a = args.Next();
        std::string v;
        if (IsHelp(a)) return std::fputs(kListUsage, stdout), 0;
        if (a == "--speed" && args.Value(&v)) {
            speed = std::strtof(v.c_str(), nullptr);
            if (!(speed >= 0 && speed <= 1)) return Usage("speed must be between 0 and 1", "list ");
        } else {
            return Usage("unknown option " + a, "list ");
        }
    }
    const std::vector<std::string> bundles = tavhost::FindBundles();
    if (bundles.empty()) return Fail("no bundles found (set TAV_PLUGIN_PATH)");
    for (const std::string& path : bundles) {
        std::vector<tavhost::VariantInfo> variants;
        std::string error;
        std::unique_ptr<tavhost::Bundle> bundle = tavhost::Bundle::Open(path, &error);
        if (!bundle || !tavhost::DescribeVariants(*bundle, speed, &variants, &error)) {
            std::printf("%s  (%s)\n", path.c_str(), error.c_str());
            continue;
        }
        std::printf("%s  %s\n", bundle->Name().c_str(), path.c_str());
        for (const tavhost::VariantInfo& v : variants) {
            const char* where = v.type == kPluginTransitionBetweenType  ? "between two clips"
                                : v.type == kPluginTransitionBeforeType ? "at the start of a clip"
                                : v.type == kPluginTransitionAfterType  ? "at the end of a clip"
                                                                        : "other";
            std::string boxes = v.which <= 4 ? "box " + std::to_string(1 << v.which) + " px" : "";
            std::string length =
                v.frames >= 0 ? std::to_string(v.frames) + " frames" : "no frames of its own";
            std::printf("  variant %d  %-10s %-24s %-22s takes %d before, %d after\n", v.which,
                        boxes.c_str(), where, length.c_str(), v.takeBefore, v.takeAfter);
        }
    }
    return 0;
}

int CmdRender(Args& args) {
    RenderJob job;
    while (!args.Done()) {
        const std::string a = args.Next();
        std::string v;
        long long n;
        if (IsHelp(a)) return std::fputs(kRenderUsage, stdout), 0;
        if (a == "--variant") {
            if (!args.Value(&v) || !ParseInt(v, -32768, 32767, &n))
                return Usage("--variant takes a number", "render ");
            job.variant = int16_t(n);
        } else if (a == "--speed") {
            char* end = nullptr;
            if (!args.Value(&v) || (job.speed = std::strtof(v.c_str(), &end), *end) ||
                !(job.speed >= 0 && job.speed <= 1))
                return Usage("--speed takes a number from 0 to 1", "render ");
        } else if (a == "--seed") {
            if (!args.Value(&v) || !ParseInt(v, 0, 4294967295LL, &n))
                return Usage("--seed takes a number from 0 to 4294967295", "render ");
            job.seed = uint32_t(n);
        } else if (a == "--preview") {
            job.preview = true;
        } else if (a == "--quiet" || a == "-q") {
            job.quiet = true;
        } else if (a == "--size") {
            if (!args.Value(&v) || !ParseSize(v, &job.width, &job.height))
                return Usage("--size takes WIDTHxHEIGHT", "render ");
        } else if (a == "--caption") {
            if (!args.Value(&job.caption)) return Usage("--caption takes a text", "render ");
        } else if (a == "--contact-sheet") {
            if (!args.Value(&job.contactSheet))
                return Usage("--contact-sheet takes a file name", "render ");
        } else if (a == "-o" || a == "--output") {
            if (!args.Value(&job.output)) return Usage("-o takes a file name", "render ");
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option " + a, "render ");
        } else if (job.bundle.empty()) {
            job.bundle = a;
        } else {
            job.clips.push_back(a);
        }
    }
    if (job.bundle.empty()) return Usage("no bundle given", "render ");
    if (job.clips.empty()) return Usage("no clip given", "render ");
    if (job.output.empty()) return Usage("no output given (-o OUT)", "render ");
    tavhost::RenderSummary summary;
    std::string error;
    const bool ok = tavhost::Render(job, &summary, &error);
    for (const std::string& w : summary.warnings)
        std::fprintf(stderr, "tavhost: warning: %s\n", w.c_str());
    if (!ok) return Fail(error);
    if (!job.quiet && isatty(STDERR_FILENO))
        std::fprintf(
            stderr, "%s: %lld frames (transition: %d frames from frame %lld), seed %u, %.1f s\n",
            job.output.c_str(), static_cast<long long>(summary.frames), summary.transitionFrames,
            static_cast<long long>(summary.transitionStart), summary.seed, summary.seconds);
    return 0;
}

int CmdPlaceholder(Args& args) {
    std::string bundle, caption, output;
    int w = 640, h = 360;
    while (!args.Done()) {
        const std::string a = args.Next();
        std::string v;
        if (IsHelp(a)) return std::fputs(kPlaceholderUsage, stdout), 0;
        if (a == "--size") {
            if (!args.Value(&v) || !ParseSize(v, &w, &h))
                return Usage("--size takes WIDTHxHEIGHT", "placeholder ");
        } else if (a == "--caption") {
            if (!args.Value(&caption)) return Usage("--caption takes a text", "placeholder ");
        } else if (a == "-o" || a == "--output") {
            if (!args.Value(&output)) return Usage("-o takes a file name", "placeholder ");
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option " + a, "placeholder ");
        } else if (bundle.empty()) {
            bundle = a;
        } else {
            return Usage("unexpected " + a, "placeholder ");
        }
    }
    if (bundle.empty() || output.empty())
        return Usage("give a bundle and -o FILE.png", "placeholder ");
    std::string error;
    if (!tavhost::RenderPlaceholder(bundle, w, h, caption, output, &error)) return Fail(error);
    return 0;
}

int CmdDemo(Args& args) {
    std::string dir = "demo";
    bool quiet = false;
    while (!args.Done()) {
        const std::string a = args.Next();
        if (IsHelp(a)) return std::fputs(kDemoUsage, stdout), 0;
        if ((a == "-o" || a == "--output") && args.Value(&dir)) continue;
        if (a == "--quiet" || a == "-q") {
            quiet = true;
            continue;
        }
        return Usage("unknown option " + a, "demo ");
    }
    std::vector<std::string> written;
    std::string error;
    if (!tavhost::RunDemo(dir, quiet, &written, &error)) return Fail(error);
    std::printf("The demo is in %s:\n", dir.c_str());
    for (const std::string& f : written) std::printf("  %s\n", f.c_str());
    return 0;
}

void OnSignal(int) {
    tavhost::gInterrupted = true;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    av_log_set_level(AV_LOG_ERROR);
    if (argc < 2) return Usage("no command given", "");
    const std::string cmd = argv[1];
    Args args(argc, argv, 2);
    if (IsHelp(cmd) || cmd == "help") return std::fputs(kUsage, stdout), 0;
    if (cmd == "list") return CmdList(args);
    if (cmd == "render") return CmdRender(args);
    if (cmd == "placeholder") return CmdPlaceholder(args);
    if (cmd == "demo") return CmdDemo(args);
    return Usage("unknown command " + cmd, "");
}

// tavhost: loads the transition bundles and renders them on real clips.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "cli.h"
#include "demo.h"
#include "interrupt.h"
#include "loaded_bundle.h"
#include "part_join.h"
#include "placeholder_png.h"
#include "sequence_plan.h"
#include "variants.h"

namespace {

using tavhost::Command;

int Fail(const std::string& message, bool usage = false) {
    std::fprintf(stderr, "tavhost: error: %s\n", tavhost::Shortened(message, 1000).c_str());
    if (tavhost::gInterrupted)
        return 128 + (tavhost::StopSignal() ? tavhost::StopSignal() : SIGINT);
    return usage ? 2 : 1;
}

const char* Where(int type) {
    switch (type) {
        case kPluginTransitionBetweenType:
            return "between two clips";
        case kPluginTransitionBeforeType:
            return "at the start of a clip";
        case kPluginTransitionAfterType:
            return "at the end of a clip";
        default:
            return "other";
    }
}

int RunList(float speed) {
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
            std::string boxes = v.which <= 4 ? "box " + std::to_string(1 << v.which) + " px" : "";
            // A variant that gives no length draws nothing of its own.
            std::string length =
                v.frames >= 0 ? std::to_string(v.frames) + " frames" : "a plain cut";
            std::printf("  variant %d  %-10s %-24s %-22s takes %d before, %d after\n", v.which,
                        boxes.c_str(), Where(v.type), length.c_str(), v.takeBefore, v.takeAfter);
        }
    }
    return 0;
}

int RunRender(const tavhost::RenderJob& job) {
    tavhost::RenderSummary summary;
    tavhost::Error error;
    const bool ok = tavhost::Render(job, &summary, &error);
    // A warning that holds for many joins or clips alike is said once.
    std::set<std::string> said;
    for (const std::string& w : summary.warnings)
        if (said.insert(w).second)
            std::fprintf(stderr, "tavhost: warning: %s\n", tavhost::Shortened(w, 1000).c_str());
    if (!ok) return Fail(error.text, error.usage);
    if (!job.quiet && isatty(STDERR_FILENO)) {
        if (summary.copiedFrames > 0)
            std::fprintf(stderr, "%lld of %lld frames copied from the clips, the rest encoded\n",
                         static_cast<long long>(summary.copiedFrames),
                         static_cast<long long>(summary.frames));
        if (summary.copiedSoundSeconds > 0)
            std::fprintf(stderr, "%.1f s of the clips' sound copied, the rest encoded\n",
                         summary.copiedSoundSeconds);
        if (summary.transitions == 1)
            std::fprintf(
                stderr, "%lld frames (transition: %d frames from frame %lld), seed %u, %.1f s\n",
                static_cast<long long>(summary.frames), summary.transitionFrames,
                static_cast<long long>(summary.transitionStart), summary.seed, summary.seconds);
        else
            std::fprintf(stderr, "%lld frames, %d clips, %d transitions, seed %u, %.1f s\n",
                         static_cast<long long>(summary.frames), summary.clips, summary.transitions,
                         summary.seed, summary.seconds);
    }
    return 0;
}

int RunJoin(const std::vector<std::string>& parts, const std::string& output, bool quiet) {
    tavhost::JoinSummary summary;
    std::string error;
    if (!tavhost::JoinParts(parts, output, &summary, &error)) return Fail(error);
    if (!quiet && isatty(STDERR_FILENO))
        std::fprintf(stderr, "%d parts joined: %lld frames\n", summary.parts,
                     static_cast<long long>(summary.frames));
    return 0;
}

int RunDemo(const std::string& dir, bool quiet) {
    std::vector<std::string> written;
    std::string error;
    if (!tavhost::RunDemo(dir, quiet, &written, &error)) return Fail(error);
    std::printf("The demo is in %s:\n", dir.c_str());
    for (const std::string& f : written) std::printf("  %s\n", f.c_str());
    return 0;
}

int Run(int argc, char** argv) {
    const Command c = tavhost::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    // FFmpeg's own lines only on request: damage is reported once, in our words.
    av_log_set_level(c.verbose ? AV_LOG_INFO : AV_LOG_QUIET);
    switch (c.kind) {
        case Command::Kind::kHelp:
            std::fputs(c.help.c_str(), stdout);
            return 0;
        case Command::Kind::kUsageError:
            std::fprintf(stderr, "tavhost: error: %s (see 'tavhost %s%s--help')\n",
                         c.usageError.c_str(), c.helpCommand.c_str(),
                         c.helpCommand.empty() ? "" : " ");
            return 2;
        case Command::Kind::kList:
            return RunList(c.listSpeed);
        case Command::Kind::kRender:
            return RunRender(c.render);
        case Command::Kind::kPlaceholder: {
            std::string error;
            const auto& p = c.placeholder;
            if (!tavhost::RenderPlaceholder(p.bundle, p.width, p.height, p.caption, p.output,
                                            &error))
                return Fail(error);
            return 0;
        }
        case Command::Kind::kDemo:
            return RunDemo(c.demo.dir, c.demo.quiet);
        case Command::Kind::kJoin:
            return RunJoin(c.join.parts, c.join.output, c.join.quiet);
    }
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Interrupts, a closed terminal, quit and a closed pipe all stop the work
    // the same way: the output in progress is removed and nothing is left.
    tavhost::CatchStopSignals();
    // Whatever is thrown ends here as one line and the exit-code contract;
    // the outputs in progress were removed as the stack unwound.
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        return Fail("out of memory");
    } catch (const std::exception& e) {
        return Fail(std::string("internal error: ") + e.what());
    } catch (...) {
        return Fail("internal error");
    }
}

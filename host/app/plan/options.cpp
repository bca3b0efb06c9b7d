#include "options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "render_defaults.h"
#include "sinks.h"

namespace tavhost {

namespace {

using K = ValueKind;
using S = OptionScope;
using V = OptionValue;
using T = OptionTarget;

std::vector<Option> MakeOptions() {
    namespace d = defaults;
    const double kMaxSeed = 4294967295.0;
    return {
        {{"--variant", nullptr, "N", K::kWhole, 1, d::kVariantMax, S::kTransition, "variant",
          "the bundle's variant", NumberText(d::kVariant)},
         [](const V& v, const T& t) { t.transition->variant = int16_t(v.whole); }},
        {{"--speed", nullptr, "S", K::kNumber, 0, 1, S::kTransition, "speed",
          "transition speed, 0 (10 frames) to 1 (120 frames)", NumberText(d::kSpeed)},
         [](const V& v, const T& t) { t.transition->speed = float(v.number); }},
        {{"--length", nullptr, "T", K::kTime, 1, 0, S::kTransition, "length",
          "transition length instead: seconds (1.5) or frames (40f)"},
         [](const V& v, const T& t) { t.transition->length = v.time; }},
        {{"--seed", nullptr, "N", K::kWhole, 0, kMaxSeed, S::kTransition, "seed",
          "seed the random sequence, so the render can be repeated\n"
          "(the k-th transition of a sequence gets N + k)"},
         [](const V& v, const T& t) { t.transition->seed = uint32_t(v.whole); }},
        {{"--open", nullptr, "BUNDLE[:N]", K::kTransition, 0, 0, S::kCommandLine, nullptr,
          "also open the first clip with this bundle, at its variant N", NumberText(d::kVariant)},
         [](const V& v, const T& t) { t.job->open = v.transition; }},
        {{"--close", nullptr, "BUNDLE[:N]", K::kTransition, 0, 0, S::kCommandLine, nullptr,
          "also close the last clip with this bundle"},
         [](const V& v, const T& t) { t.job->close = v.transition; }},
        {{"--in", nullptr, "T", K::kTime, 0, 0, S::kCommandLine, nullptr,
          "use the next clip from T: seconds (2.5, 1:02.5) or frames of\nthe clip (75f)"},
         [](const V& v, const T& t) { *t.in = v.time; }},
        {{"--out", nullptr, "T", K::kTime, 0, 0, S::kCommandLine, nullptr,
          "use the next clip up to T"},
         [](const V& v, const T& t) { *t.out = v.time; }},
        {{"--part", nullptr, "K/N", K::kPart, 1, d::kPartsMax, S::kCommandLine, nullptr,
          "render only the K-th of N pieces of the output, cut where no\n"
          "transition runs; tavhost join puts the pieces together"},
         [](const V& v, const T& t) {
             t.job->part = {v.width, v.height};
         }},
        {{"--edit", nullptr, "FILE", K::kName, 0, 0, S::kCommandLine, nullptr,
          "the clips and transitions from an edit file (the README's\n"
          "\"Sequences\"; /usr/share/doc/tav/README.md.gz when installed)"},
         [](const V& v, const T& t) { t.job->editFile = v.text; }},
        {{"--preview", nullptr, nullptr, K::kFlag, 0, 0, S::kCommandLine, nullptr,
          "a quick look, at least ten times real time at 854x480: the\n"
          "plug-ins draw low-quality frames and mix no sound, pictures\n"
          "are scaled and converted the fast way (slightly softer, colours\n"
          "within a level or two) and encoded with x264's ultrafast preset\n"
          "(a bigger file); --preset still wins. It also copies the\n"
          "clips' pictures outside the transitions where it can, as\n"
          "--copy-unchanged does, but says nothing of clips it cannot"},
         [](const V&, const T& t) { t.job->preview = true; }},
        {{"--size", nullptr, "WxH", K::kSize, 0, 0, S::kOutput, "size",
          "output size (default: the first clip's)"},
         [](const V& v, const T& t) {
             t.settings->width = v.width;
             t.settings->height = v.height;
         }},
        {{"--rate", nullptr, "R", K::kRate, 0, 0, S::kOutput, "rate",
          "output frame rate: 25, 29.97, 30000/1001 (default: the first clip's)"},
         [](const V& v, const T& t) { t.settings->rate = v.rate; }},
        {{"--fit", nullptr, "pad|crop|stretch", K::kFit, 0, 0, S::kOutput, "fit",
          "clips of another shape: black bars (default), cut, or stretched"},
         [](const V& v, const T& t) { t.settings->fit = v.fit; }},
        {{"--still-duration", nullptr, "S", K::kSeconds, d::kStillSecondsMin, d::kStillSecondsMax,
          S::kOutput, "still_duration", "seconds a still image is shown",
          NumberText(d::kStillSeconds)},
         [](const V& v, const T& t) { t.settings->stillSeconds = v.number; }},
        {{"--crf", nullptr, "N", K::kWhole, 0, d::kCrfMax, S::kOutput, "crf",
          "H.264 quality, 0 (lossless) to " + NumberText(d::kCrfMax) + " (worst)",
          NumberText(d::kCrf)},
         [](const V& v, const T& t) { t.settings->crf = int(v.whole); }},
        {{"--preset", nullptr, "NAME", K::kPreset, 0, 0, S::kOutput, "preset",
          "H.264 encoder preset, ultrafast to placebo", d::kPreset},
         [](const V& v, const T& t) { t.settings->preset = v.text; }},
        {{"--copy-unchanged", nullptr, nullptr, K::kFlag, 0, 0, S::kOutput, "copy_unchanged",
          "copy the clips' H.264 pictures outside the transitions as they\n"
          "are and encode only around the transitions (from the keyframe\n"
          "before each to the keyframe after it): much faster, and the\n"
          "copied pictures keep the clip's own quality, so --crf and\n"
          "--preset hold only for what is encoded. A clip that does not\n"
          "match the output (codec, size, rate, colours) is encoded, and\n"
          "a line says why. MP4, MOV and MKV outputs"},
         [](const V& v, const T& t) { t.settings->copyUnchanged = v.flag; }},
        {{"--no-copy-unchanged", nullptr, nullptr, K::kFlag, 0, 0, S::kCommandLine, nullptr,
          "encode every frame, a --preview's too"},
         [](const V&, const T& t) { t.settings->copyUnchanged = false; }},
        {{"--strict", nullptr, nullptr, K::kFlag, 0, 0, S::kCommandLine, nullptr,
          "a damaged clip is an error, not a warning"},
         [](const V&, const T& t) { t.job->strict = true; }},
        {{"--verbose", nullptr, nullptr, K::kFlag, 0, 0, S::kCommandLine, nullptr,
          "also show FFmpeg's own messages"},
         [](const V&, const T& t) { *t.verbose = true; }},
        {{"--caption", nullptr, "TEXT", K::kText, 0, 0, S::kCommandLine, nullptr,
          "the host's placeholder caption"},
         [](const V& v, const T& t) { t.job->caption = v.text; }},
        {{"--contact-sheet", nullptr, "IMG", K::kName, 0, 0, S::kCommandLine, nullptr,
          "also write frames of the transition side by side (.png or .jpg)"},
         [](const V& v, const T& t) { t.job->contactSheet = v.text; }},
        {{"--quiet", "-q", nullptr, K::kFlag, 0, 0, S::kCommandLine, nullptr,
          "no progress bar or summary (shown only when standard error is a terminal)"},
         [](const V&, const T& t) { t.job->quiet = true; }},
        {{"--output", "-o", "OUT", K::kName, 0, 0, S::kOutput, "path",
          ".mp4, .mov or .mkv (H.264 and AAC), .webm (VP9 and Opus), a folder\n"
          "for PNG frames, or a frame pattern such as frames/f%04d.png;\n"
          "- streams the movie to standard output (| ffplay -)"},
         [](const V& v, const T& t) { *t.output = v.text; }},
        {{"--format", nullptr, "F", K::kContainer, 0, 0, S::kCommandLine, nullptr,
          "the movie on standard output: mkv (default), webm, mp4 or mov"},
         [](const V& v, const T& t) { t.settings->container = v.text; }},
    };
}

std::string Presets() {
    std::string list;
    const auto& presets = H264Presets();
    for (size_t i = 0; i < presets.size(); ++i)
        list += (i == 0 ? "" : i + 1 == presets.size() ? " or " : ", ") + presets[i];
    return list;
}

}  // namespace

std::string NumberText(double v) {
    if (v == std::floor(v)) return std::to_string((long long)v);
    std::ostringstream text;
    text << v;
    return text.str();
}

const std::vector<Option>& RenderOptions() {
    static const std::vector<Option> kOptions = MakeOptions();
    return kOptions;
}

const Option* FindOption(const std::string& name) {
    return FindIn(RenderOptions(), name);
}

const Option* FindKey(OptionScope scope, const std::string& key) {
    for (const Option& o : RenderOptions())
        if (o.scope == scope && o.key && key == o.key) return &o;
    return nullptr;
}

std::vector<std::string> Keys(OptionScope scope) {
    std::vector<std::string> keys;
    for (const Option& o : RenderOptions())
        if (o.scope == scope && o.key) keys.push_back(o.key);
    return keys;
}

std::string Expected(const OptionDef& o) {
    const std::string range = " from " + NumberText(o.lo) + " to " + NumberText(o.hi);
    switch (o.kind) {
        case K::kFlag:
            return "true or false";
        case K::kWhole:
            return "a whole number" + range;
        case K::kNumber:
            return "a number" + range;
        case K::kSeconds:
            return "seconds" + range;
        case K::kTime:
            return std::string(o.lo > 0 ? "a time more than 0" : "a time") +
                   ": seconds (2.5 or 1:02.5) or frames (75f)";
        case K::kSize:
            return "WIDTHxHEIGHT, each from " + NumberText(defaults::kSizeMin) + " to " +
                   NumberText(defaults::kSizeMax);
        case K::kRate:
            return "frames a second from 1 to " + NumberText(defaults::kRateMax) +
                   " (25, 29.97, 30000/1001)";
        case K::kFit:
            return "pad, crop or stretch";
        case K::kPreset:
            return "one of " + Presets();
        case K::kContainer:
            return "mkv, webm, mp4 or mov";
        case K::kTransition:
            return "BUNDLE or BUNDLE:VARIANT (1 to " + NumberText(defaults::kVariantMax) + ")";
        case K::kText:
            return "a text";
        case K::kPart:
            return "K/N, piece K of N pieces, 1 <= K <= N <= " + NumberText(o.hi);
        case K::kName: {
            const std::string shown = o.shown ? o.shown : "";
            return shown == "DIR"   ? "a folder name"
                   : shown == "OUT" ? "a file or folder name"
                                    : "a file name";
        }
    }
    return "";
}

bool ReadValue(const OptionDef& o, const std::string& text, OptionValue* v) {
    switch (o.kind) {
        case K::kFlag:
            return true;
        case K::kWhole:
            return ParseWholeNumber(text, (long long)o.lo, (long long)o.hi, &v->whole);
        case K::kNumber:
        case K::kSeconds: {
            char* end = nullptr;
            v->number = std::strtod(text.c_str(), &end);
            return !text.empty() && !*end && v->number >= o.lo && v->number <= o.hi;
        }
        case K::kTime:
            return ParseTime(text, &v->time) && !(o.lo > 0 && v->time.value <= 0.0);
        case K::kSize:
            return ParseSize(text, &v->width, &v->height);
        case K::kRate:
            return ParseRate(text, &v->rate);
        case K::kFit:
            return ParseFit(text, &v->fit);
        case K::kPreset: {
            const auto& presets = H264Presets();
            v->text = text;
            return std::find(presets.begin(), presets.end(), text) != presets.end();
        }
        case K::kContainer:
            v->text = text;
            return IsStreamContainer(text);
        case K::kTransition:
            v->transition = TransitionEntry{};
            v->transition.where = o.name;
            return ParseTransitionWord(text, &v->transition);
        case K::kText:
            v->text = text;
            return true;
        case K::kName:
            v->text = text;
            return !text.empty();
        case K::kPart: {
            const size_t slash = text.find('/');
            long long k = 0, n = 0;
            if (slash == std::string::npos ||
                !ParseWholeNumber(text.substr(0, slash), 1, (long long)o.hi, &k) ||
                !ParseWholeNumber(text.substr(slash + 1), 1, (long long)o.hi, &n) || k > n)
                return false;
            v->width = int(k);
            v->height = int(n);
            return true;
        }
    }
    return false;
}

std::string WithDefault(const OptionDef& o) {
    return o.byDefault.empty() ? o.help : o.help + " (default " + o.byDefault + ")";
}

std::string OptionHelp() {
    return HelpOf(RenderOptions());
}

std::string HelpLines(const std::vector<const OptionDef*>& options) {
    constexpr size_t kColumn = 23;
    std::string help;
    for (const OptionDef* def : options) {
        const OptionDef& o = *def;
        std::string left =
            std::string("  ") + (o.alias ? std::string(o.alias) + ", " : "") + o.name;
        if (o.shown) left += std::string(" ") + o.shown;
        left += left.size() + 2 <= kColumn ? std::string(kColumn - left.size(), ' ') : "  ";
        std::string text = WithDefault(o);
        for (size_t at; (at = text.find('\n')) != std::string::npos;)
            text.replace(at, 1, "\r" + std::string(kColumn, ' '));
        std::replace(text.begin(), text.end(), '\r', '\n');
        help += left + text + "\n";
    }
    return help;
}

OutputSettings Overlay(const OutputSettings& over, const OutputSettings& under) {
    OutputSettings s = over;
    if (s.width == 0) {
        s.width = under.width;
        s.height = under.height;
    }
    if (!s.rate) s.rate = under.rate;
    if (!s.fit) s.fit = under.fit;
    if (!s.crf) s.crf = under.crf;
    if (!s.preset) s.preset = under.preset;
    if (!s.stillSeconds) s.stillSeconds = under.stillSeconds;
    if (!s.copyUnchanged) s.copyUnchanged = under.copyUnchanged;
    if (!s.container) s.container = under.container;
    return s;
}

}  // namespace tavhost

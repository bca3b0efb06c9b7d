#include "cli.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "cli_usage.h"
#include "edit.h"
#include "image_io.h"
#include "sinks.h"

namespace tavhost {

namespace {

bool ParseSpeed(const std::string& s, float* out) {
    char* end = nullptr;
    const float v = std::strtof(s.c_str(), &end);
    if (s.empty() || *end || !(v >= 0.0f && v <= 1.0f)) return false;
    *out = v;
    return true;
}

// Walks the words of one command: options with values and plain words.
class Words {
  public:
    Words(const std::vector<std::string>& args, const char* command, Command* out)
        : args_(args), command_(command), out_(out) {}
    bool Done() const { return i_ >= args_.size(); }
    std::string Next() { return args_[i_++]; }
    // The value after option `name`; a usage error when there is none.
    bool Value(const std::string& name, std::string* value) {
        if (Done()) return Mistake(name + " needs a value");
        *value = Next();
        return true;
    }
    bool Mistake(const std::string& message) {
        out_->kind = Command::Kind::kUsageError;
        out_->usageError = message;
        out_->helpCommand = command_;
        return false;
    }
    bool Help(const char* text) {
        out_->kind = Command::Kind::kHelp;
        out_->help = text;
        return false;
    }

  private:
    const std::vector<std::string>& args_;
    const char* command_;
    Command* out_;
    size_t i_ = 0;
};

bool IsHelp(const std::string& a) {
    return a == "--help" || a == "-h";
}

bool IsOption(const std::string& a) {
    return a.size() > 1 && a[0] == '-';
}

bool In(const std::string& a, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return a == n; });
}

void ParseList(Words& w, Command* c) {
    c->kind = Command::Kind::kList;
    while (!w.Done()) {
        const std::string a = w.Next();
        std::string v;
        if (IsHelp(a)) return void(w.Help(kListUsage));
        if (a != "--speed") return void(w.Mistake("unknown option " + Quoted(a)));
        if (!w.Value(a, &v)) return;
        if (!ParseSpeed(v, &c->listSpeed))
            return void(w.Mistake("--speed takes a number from 0 to 1, not " + Quoted(v)));
    }
}

void ParseRender(Words& w, Command* c) {
    c->kind = Command::Kind::kRender;
    RenderJob& job = c->render;
    OutputSettings& out = job.settings;
    bool haveBundle = false;
    std::optional<TimeValue> in, outPoint;  // for the next clip
    auto time = [&](const std::string& name, const std::string& v, std::optional<TimeValue>* t) {
        TimeValue value;
        if (!ParseTime(v, &value))
            return w.Mistake(name + " takes seconds (2.5 or 1:02.5) or frames (75f), not " +
                             Quoted(v));
        *t = value;
        return true;
    };
    auto transition = [&](const std::string& name, const std::string& v,
                          std::optional<TransitionEntry>* t) {
        TransitionEntry entry;
        entry.where = name;
        if (!ParseTransitionWord(v, &entry))
            return w.Mistake(name + " takes BUNDLE or BUNDLE:VARIANT (1 to 32767), not " +
                             Quoted(v));
        *t = entry;
        return true;
    };
    // The bundle, then the clips, each taking the trims given before it.
    auto plainWord = [&](const std::string& a) {
        if (!haveBundle && job.editFile.empty()) {
            if (a.empty()) return w.Mistake("the bundle name is empty");
            job.transition.bundle = a;
            haveBundle = true;
            return true;
        }
        if (!job.editFile.empty())
            return w.Mistake("--edit takes the bundle and clips from the file, not " + Quoted(a));
        if (a.empty()) return w.Mistake("a clip name is empty");
        ClipEntry clip(a);
        clip.in = in;
        clip.out = outPoint;
        in.reset();
        outPoint.reset();
        job.clips.push_back(clip);
        return true;
    };
    bool optionsEnded = false;  // after "--" every word is a bundle or a clip
    while (!w.Done()) {
        const std::string a = w.Next();
        std::string v;
        long long n;
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (optionsEnded || !IsOption(a)) {
            if (!plainWord(a)) return;
        } else if (IsHelp(a)) {
            return void(w.Help(kRenderUsage));
        } else if (a == "--preview") {
            job.preview = true;
        } else if (a == "--quiet" || a == "-q") {
            job.quiet = true;
        } else if (a == "--strict") {
            job.strict = true;
        } else if (a == "--copy-unchanged" || a == "--no-copy-unchanged") {
            job.settings.copyUnchanged = a == "--copy-unchanged";
        } else if (a == "--verbose") {
            c->verbose = true;
        } else if (In(a, {"--variant", "--speed",  "--seed",    "--size",
                          "--crf",     "--preset", "--caption", "--contact-sheet",
                          "-o",        "--output", "--fit",     "--still-duration",
                          "--rate",    "--length", "--open",    "--close",
                          "--in",      "--out",    "--edit",    "--format"}) &&
                   !w.Value(a, &v)) {
            return;
        } else if (a == "--variant") {
            if (!ParseWholeNumber(v, 1, 32767, &n))
                return void(
                    w.Mistake("--variant takes a whole number from 1 to 32767, not " + Quoted(v)));
            job.transition.variant = int16_t(n);
        } else if (a == "--speed") {
            if (!ParseSpeed(v, &job.transition.speed))
                return void(w.Mistake("--speed takes a number from 0 to 1, not " + Quoted(v)));
        } else if (a == "--length") {
            if (!time(a, v, &job.transition.length)) return;
            if (job.transition.length->value <= 0.0)
                return void(w.Mistake("--length must be more than 0"));
        } else if (a == "--open" || a == "--close") {
            if (!transition(a, v, a == "--open" ? &job.open : &job.close)) return;
        } else if (a == "--in" || a == "--out") {
            if (!time(a, v, a == "--in" ? &in : &outPoint)) return;
        } else if (a == "--edit") {
            if (v.empty()) return void(w.Mistake("--edit needs a file name"));
            job.editFile = v;
        } else if (a == "--seed") {
            if (!ParseWholeNumber(v, 0, 4294967295LL, &n))
                return void(w.Mistake("--seed takes a whole number from 0 to 4294967295, not " +
                                      Quoted(v)));
            job.transition.seed = uint32_t(n);
        } else if (a == "--size") {
            if (!ParseSize(v, &out.width, &out.height))
                return void(
                    w.Mistake("--size takes WIDTHxHEIGHT, each from 2 to 16384, not " + Quoted(v)));
        } else if (a == "--rate") {
            media::Rational rate;
            if (!ParseRate(v, &rate))
                return void(
                    w.Mistake("--rate takes frames a second from 1 to 240 (25, 29.97, "
                              "30000/1001), not " +
                              Quoted(v)));
            out.rate = rate;
        } else if (a == "--crf") {
            if (!ParseWholeNumber(v, 0, 51, &n))
                return void(w.Mistake("--crf takes a whole number from 0 to 51, not " + Quoted(v)));
            out.crf = int(n);
        } else if (a == "--preset") {
            const auto& presets = H264Presets();
            if (std::find(presets.begin(), presets.end(), v) == presets.end())
                return void(
                    w.Mistake("--preset takes one of ultrafast, superfast, veryfast, "
                              "faster, fast, medium, slow, slower, veryslow, placebo; not " +
                              Quoted(v)));
            out.preset = v;
        } else if (a == "--fit") {
            media::Fit fit;
            if (!ParseFit(v, &fit))
                return void(w.Mistake("--fit takes pad, crop or stretch, not " + Quoted(v)));
            out.fit = fit;
        } else if (a == "--still-duration") {
            char* end = nullptr;
            const double seconds = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !(seconds >= 0.04 && seconds <= 3600))
                return void(w.Mistake("--still-duration takes seconds from 0.04 to 3600, not " +
                                      Quoted(v)));
            out.stillSeconds = seconds;
        } else if (a == "--caption") {
            job.caption = v;
        } else if (a == "--contact-sheet") {
            if (v.empty()) return void(w.Mistake("--contact-sheet needs a file name"));
            job.contactSheet = v;
        } else if (a == "-o" || a == "--output") {
            if (v.empty()) return void(w.Mistake("-o needs a file or folder name"));
            job.output = v;
        } else if (a == "--format") {
            if (!IsStreamContainer(v))
                return void(w.Mistake("--format takes mkv, webm, mp4 or mov, not " + Quoted(v)));
            out.container = v;
        } else {
            return void(w.Mistake("unknown option " + Quoted(a)));
        }
    }
    if (in || outPoint) return void(w.Mistake("--in and --out go before the clip they trim"));
    if (!job.editFile.empty()) {
        if (haveBundle || !job.clips.empty())
            return void(w.Mistake("--edit takes the bundle and clips from the file"));
        if (job.open || job.close || job.transition.length)
            return void(
                w.Mistake("--edit takes the transitions from the file: no --open, "
                          "--close or --length"));
        return;
    }
    if (!haveBundle) return void(w.Mistake("no bundle given"));
    if (job.clips.empty()) return void(w.Mistake("no clip given"));
    if (job.output.empty()) return void(w.Mistake("no output given (-o OUT)"));
}

void ParsePlaceholder(Words& w, Command* c) {
    c->kind = Command::Kind::kPlaceholder;
    auto& job = c->placeholder;
    while (!w.Done()) {
        const std::string a = w.Next();
        std::string v;
        if (IsHelp(a)) return void(w.Help(kPlaceholderUsage));
        if (In(a, {"--size", "--caption", "-o", "--output"}) && !w.Value(a, &v)) return;
        if (a == "--size") {
            if (!ParseSize(v, &job.width, &job.height))
                return void(
                    w.Mistake("--size takes WIDTHxHEIGHT, each from 2 to 16384, not " + Quoted(v)));
        } else if (a == "--caption") {
            job.caption = v;
        } else if (a == "-o" || a == "--output") {
            job.output = v;
        } else if (IsOption(a)) {
            return void(w.Mistake("unknown option " + Quoted(a)));
        } else if (job.bundle.empty() && !a.empty()) {
            job.bundle = a;
        } else {
            return void(w.Mistake("unexpected " + Quoted(a)));
        }
    }
    if (job.bundle.empty() || job.output.empty())
        return void(w.Mistake("give a bundle and -o FILE.png"));
    if (media::ImageFormatOf(job.output) == media::ImageFormat::kNone)
        return void(w.Mistake("the placeholder is an image: name it .png or .jpg, not " +
                              Quoted(job.output)));
}

void ParseDemo(Words& w, Command* c) {
    c->kind = Command::Kind::kDemo;
    while (!w.Done()) {
        const std::string a = w.Next();
        std::string v;
        if (IsHelp(a)) return void(w.Help(kDemoUsage));
        if (a == "--quiet" || a == "-q") {
            c->demo.quiet = true;
        } else if (a == "-o" || a == "--output") {
            if (!w.Value(a, &v)) return;
            if (v.empty()) return void(w.Mistake("-o needs a folder name"));
            c->demo.dir = v;
        } else {
            return void(w.Mistake("unknown option " + Quoted(a)));
        }
    }
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& args) {
    Command c;
    if (args.empty()) {
        c.kind = Command::Kind::kUsageError;
        c.usageError = "no command given";
        return c;
    }
    const std::string& cmd = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (IsHelp(cmd) || cmd == "help") {
        c.help = kUsage;
        return c;
    }
    using Parser = void (*)(Words&, Command*);
    const struct {
        const char* name;
        Parser parse;
    } kCommands[] = {{"list", ParseList},
                     {"render", ParseRender},
                     {"placeholder", ParsePlaceholder},
                     {"demo", ParseDemo}};
    for (const auto& entry : kCommands) {
        if (cmd != entry.name) continue;
        Words words(rest, entry.name, &c);
        entry.parse(words, &c);
        return c;
    }
    c.kind = Command::Kind::kUsageError;
    c.usageError = "unknown command " + Quoted(cmd);
    return c;
}

}  // namespace tavhost

#include "cli.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

#include "cli_usage.h"
#include "edit.h"
#include "image_io.h"
#include "man_page.h"
#include "options.h"
#include "sinks.h"
#include "version.h"

namespace tavhost {

namespace {

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
    bool Help(const std::string& text) {
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

// The options given so far that take a value: one given again is a mistake,
// since only one value can hold.
using Given = std::set<const OptionDef*>;

// Reads the value of option `a` of `table` into `target`: one mistake when
// it has none, it is not one the option takes, or the option is in `given`.
template <class O, class T>
bool ReadOption(Words& w, const std::string& a, const std::vector<O>& table, const T& target,
                Given* given) {
    const O* option = FindIn(table, a);
    if (!option) return w.Mistake("unknown option " + Quoted(a));
    if (option->kind != ValueKind::kFlag && !given->insert(option).second)
        return w.Mistake(a + " is given twice: give it once");
    std::string v;
    if (option->kind != ValueKind::kFlag && !w.Value(a, &v)) return false;
    OptionValue value;
    if (!ReadValue(*option, v, &value))
        return w.Mistake(v.empty() && option->kind == ValueKind::kName
                             ? a + " needs " + Expected(*option)
                             : a + " takes " + Expected(*option) + ", not " + Quoted(v));
    option->set(value, target);
    return true;
}

// A command of options only: each word is one of `table`'s, or --help.
void ParseOptionsOnly(Words& w, Command* c, const std::vector<CommandOption>& table,
                      const std::string& usage) {
    Given given;
    while (!w.Done()) {
        const std::string a = w.Next();
        if (IsHelp(a)) return void(w.Help(usage));
        if (!ReadOption(w, a, table, c, &given)) return;
    }
}

void ParseList(Words& w, Command* c) {
    c->kind = Command::Kind::kList;
    ParseOptionsOnly(w, c, ListOptions(), ListUsage());
}

void ParseRender(Words& w, Command* c) {
    c->kind = Command::Kind::kRender;
    RenderJob& job = c->render;
    bool haveBundle = false;
    std::optional<TimeValue> in, outPoint;  // for the next clip
    const OptionTarget target{&job, &job.settings, &job.transition, &job.output,
                              &in,  &outPoint,     &c->verbose};
    Given given;
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
        // Each clip takes trims of its own.
        std::erase_if(given, [](const OptionDef* o) {
            return std::string(o->name) == "--in" || std::string(o->name) == "--out";
        });
        job.clips.push_back(clip);
        return true;
    };
    bool optionsEnded = false;  // after "--" every word is a bundle or a clip
    while (!w.Done()) {
        const std::string a = w.Next();
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || !IsOption(a)) {
            if (!plainWord(a)) return;
            continue;
        }
        if (IsHelp(a)) return void(w.Help(RenderUsage()));
        if (!ReadOption(w, a, RenderOptions(), target, &given)) return;
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
    Given given;
    while (!w.Done()) {
        const std::string a = w.Next();
        if (IsHelp(a)) return void(w.Help(PlaceholderUsage()));
        if (IsOption(a)) {
            if (!ReadOption(w, a, PlaceholderOptions(), c, &given)) return;
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

void ParseJoin(Words& w, Command* c) {
    c->kind = Command::Kind::kJoin;
    bool optionsEnded = false;
    Given given;
    while (!w.Done()) {
        const std::string a = w.Next();
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && IsHelp(a)) {
            return void(w.Help(JoinUsage()));
        } else if (!optionsEnded && IsOption(a)) {
            if (!ReadOption(w, a, JoinOptions(), c, &given)) return;
        } else if (a.empty()) {
            return void(w.Mistake("a part's name is empty"));
        } else {
            c->join.parts.push_back(a);
        }
    }
    if (c->join.parts.empty()) return void(w.Mistake("no parts given"));
    if (c->join.output.empty()) return void(w.Mistake("no output given (-o OUT)"));
}

void ParseDemo(Words& w, Command* c) {
    c->kind = Command::Kind::kDemo;
    ParseOptionsOnly(w, c, DemoOptions(), DemoUsage());
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
    if (cmd == "--version" || cmd == "version") {
        c.help = VersionText();
        return c;
    }
    if (cmd == "--man") {  // the manual page, for packaging
        c.help = ManPage();
        return c;
    }
    using Parser = void (*)(Words&, Command*);
    const struct {
        const char* name;
        Parser parse;
    } kCommands[] = {{"list", ParseList},
                     {"render", ParseRender},
                     {"placeholder", ParsePlaceholder},
                     {"join", ParseJoin},
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

#include "edit_file.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "options.h"
#include "user_text.h"

namespace tavhost {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Thrown with the place in the file and what is wrong there.
struct Mistake {
    std::string text;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw Mistake{where + ": " + what};
}

// A value as a message shows it: a number, string or word as written (cut),
// a list or object by its kind only, never walked (a document may nest
// without end).
std::string Shown(const Json& value) {
    if (value.is_object()) return "an object {...}";
    if (value.is_array()) return "a list [...]";
    return Shortened(value.dump(-1, ' ', false, Json::error_handler_t::replace), 40);
}

// Edit files never nest deeper than this; a deeper document is refused as it
// is read, before anything walks it.
constexpr int kDeepest = 16;

// Follows the parser through the document, knowing the place of every value,
// so that a key given twice in one object (which JSON readers settle each
// their own way) is refused with its place, as is a document nested deeper
// than an edit file can be.
class PlaceTracker {
  public:
    bool operator()(int depth, Json::parse_event_t event, Json& parsed) {
        using Event = Json::parse_event_t;
        switch (event) {
            case Event::object_start:
            case Event::array_start:
                if (depth > kDeepest)
                    Fail(ChildPlace(), "nested deeper than an edit file can be (" +
                                           std::to_string(kDeepest) + " levels)");
                open_.push_back({event == Event::object_start, ChildPlace(), {}, {}, 0});
                break;
            case Event::object_end:
            case Event::array_end:
                open_.pop_back();
                Consumed();
                break;
            case Event::key: {
                Container& object = open_.back();
                object.key = parsed.get<std::string>();
                if (!object.keys.insert(object.key).second)
                    Fail(ChildPlace(), "is given twice; give each key once");
                break;
            }
            case Event::value:
                Consumed();
                break;
        }
        return true;
    }

  private:
    struct Container {
        bool object;
        std::string place;
        std::set<std::string> keys;
        std::string key;  // the object's key being read
        size_t index;     // the list's next entry
    };
    // The place of the value being read, such as clips[2].in.
    std::string ChildPlace() const {
        if (open_.empty()) return "the file";
        const Container& c = open_.back();
        const std::string& base = c.place == "the file" ? std::string() : c.place;
        if (c.object)
            return base.empty() ? Shortened(c.key, 40) : base + "." + Shortened(c.key, 40);
        return base + "[" + std::to_string(c.index) + "]";
    }
    void Consumed() {
        if (!open_.empty() && !open_.back().object) ++open_.back().index;
    }
    std::vector<Container> open_;
};

// The keys of an object, each one known.
void OnlyKeys(const Json& object, const std::string& where, std::set<std::string> known) {
    if (!object.is_object())
        Fail(where.empty() ? "the file" : where, "must be an object {...}, not " + Shown(object));
    for (const auto& item : object.items())
        if (!known.count(item.key())) {
            std::string list;
            for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
            const std::string key = Shortened(item.key(), 40);
            Fail(where.empty() ? key : where + "." + key, "unknown key (known here: " + list + ")");
        }
}

std::string Text(const Json& v, const std::string& where) {
    if (!v.is_string()) Fail(where, "must be a string, not " + Shown(v));
    return v.get<std::string>();
}

double Number(const Json& v, const std::string& where, double lo, double hi) {
    if (!v.is_number() || !(v.get<double>() >= lo && v.get<double>() <= hi)) {
        std::ostringstream range;
        range << lo << " to " << hi;
        Fail(where, "must be a number from " + range.str() + ", not " + Shown(v));
    }
    return v.get<double>();
}

// A value in the file for option `o` at `where`: of the JSON kind the option
// reads, and in its range.
void Apply(const Option& o, const Json& v, const std::string& where, const OptionTarget& target) {
    OptionValue value;
    bool fits = false;
    std::string text;
    switch (o.kind) {
        case ValueKind::kFlag:
            fits = v.is_boolean();
            if (fits) value.flag = v.get<bool>();
            break;
        case ValueKind::kWhole:
            fits = v.is_number_integer();
            break;
        case ValueKind::kNumber:
        case ValueKind::kSeconds:
            fits = v.is_number();
            break;
        case ValueKind::kTime:
        case ValueKind::kRate:
            fits = v.is_number() || v.is_string();
            break;
        default:
            fits = v.is_string();
            break;
    }
    if (fits && o.kind != ValueKind::kFlag) text = v.is_string() ? v.get<std::string>() : v.dump();
    if (!fits || !ReadValue(o, text, &value))
        Fail(where, "must be " + Expected(o) + ", not " + Shown(v));
    o.set(value, target);
}

// The keys of `scope`'s options, and `more`.
std::set<std::string> KeysOf(OptionScope scope, std::initializer_list<const char*> more = {}) {
    std::set<std::string> keys(more.begin(), more.end());
    for (const std::string& k : Keys(scope)) keys.insert(k);
    return keys;
}

TransitionEntry Transition(const Json& v, const std::string& where) {
    OnlyKeys(v, where, KeysOf(OptionScope::kTransition, {"bundle"}));
    TransitionEntry t;
    t.where = where;
    if (!v.contains("bundle")) Fail(where, "names no bundle (\"bundle\": \"boxscatter\")");
    t.bundle = Text(v["bundle"], where + ".bundle");
    if (t.bundle.empty()) Fail(where + ".bundle", "is empty");
    OptionTarget target;
    target.transition = &t;
    for (const auto& item : v.items())
        if (const Option* o = FindKey(OptionScope::kTransition, item.key()))
            Apply(*o, item.value(), where + "." + item.key(), target);
    return t;
}

ClipEntry Clip(const Json& v, const std::string& where, const fs::path& base) {
    ClipEntry c;
    c.where = where;
    const Json* path = &v;
    if (v.is_object()) {
        OnlyKeys(v, where, {"path", "in", "out", "duration"});
        if (!v.contains("path")) Fail(where, "has no path (\"path\": \"clip.mp4\")");
        path = &v["path"];
        const OptionTarget trims{.in = &c.in, .out = &c.out};
        if (v.contains("in")) Apply(*FindOption("--in"), v["in"], where + ".in", trims);
        if (v.contains("out")) Apply(*FindOption("--out"), v["out"], where + ".out", trims);
        if (v.contains("duration"))
            c.duration = Number(v["duration"], where + ".duration", 0.04, 3600.0);
    } else if (!v.is_string()) {
        Fail(where, "must be a path or an object {\"path\": ...}, not " + Shown(v));
    }
    const std::string text = Text(*path, v.is_object() ? where + ".path" : where);
    if (text.empty()) Fail(v.is_object() ? where + ".path" : where, "is empty");
    if (text.find('\0') != std::string::npos)
        Fail(v.is_object() ? where + ".path" : where, "holds a NUL character: not a file name");
    c.path = (base / text).lexically_normal().string();
    return c;
}

// The file's output settings, under those already set (the command line's).
void Output(const Json& v, OutputSettings* s, std::string* output, const fs::path& base) {
    const std::string where = "output";
    OnlyKeys(v, where, KeysOf(OptionScope::kOutput));
    OutputSettings fromFile;
    std::string path;
    const OptionTarget target{.settings = &fromFile, .output = &path};
    for (const auto& item : v.items()) {
        const std::string at = where + "." + item.key();
        if (item.key() == "path" && item.value().is_string() &&
            item.value().get<std::string>().find('\0') != std::string::npos)
            Fail(at, "holds a NUL character: not a file name");
        Apply(*FindKey(OptionScope::kOutput, item.key()), item.value(), at, target);
    }
    *s = Overlay(*s, fromFile);
    if (!path.empty() && output->empty()) *output = (base / path).lexically_normal().string();
}

void Read(const Json& doc, const fs::path& base, Edit* edit, OutputSettings* settings,
          std::string* output) {
    OnlyKeys(doc, "", {"output", "clips", "open", "joins", "close"});
    if (doc.contains("output")) Output(doc["output"], settings, output, base);
    if (!doc.contains("clips") || !doc["clips"].is_array() || doc["clips"].empty())
        Fail("clips", "must list the clips in order ([\"a.mp4\", \"b.mp4\"])");
    const Json& clips = doc["clips"];
    for (size_t i = 0; i < clips.size(); ++i)
        edit->clips.push_back(Clip(clips[i], "clips[" + std::to_string(i) + "]", base));
    const size_t joins = clips.size() - 1;
    edit->joins.assign(joins, std::nullopt);
    if (doc.contains("joins")) {
        const Json& j = doc["joins"];
        if (j.is_array()) {
            if (j.size() != joins)
                Fail("joins", "has " + std::to_string(j.size()) + " entries, but " +
                                  std::to_string(clips.size()) + " clips have " +
                                  std::to_string(joins) + (joins == 1 ? " join" : " joins"));
            for (size_t i = 0; i < joins; ++i)
                if (!j[i].is_null())
                    edit->joins[i] = Transition(j[i], "joins[" + std::to_string(i) + "]");
        } else {
            for (size_t i = 0; i < joins; ++i) {
                edit->joins[i] = Transition(j, "joins");
                edit->joins[i]->where = "joins[" + std::to_string(i) + "]";
            }
        }
    }
    if (doc.contains("open") && !doc["open"].is_null())
        edit->open = Transition(doc["open"], "open");
    if (doc.contains("close") && !doc["close"].is_null())
        edit->close = Transition(doc["close"], "close");
}

}  // namespace

bool LoadEdit(const std::string& path, Edit* edit, OutputSettings* settings, std::string* output,
              std::string* error) {
    const std::string shown = Quoted(path);
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || status.type() != fs::file_type::regular) {
        *error = "cannot read the edit file " + shown + ": " +
                 (status.type() == fs::file_type::directory ? "it is a folder"
                  : ec                                      ? ec.message()
                                                            : "not a file");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the edit file " + shown + ": " + std::strerror(errno);
        return false;
    }
    Json doc;
    try {
        doc = Json::parse(in, PlaceTracker());
    } catch (const Mistake& m) {
        *error = "edit file " + shown + ": " + m.text;
        return false;
    } catch (const Json::exception& e) {
        // A syntax error, or a number beyond what a double holds.
        std::string what = e.what();
        // "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
        if (const size_t at = what.find("] "); at != std::string::npos) what = what.substr(at + 2);
        *error = "the edit file " + shown + " is not JSON: " + Shortened(what, 200);
        return false;
    }
    *edit = Edit{};
    edit->source = path;
    try {
        Read(doc, fs::path(path).parent_path(), edit, settings, output);
    } catch (const Mistake& m) {
        *error = "edit file " + shown + ": " + m.text;
        return false;
    } catch (const Json::exception& e) {
        *error = "edit file " + shown + ": " + Shortened(e.what(), 200);
        return false;
    }
    return true;
}

}  // namespace tavhost

#include "edit_file.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

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
            Fail(where.empty() ? item.key() : where + "." + item.key(),
                 "unknown key (known here: " + list + ")");
        }
}

std::string Text(const Json& v, const std::string& where) {
    if (!v.is_string()) Fail(where, "must be a string, not " + Shown(v));
    return v.get<std::string>();
}

long long Whole(const Json& v, const std::string& where, long long lo, long long hi) {
    if (!v.is_number_integer() || v.get<long long>() < lo || v.get<long long>() > hi)
        Fail(where, "must be a whole number from " + std::to_string(lo) + " to " +
                        std::to_string(hi) + ", not " + Shown(v));
    return v.get<long long>();
}

double Number(const Json& v, const std::string& where, double lo, double hi) {
    if (!v.is_number() || !(v.get<double>() >= lo && v.get<double>() <= hi)) {
        std::ostringstream range;
        range << lo << " to " << hi;
        Fail(where, "must be a number from " + range.str() + ", not " + Shown(v));
    }
    return v.get<double>();
}

TimeValue Time(const Json& v, const std::string& where) {
    TimeValue t;
    if (v.is_number() && v.get<double>() >= 0.0 && v.get<double>() < 1e9)
        return {v.get<double>(), false};
    if (v.is_string() && ParseTime(v.get<std::string>(), &t)) return t;
    Fail(where, "must be a time: seconds (2.5 or \"1:02.5\") or frames (\"75f\"), not " + Shown(v));
}

TransitionEntry Transition(const Json& v, const std::string& where) {
    OnlyKeys(v, where, {"bundle", "variant", "speed", "length", "seed"});
    TransitionEntry t;
    t.where = where;
    if (!v.contains("bundle")) Fail(where, "names no bundle (\"bundle\": \"boxscatter\")");
    t.bundle = Text(v["bundle"], where + ".bundle");
    if (t.bundle.empty()) Fail(where + ".bundle", "is empty");
    if (v.contains("variant"))
        t.variant = int16_t(Whole(v["variant"], where + ".variant", 1, 32767));
    if (v.contains("speed")) t.speed = float(Number(v["speed"], where + ".speed", 0.0, 1.0));
    if (v.contains("length")) {
        t.length = Time(v["length"], where + ".length");
        if (t.length->value <= 0.0) Fail(where + ".length", "must be more than 0");
    }
    if (v.contains("seed")) t.seed = uint32_t(Whole(v["seed"], where + ".seed", 0, 4294967295LL));
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
        if (v.contains("in")) c.in = Time(v["in"], where + ".in");
        if (v.contains("out")) c.out = Time(v["out"], where + ".out");
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

void Output(const Json& v, OutputSettings* s, std::string* output, const fs::path& base) {
    const std::string where = "output";
    OnlyKeys(v, where,
             {"size", "rate", "fit", "crf", "preset", "still_duration", "copy_unchanged", "path"});
    if (v.contains("size") && s->width == 0) {
        if (!ParseSize(Text(v["size"], "output.size"), &s->width, &s->height))
            Fail("output.size", "must be \"WIDTHxHEIGHT\", each from 2 to 16384");
    }
    if (v.contains("rate") && !s->rate) {
        media::Rational rate;
        const Json& r = v["rate"];
        const std::string text = r.is_number()   ? r.dump()
                                 : r.is_string() ? r.get<std::string>()
                                                 : "";
        if (!ParseRate(text, &rate))
            Fail("output.rate",
                 "must be frames a second from 1 to 240 (25, 29.97 or "
                 "\"30000/1001\"), not " +
                     Shown(r));
        s->rate = rate;
    }
    if (v.contains("fit") && !s->fit) {
        media::Fit fit;
        if (!ParseFit(Text(v["fit"], "output.fit"), &fit))
            Fail("output.fit", "must be \"pad\", \"crop\" or \"stretch\"");
        s->fit = fit;
    }
    if (v.contains("crf") && !s->crf) s->crf = int(Whole(v["crf"], "output.crf", 0, 51));
    if (v.contains("preset") && !s->preset) {
        const std::string preset = Text(v["preset"], "output.preset");
        const auto& presets = H264Presets();
        if (std::find(presets.begin(), presets.end(), preset) == presets.end())
            Fail("output.preset", "must be an H.264 preset, ultrafast to placebo");
        s->preset = preset;
    }
    if (v.contains("still_duration") && !s->stillSeconds)
        s->stillSeconds = Number(v["still_duration"], "output.still_duration", 0.04, 3600.0);
    if (v.contains("copy_unchanged") && !s->copyUnchanged) {
        if (!v["copy_unchanged"].is_boolean())
            Fail("output.copy_unchanged",
                 "must be true or false, not " + Shown(v["copy_unchanged"]));
        s->copyUnchanged = v["copy_unchanged"].get<bool>();
    }
    if (v.contains("path") && output->empty()) {
        const std::string path = Text(v["path"], "output.path");
        if (path.empty()) Fail("output.path", "is empty");
        if (path.find('\0') != std::string::npos)
            Fail("output.path", "holds a NUL character: not a file name");
        *output = (base / path).lexically_normal().string();
    }
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
    if (ec || !fs::is_regular_file(status)) {
        *error = "cannot read the edit file " + shown + ": " +
                 (fs::is_directory(status) ? "it is a folder"
                  : ec                     ? ec.message()
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

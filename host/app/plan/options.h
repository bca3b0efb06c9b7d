// The render command's options, each declared once: its name, the value it
// takes and that value's range, its line in --help, and its key in an edit
// file. The command line, the edit-file reader, --help and every range
// message are made from this one table.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "edit.h"
#include "render_job.h"

namespace tavhost {

enum class ValueKind {
    kFlag,        // no value
    kWhole,       // a whole number from lo to hi
    kNumber,      // a number from lo to hi
    kSeconds,     // seconds from lo to hi
    kTime,        // seconds or frames (see ParseTime); more than 0 when lo > 0
    kSize,        // WIDTHxHEIGHT
    kRate,        // frames a second
    kFit,         // pad, crop or stretch
    kPreset,      // an x264 preset
    kContainer,   // a movie container for standard output
    kTransition,  // BUNDLE or BUNDLE:VARIANT
    kText,        // any text
    kName,        // a file or folder name: not empty
    kPart,        // K/N: piece K of N, 1 <= K <= N <= hi
};

// An option's value, read.
struct OptionValue {
    bool flag = true;
    long long whole = 0;
    double number = 0.0;
    TimeValue time;
    int width = 0, height = 0;  // also K and N of a part
    media::Rational rate;
    media::Fit fit = media::Fit::kPad;
    std::string text;
    TransitionEntry transition;
};

// Where a value goes. The edit file fills only the settings, the output and
// a transition; the command line fills all of it.
struct OptionTarget {
    RenderJob* job = nullptr;
    OutputSettings* settings = nullptr;
    TransitionEntry* transition = nullptr;
    std::string* output = nullptr;
    std::optional<TimeValue>* in = nullptr;  // the next clip's trims
    std::optional<TimeValue>* out = nullptr;
    bool* verbose = nullptr;
};

// Where an edit file takes an option: not at all, in its "output" object,
// or in a transition's object.
enum class OptionScope { kCommandLine, kOutput, kTransition };

// What an option is, whatever it sets.
struct OptionDef {
    const char* name;   // "--crf"
    const char* alias;  // "-o", "-q"; null when it has none
    const char* shown;  // the value as --help shows it ("N", "WxH"); null for a flag
    ValueKind kind;
    double lo, hi;  // the range of a number
    OptionScope scope;
    const char* key;   // the edit file's key in its scope; null when it has none
    std::string help;  // --help's text; lines after the first start with '\n'
    // The value taken when the option is not given, as --help shows it
    // (empty: none to show); made from the defaults, never written out.
    std::string byDefault = {};
};

// An option of a command whose values go into a `Target`.
template <class Target>
struct OptionOf : OptionDef {
    void (*set)(const OptionValue& value, const Target& target);
};
using Option = OptionOf<OptionTarget>;

// The option of `table` named `name` (or its alias), or null.
template <class O>
const O* FindIn(const std::vector<O>& table, const std::string& name) {
    for (const O& o : table)
        if (name == o.name || (o.alias && name == o.alias)) return &o;
    return nullptr;
}

// The lines of --help for `options`, in their order.
std::string HelpLines(const std::vector<const OptionDef*>& options);
template <class O>
std::string HelpOf(const std::vector<O>& table) {
    std::vector<const OptionDef*> specs;
    for (const O& o : table) specs.push_back(&o);
    return HelpLines(specs);
}

// Every option of `tavhost render`, in --help's order.
const std::vector<Option>& RenderOptions();

// The option named `name` (or its alias), or null.
const Option* FindOption(const std::string& name);

// The option an edit file's `key` names in `scope`, or null; Keys() lists them.
const Option* FindKey(OptionScope scope, const std::string& key);
std::vector<std::string> Keys(OptionScope scope);

// What the option takes, for messages: "a whole number from 0 to 51".
std::string Expected(const OptionDef& option);
// An option's help text with its default, as --help and the manual show it.
std::string WithDefault(const OptionDef& option);
// A number as help texts show it: 3, 0.5.
std::string NumberText(double value);

// Reads `text` as the option's value; false when it is not one.
bool ReadValue(const OptionDef& option, const std::string& text, OptionValue* value);

// The render options' lines of --help.
std::string OptionHelp();

// The settings `over` gives, and for those it leaves unset the ones `under`
// gives: the command line over an edit file.
OutputSettings Overlay(const OutputSettings& over, const OutputSettings& under);

}  // namespace tavhost

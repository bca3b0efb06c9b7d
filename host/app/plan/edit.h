// An edit: the clips of a sequence in order, trimmed, and the transitions at
// its joins and ends, as the command line or an edit file gives them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media_types.h"
#include "render_defaults.h"

namespace tavhost {

// A point or a length in time: seconds, or frames at a rate the user has in
// mind (a clip's own rate for its in and out points, the output's for a
// transition's length).
struct TimeValue {
    double value = 0.0;
    bool frames = false;
    double Seconds(double rate) const { return frames ? value / rate : value; }
};

// Reads "2.5" or "1:02.5" or "0:01:02.5" (seconds) or "75f" (frames). False
// for anything else, or a negative or endless value.
bool ParseTime(const std::string& text, TimeValue* out);

// Values the command line and edit files share.
bool ParseWholeNumber(const std::string& text, long long lo, long long hi, long long* out);
bool ParseSize(const std::string& text, int* width, int* height);  // "WxH", sides in range
bool ParseFit(const std::string& text, media::Fit* fit);           // pad, crop, stretch
bool ParseRate(const std::string& text, media::Rational* rate);    // "25", "29.97", "30000/1001"
// The x264 presets, fastest first.
const std::vector<std::string>& H264Presets();

// A transition: which bundle and variant, how long (from the speed, or a
// length that wins over it), and the random sequence's seed.
struct TransitionEntry {
    std::string bundle;
    int16_t variant = defaults::kVariant;
    float speed = defaults::kSpeed;
    std::optional<TimeValue> length;
    std::optional<uint32_t> seed;
    std::string where;  // where it was given, for messages ("joins[1]", "--open")
};

// "BUNDLE" or "BUNDLE:VARIANT", as --open and --close take it.
bool ParseTransitionWord(const std::string& text, TransitionEntry* out);

// A clip of the sequence and the part of it used.
struct ClipEntry {
    ClipEntry() = default;
    ClipEntry(std::string p) : path(std::move(p)) {}  // NOLINT: a path is a whole clip
    std::string path;
    std::optional<TimeValue> in, out;
    std::optional<double> duration;  // a still image: seconds shown
    std::string where;               // for messages: "clips[2]"; empty on the command line
};

// The output's settings; those left unset take the edit file's, then the defaults.
struct OutputSettings {
    int width = 0;  // 0: the first clip's size
    int height = 0;
    std::optional<media::Rational> rate;  // unset: the first clip's
    std::optional<media::Fit> fit;
    std::optional<int> crf;
    std::optional<std::string> preset;
    std::optional<double> stillSeconds;
    // Copy the clips' compressed pictures outside the transitions where they
    // fit the output, instead of encoding them again.
    std::optional<bool> copyUnchanged;
    // The movie's container for standard output ("-"): mkv (the default),
    // webm, mp4 or mov.
    std::optional<std::string> container;
};

// A whole sequence: the clips, and the transitions at the first clip's
// start, at each join (none: a plain cut) and at the last clip's end.
struct Edit {
    std::string source;  // the edit file, when it came from one
    std::vector<ClipEntry> clips;
    std::optional<TransitionEntry> open;
    std::vector<std::optional<TransitionEntry>> joins;
    std::optional<TransitionEntry> close;
};

}  // namespace tavhost

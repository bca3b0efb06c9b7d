// The help texts of tavhost and each of its commands.
#pragma once

#include <string>
#include <vector>

#include "cli.h"
#include "options.h"
#include "render_defaults.h"

namespace tavhost {

inline constexpr const char* kUsage =
    "usage: tavhost COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  list         the bundles found, their variants, type and length\n"
    "  render       render a transition on clips into a movie or PNG frames\n"
    "  join         put the parts of a render (render --part K/N) together into its movie\n"
    "  placeholder  draw a bundle's placeholder into a PNG file\n"
    "  demo         render every transition on two generated clips\n"
    "\n"
    "'tavhost --version' gives the version and the FFmpeg libraries it runs with.\n"
    "'tavhost COMMAND --help' tells more.\n";

inline constexpr const char* kRenderHead =
    "usage: tavhost render BUNDLE [options] [--in T] [--out T] CLIP... -o OUT\n"
    "       tavhost render --edit FILE.json [options] [-o OUT]\n"
    "\n"
    "Renders the edited sequence with its transitions. A between-clips bundle joins\n"
    "every two neighbouring clips, overlapping the end of one with the start of the\n"
    "next; a bundle that opens or closes a clip covers the first or last frames of\n"
    "the one clip given.\n"
    "\n";

inline constexpr const char* kRenderTail =
    "  --                   the words after it are the bundle and clips (a clip named -x.mp4);\n"
    "                       a clip - is read from standard input\n"
    "\n"
    "The output has the first clip's size as it is shown (rotation applied, square pixels),\n"
    "made even with a one-pixel black edge where needed, and its frame rate. Clips are\n"
    "read with their own colour matrix (untagged: BT.709 from 720 lines up, BT.601 below);\n"
    "the output is converted and tagged the same way.\n";

// The render command's help: its options from their table.
inline std::string RenderUsage() {
    return kRenderHead + OptionHelp() + kRenderTail;
}

// The options of the other commands; their values go into the command.
using CommandOption = OptionOf<Command*>;

inline const std::vector<CommandOption>& ListOptions() {
    static const std::vector<CommandOption> kOptions = {
        {{"--speed", nullptr, "S", ValueKind::kNumber, 0, 1, OptionScope::kCommandLine, nullptr,
          "the speed the lengths are given for", NumberText(defaults::kSpeed)},
         [](const OptionValue& v, Command* const& c) { c->listSpeed = float(v.number); }}};
    return kOptions;
}

inline const std::vector<CommandOption>& PlaceholderOptions() {
    static const std::vector<CommandOption> kOptions = {
        {{"--size", nullptr, "WxH", ValueKind::kSize, 0, 0, OptionScope::kCommandLine, nullptr,
          "the picture's size (default 640x360)"},
         [](const OptionValue& v, Command* const& c) {
             c->placeholder.width = v.width;
             c->placeholder.height = v.height;
         }},
        {{"--caption", nullptr, "TEXT", ValueKind::kText, 0, 0, OptionScope::kCommandLine, nullptr,
          "the caption the placeholder shows"},
         [](const OptionValue& v, Command* const& c) { c->placeholder.caption = v.text; }},
        {{"--output", "-o", "FILE", ValueKind::kName, 0, 0, OptionScope::kCommandLine, nullptr,
          "the image: a .png or .jpg file"},
         [](const OptionValue& v, Command* const& c) { c->placeholder.output = v.text; }}};
    return kOptions;
}

inline const std::vector<CommandOption>& DemoOptions() {
    static const std::vector<CommandOption> kOptions = {
        {{"--output", "-o", "DIR", ValueKind::kName, 0, 0, OptionScope::kCommandLine, nullptr,
          "the folder the demo is written into (default: demo)"},
         [](const OptionValue& v, Command* const& c) { c->demo.dir = v.text; }},
        {{"--quiet", "-q", nullptr, ValueKind::kFlag, 0, 0, OptionScope::kCommandLine, nullptr,
          "no progress bars"},
         [](const OptionValue&, Command* const& c) { c->demo.quiet = true; }}};
    return kOptions;
}

inline const std::vector<CommandOption>& JoinOptions() {
    static const std::vector<CommandOption> kOptions = {
        {{"--output", "-o", "OUT", ValueKind::kName, 0, 0, OptionScope::kCommandLine, nullptr,
          "the movie: .mp4, .mov or .mkv, or - for standard output"},
         [](const OptionValue& v, Command* const& c) { c->join.output = v.text; }},
        {{"--quiet", "-q", nullptr, ValueKind::kFlag, 0, 0, OptionScope::kCommandLine, nullptr,
          "no summary line (it is shown only when standard error is a terminal)"},
         [](const OptionValue&, Command* const& c) { c->join.quiet = true; }}};
    return kOptions;
}

inline std::string JoinUsage() {
    return "usage: tavhost join PART... -o OUT\n"
           "\n"
           "Puts the parts of one render together: each part is a Matroska file written by\n"
           "'tavhost render ... --part K/N -o PART.mkv', given in any order. The pictures are\n"
           "copied as the parts hold them and the sound is encoded once, so the movie is the\n"
           "one a render in one piece makes. Nothing is written unless every part of the\n"
           "render is given once, complete.\n"
           "\n" +
           HelpOf(JoinOptions());
}

inline std::string ListUsage() {
    return "usage: tavhost list [--speed S]\n"
           "\n"
           "Lists the bundles found in TAV_PLUGIN_PATH and those installed with the program,\n"
           "with each variant's type and length at the speed.\n"
           "\n" +
           HelpOf(ListOptions());
}

inline std::string PlaceholderUsage() {
    return "usage: tavhost placeholder BUNDLE [--size WxH] [--caption TEXT] -o FILE.png|FILE.jpg\n"
           "\n"
           "Draws the bundle's placeholder picture, as a host without the effect shows it.\n"
           "\n" +
           HelpOf(PlaceholderOptions());
}

inline std::string DemoUsage() {
    return "usage: tavhost demo [-o DIR] [--quiet]\n"
           "\n"
           "Makes two clips of its own, renders all five transitions on them (a movie and a\n"
           "contact sheet each) and the placeholder, into DIR.\n"
           "\n" +
           HelpOf(DemoOptions());
}

}  // namespace tavhost

// The command line: words in, a command to run (or the help to print, or one
// usage mistake to report) out. No files are touched here.
#pragma once

#include <string>
#include <vector>

#include "render_defaults.h"
#include "render_job.h"
#include "user_text.h"

namespace tavhost {

struct Command {
    enum class Kind { kHelp, kUsageError, kList, kRender, kPlaceholder, kDemo, kJoin };
    Kind kind = Kind::kHelp;
    std::string help;                    // kHelp: the text to print on stdout
    std::string usageError;              // kUsageError: one line, no newline
    std::string helpCommand;             // kUsageError: the command whose --help tells more
    float listSpeed = defaults::kSpeed;  // kList
    bool verbose = false;                // FFmpeg's own messages too
    RenderJob render;                    // kRender
    struct {
        std::string bundle, caption, output;
        int width = 640, height = 360;
    } placeholder;  // kPlaceholder
    struct {
        std::string dir = "demo";
        bool quiet = false;
    } demo;  // kDemo
    struct {
        std::vector<std::string> parts;
        std::string output;
        bool quiet = false;
    } join;  // kJoin
};

// Parses `args` (without the program name).
Command ParseCommandLine(const std::vector<std::string>& args);

}  // namespace tavhost

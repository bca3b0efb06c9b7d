// Fuzzes the command line: argument lists (the input split at NUL bytes)
// through the real parser. Whatever the words, the answer is help, one usage
// mistake on one line, or a command whose values are within their ranges.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli.h"

namespace {

[[noreturn]] void Broken(const char* contract) {
    std::fprintf(stderr, "contract broken: %s\n", contract);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += char(data[i]);
    }
    const tavhost::Command c = tavhost::ParseCommandLine(args);
    using Kind = tavhost::Command::Kind;
    switch (c.kind) {
        case Kind::kHelp:
            if (c.help.empty()) Broken("help has a text");
            break;
        case Kind::kUsageError:
            if (c.usageError.empty() || c.usageError.find('\n') != std::string::npos)
                Broken("a usage mistake is one line");
            break;
        case Kind::kList:
            if (!(c.listSpeed >= 0.0f && c.listSpeed <= 1.0f)) Broken("list speed in range");
            break;
        case Kind::kRender: {
            const tavhost::RenderJob& j = c.render;
            const tavhost::OutputSettings& s = j.settings;
            if (!(j.transition.speed >= 0.0f && j.transition.speed <= 1.0f))
                Broken("render speed in range");
            if (j.transition.variant < 1) Broken("variant in range");
            if (s.crf && (*s.crf < 0 || *s.crf > 51)) Broken("crf in range");
            if (s.rate && (s.rate->num < 1 || s.rate->den < 1 || s.rate->Value() > 240.0))
                Broken("rate in range");
            if (j.transition.length && !(j.transition.length->value > 0.0))
                Broken("a length is more than nothing");
            if (j.editFile.empty() &&
                (j.transition.bundle.empty() || j.clips.empty() || j.output.empty()))
                Broken("a render has a bundle, clips and an output");
            if (!j.editFile.empty() && (!j.transition.bundle.empty() || !j.clips.empty()))
                Broken("an edit file brings its own clips");
            for (const tavhost::ClipEntry& clip : j.clips)
                for (const auto& point : {clip.in, clip.out})
                    if (point && !(point->value >= 0.0)) Broken("trim points not negative");
            if (s.width != 0 &&
                (s.width < 2 || s.width > 16384 || s.height < 2 || s.height > 16384))
                Broken("size in range");
            if (j.part.count != 0 &&
                (j.part.count > 1000 || j.part.index < 1 || j.part.index > j.part.count))
                Broken("a part is one of its count");
            break;
        }
        case Kind::kJoin:
            if (c.join.parts.empty() || c.join.output.empty())
                Broken("a join has parts and an output");
            for (const std::string& p : c.join.parts)
                if (p.empty()) Broken("a part has a name");
            break;
        case Kind::kPlaceholder:
            if (c.placeholder.bundle.empty() || c.placeholder.output.empty())
                Broken("a placeholder has a bundle and an output");
            break;
        case Kind::kDemo:
            if (c.demo.dir.empty()) Broken("the demo has a folder");
            break;
    }
    return 0;
}

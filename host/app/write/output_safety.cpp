#include "output_safety.h"

#include <filesystem>

#include "user_text.h"

namespace fs = std::filesystem;

namespace tavhost {

bool SameFile(const std::string& a, const std::string& b) {
    // "-" is a stream (standard input or output), never a file of the other side.
    if (a == "-" || b == "-") return false;
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
    const fs::path pa = fs::weakly_canonical(fs::absolute(a, ec), ec);
    const fs::path pb = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return !ec && pa == pb;
}

std::string OutputClash(const std::vector<std::string>& inputs,
                        const std::vector<std::string>& outputs, const std::string& kind) {
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i].empty()) continue;
        for (const std::string& in : inputs)
            if (SameFile(outputs[i], in))
                return Quoted(outputs[i]) + " is the " + kind + " " + Quoted(in) +
                       ": writing it would destroy the " + kind;
        for (size_t j = i + 1; j < outputs.size(); ++j)
            if (!outputs[j].empty() && SameFile(outputs[i], outputs[j]))
                return Quoted(outputs[j]) + " and " + Quoted(outputs[i]) +
                       " are the same file: give each output its own name";
    }
    return {};
}

}  // namespace tavhost

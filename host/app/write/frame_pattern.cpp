#include "frame_pattern.h"

#include <cctype>

namespace tavhost {

bool FramePattern::Parse(const std::string& pattern, FramePattern* out) {
    *out = FramePattern{};
    bool found = false;
    std::string* part = &out->before;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            *part += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            *part += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) ++j;
        if (found || j >= pattern.size() || pattern[j] != 'd' || j - i > 3) return false;
        out->width = j > i + 1 ? std::stoi(pattern.substr(i + 1, j - i - 1)) : 0;
        found = true;
        part = &out->after;
        i = j;
    }
    return found;
}

std::string FramePattern::Name(int64_t n) const {
    std::string digits = std::to_string(n);
    if (int(digits.size()) < width) digits.insert(0, size_t(width) - digits.size(), '0');
    return before + digits + after;
}

bool FramePattern::Match(const std::string& name, int64_t* n) const {
    if (name.size() <= before.size() + after.size() ||
        name.compare(0, before.size(), before) != 0 ||
        name.compare(name.size() - after.size(), after.size(), after) != 0)
        return false;
    const std::string digits =
        name.substr(before.size(), name.size() - before.size() - after.size());
    if (digits.size() > 18) return false;
    int64_t value = 0;
    for (const char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + (c - '0');
    }
    // Only the spelling this pattern writes: frame0007.png, not frame7.png.
    if (Name(value) != name) return false;
    *n = value;
    return true;
}

}  // namespace tavhost

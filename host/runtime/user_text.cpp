#include "user_text.h"

namespace tavhost {

namespace {

// The start of `text` up to `bytes`, never inside a UTF-8 character.
size_t CharBoundaryBefore(const std::string& text, size_t bytes) {
    while (bytes > 0 && bytes < text.size() &&
           (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80)
        --bytes;
    return bytes;
}

}  // namespace

std::string OneLine(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c == 0x7F)
            out += std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
        else
            out += ch;
    }
    return out;
}

std::string Shortened(const std::string& text, size_t most) {
    if (most < 16) most = 16;
    if (text.size() <= most) return OneLine(text);
    const size_t tail = most / 3;
    const size_t head = CharBoundaryBefore(text, most - tail - 3);
    size_t from = text.size() - tail;
    while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) ++from;
    return OneLine(text.substr(0, head)) + "..." + OneLine(text.substr(from));
}

std::string Quoted(const std::string& text, size_t most) {
    return "'" + Shortened(text, most) + "'";
}

}  // namespace tavhost

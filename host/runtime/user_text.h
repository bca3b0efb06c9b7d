// Text from users (file names, values, documents) quoted in messages: on one
// line, and cut to a readable length however long it is.
#pragma once

#include <string>

namespace tavhost {

// `text` with control characters shown as escapes, so a message that
// quotes a user's words stays on one line.
std::string OneLine(const std::string& text);

// `text` in single quotes, on one line, and when longer than `most` bytes its
// start and end with "..." between (the end of a path names the file).
std::string Quoted(const std::string& text, size_t most = 120);

// The same without the quotes.
std::string Shortened(const std::string& text, size_t most = 120);

}  // namespace tavhost

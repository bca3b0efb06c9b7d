// A failure as it is said: one line, and whether a value the user gave was at
// fault (a usage mistake: exit 2) or the work itself failed (exit 1).
#pragma once

#include <string>

namespace tavhost {

struct Error {
    std::string text;
    bool usage = false;
};

// Marks `error` as the user's mistake; false, for returning.
inline bool UsageMistake(Error* error) {
    error->usage = true;
    return false;
}

}  // namespace tavhost

#pragma once

#include <string>
#include <vector>

namespace tavhost {

// Makes two clips in `dir`, renders every transition on them (a movie and a
// contact sheet each) and the placeholder; lists the files in `written`.
bool RunDemo(const std::string& dir, bool quiet, std::vector<std::string>* written,
             std::string* error);

}  // namespace tavhost

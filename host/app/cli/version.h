// What `tavhost --version` says: this program's version and the FFmpeg
// libraries it runs with (which may be newer than those it was built with).
#pragma once

#include <string>

namespace tavhost {

std::string VersionText();

}  // namespace tavhost

// tavhost(1): the manual page, in roff, made from the same option tables as
// --help, so the two never disagree.
#pragma once

#include <string>

namespace tavhost {

std::string ManPage();

}  // namespace tavhost

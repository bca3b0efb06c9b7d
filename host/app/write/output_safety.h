// Checks made before any work: an output must not be one of the inputs, nor
// another output, compared as files (hard and symbolic links included), not
// as names; and its kind must be one tavhost writes.
#pragma once

#include <string>
#include <vector>

namespace tavhost {

// True when `a` and `b` name the same file or folder (or would, once made).
bool SameFile(const std::string& a, const std::string& b);

// The first clash between `outputs` (empty names skipped) and `inputs` (each
// a `kind`: "clip", "part") or each other, as one line naming both; empty
// when there is none.
std::string OutputClash(const std::vector<std::string>& inputs,
                        const std::vector<std::string>& outputs, const std::string& kind = "clip");

}  // namespace tavhost

// tavhost join: the parts of one render (tavhost render --part K/N) put
// together into its movie. The pictures are copied as the parts carry them;
// the sound is encoded once, from the parts' exact sound, as a render in one
// piece encodes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavhost {

struct JoinSummary {
    int parts = 0;
    int64_t frames = 0;
};

// Joins `parts` (in any order: each says where it goes) into `output`, a
// movie that carries H.264 (.mp4, .mov, .mkv, or - for standard output).
// Nothing is written unless the parts are the whole set of one render's,
// each complete; the error is one line naming the file it is about.
bool JoinParts(const std::vector<std::string>& parts, const std::string& output,
               JoinSummary* summary, std::string* error);

}  // namespace tavhost

// What a render says of a damaged clip: where the damage is, how much of the
// clip it took, and what the movie shows instead, in one line.
#pragma once

#include <string>

#include "clip_reader.h"

namespace tavhost {

// `label` names the clip as the user gave it ("clip 'a.mp4'").
std::string DamageReport(const std::string& label, const media::Damage& damage);

}  // namespace tavhost

// What a part of a render says about itself, so that only the parts of one
// render are joined, each in its place.
#pragma once

#include "part_tags.h"
#include "sequence.h"

namespace tavhost {

// FNV-1a, 64 bits: a fingerprint to tell renders apart, not a secret.
uint64_t Fnv1a(const std::string& text);

// The tags of the piece `sequence` renders: its place, and a fingerprint of
// everything that makes the whole render's frames and sound.
media::PartTags PartTagsOf(const Sequence& sequence);

}  // namespace tavhost

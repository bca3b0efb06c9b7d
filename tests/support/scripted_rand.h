// A rand() for the bundles whose values can be scripted one by one and whose
// calls are counted: served to every bundle (bundle_random.h) from the first
// ResetRand() on.
#pragma once

#include <cstdint>
#include <vector>

namespace tavtest {

// Values handed out before the generator takes over again.
void ScriptRand(std::vector<int32_t> values);
// Every value handed out is `value` until changed (-1 returns to the generator).
void FixRand(int32_t value);
int RandCalls();
// Starts over with `seed`, and serves this rand() to the bundles from now on.
void ResetRand(uint64_t seed = 1);

}  // namespace tavtest

// The test program defines rand() itself, so every call a bundle makes lands
// here: values can be scripted one by one and the calls counted.
#pragma once

#include <cstdint>
#include <vector>

namespace tavtest {

// Values handed out before the generator takes over again.
void ScriptRand(std::vector<int32_t> values);
// Every value handed out is `value` until changed (-1 returns to the generator).
void FixRand(int32_t value);
int RandCalls();
void ResetRand(uint64_t seed = 1);

}  // namespace tavtest

#include "scripted_rand.h"

#include <deque>

#include "bundle_random.h"

namespace {

std::deque<int32_t> gScript;
int32_t gFixed = -1;
int gCalls = 0;
uint64_t gState = 1;

// Values 0..2147483647, like the platform generator.
int ScriptedRand() {
    ++gCalls;
    if (!gScript.empty()) {
        const int32_t v = gScript.front();
        gScript.pop_front();
        return v;
    }
    if (gFixed >= 0) return gFixed;
    gState = gState * 6364136223846793005ull + 1442695040888963407ull;
    return int(gState >> 33);
}

}  // namespace

namespace tavtest {

void ScriptRand(std::vector<int32_t> values) {
    gScript.assign(values.begin(), values.end());
}
void FixRand(int32_t value) {
    gFixed = value;
}
int RandCalls() {
    return gCalls;
}

void ResetRand(uint64_t seed) {
    gScript.clear();
    gFixed = -1;
    gCalls = 0;
    gState = seed;
    tavhost::ServeBundleRand(&ScriptedRand);
}

}  // namespace tavtest

#include "bundle_random.h"

#include <atomic>
#include <cstdlib>

#include "random_sequence.h"

namespace tavhost {

namespace {

// Set up at compile time, so a thread's first use needs no initialisation check.
constinit thread_local RandomSequence tSequence{1};
std::atomic<int (*)()> gServed{nullptr};
std::atomic<bool> gUnbound{false};

int Rand() {
    if (int (*next)() = gServed.load(std::memory_order_relaxed)) return next();
    return tSequence.Next();
}

void Srand(unsigned seed) {
    tSequence.Seed(seed);
}

}  // namespace

void SeedBundleRandom(uint32_t seed) {
    tSequence.Seed(seed);
    if (gUnbound.load(std::memory_order_relaxed)) std::srand(seed);
}

RandFunction BundleRand() {
    return &Rand;
}

SrandFunction BundleSrand() {
    return &Srand;
}

void ServeBundleRand(int (*next)()) {
    gServed.store(next, std::memory_order_relaxed);
}

void NoteUnboundBundle() {
    gUnbound.store(true, std::memory_order_relaxed);
}

bool BundlesHaveOwnRandom() {
    return !gUnbound.load(std::memory_order_relaxed);
}

}  // namespace tavhost

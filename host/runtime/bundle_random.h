// The rand() and srand() the bundles call. Each bundle's imports of them are
// bound at load to these (import_binding.h), so a bundle's decisions come
// from a sequence of the host's own: one per thread, the C library's numbers
// without its lock, seeded only by the host, never disturbed by (nor
// disturbing) anything else in the process that uses rand(). A host that
// renders on several threads seeds and draws each frame on one thread.
#pragma once

#include <cstdint>

namespace tavhost {

// Starts this thread's sequence as srand(seed) starts the C library's.
void SeedBundleRandom(uint32_t seed);

// The functions the bundles' rand() and srand() are bound to: this copy
// of the runtime's own, whatever other copies the process holds.
using RandFunction = int (*)();
using SrandFunction = void (*)(unsigned);
RandFunction BundleRand();
SrandFunction BundleSrand();

// From now on every bundle's rand() returns `next()` instead (null: the
// sequence again), process-wide: for a test that scripts the decisions.
void ServeBundleRand(int (*next)());

// A bundle whose imports could not be bound calls the C library's rand():
// noted so that SeedBundleRandom seeds that one too.
void NoteUnboundBundle();
// No bundle loaded so far calls the C library's rand().
bool BundlesHaveOwnRandom();

}  // namespace tavhost

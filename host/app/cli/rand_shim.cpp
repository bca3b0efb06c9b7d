// rand() and srand() for the plug-ins this program loads: the C library's
// sequence without its lock. Linked into programs only, and exported, so
// the bundles' calls land here. A thread that never called srand() gets the
// C library's own rand(), so other threads never share this state.
#include <dlfcn.h>

#include "random_sequence.h"

namespace {

thread_local bool tSeeded = false;
thread_local tavhost::RandomSequence tSequence;

int LibraryRand() {
    using Rand = int (*)();
    static const Rand next = reinterpret_cast<Rand>(dlsym(RTLD_NEXT, "rand"));
    return next ? next() : 0;
}

}  // namespace

extern "C" {

void srand(unsigned seed) {
    tSequence.Seed(seed);
    tSeeded = true;
}

int rand() {
    return tSeeded ? tSequence.Next() : LibraryRand();
}

}  // extern "C"

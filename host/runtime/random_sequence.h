// The C library's rand() sequence, computed without its lock: the same
// numbers glibc gives after srand(seed) (its additive feedback generator,
// x[i] = x[i-3] + x[i-31], seeded by a Lehmer generator and warmed up by 310
// draws), for a host that serves rand() to plug-ins from one thread.
#pragma once

#include <cstdint>

namespace tavhost {

class RandomSequence {
  public:
    constexpr explicit RandomSequence(uint32_t seed = 1) { Seed(seed); }

    constexpr void Seed(uint32_t seed) {
        state_[0] = int32_t(seed == 0 ? 1 : seed);
        for (int i = 1; i < kDegree; ++i) {
            // 16807 * previous mod (2^31 - 1), without overflowing 32 bits.
            const int32_t hi = state_[i - 1] / 127773, lo = state_[i - 1] % 127773;
            int32_t word = 16807 * lo - 2836 * hi;
            if (word < 0) word += 2147483647;
            state_[i] = word;
        }
        front_ = kSeparation;
        rear_ = 0;
        for (int i = 0; i < 10 * kDegree; ++i) Next();
    }

    // The next number, 0 to 2^31 - 1.
    constexpr int Next() {
        const uint32_t value = uint32_t(state_[front_]) + uint32_t(state_[rear_]);
        state_[front_] = int32_t(value);
        front_ = front_ + 1 == kDegree ? 0 : front_ + 1;
        rear_ = rear_ + 1 == kDegree ? 0 : rear_ + 1;
        return int(value >> 1);
    }

  private:
    static constexpr int kDegree = 31, kSeparation = 3;
    int32_t state_[kDegree] = {};
    int front_ = kSeparation, rear_ = 0;
};

}  // namespace tavhost
